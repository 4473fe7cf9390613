#!/usr/bin/env bash
# The Windows Installer packages of a release, built as the release command builds them:
#   msi_test.sh PACKER-TOOLS INSPECTOR LAUNCHER I686-LAUNCHER|- WORKDIR
# Each package is built by build-msi.sh around a signed launcher, signed (SHA-256) and timestamped
# by the local authority, and verifies; its properties make a newer version replace an older one;
# a package whose custom action wixl got wrong is refused. Leaves x86_64.msi, failing.msi (a
# launcher whose payload was changed, which fails its run) and i686.msi in WORKDIR for the runs
# under msiexec (signed_launcher_run_test.cpp, MsiPackage.*).
set -u
. "$(dirname "$0")/../support/failure_count.sh"
. "$(dirname "$0")/../support/timestamp_authority.sh"
tools="$1"; inspector="$2"; launcher="$3"; launcher_i686="$4"; work="$5"
rm -rf "$work"; mkdir -p "$work"; cd "$work" || exit 2
export QARV_SIGN_PASSWORD='Qarv package test'
export QARV_TIMESTAMP_SECONDS=10
tsa_start "$work/authority" || { fail "the local timestamp authority did not start: $(cat authority/*.log)"; finish msi; }
tsa_signing_certificate || fail "openssl could not make the signing certificate"
sign() { "$tools/sign-launcher.sh" --ca-file "$tsa_root" --timestamp "$tsa_url" signing.pfx "$@"; }
# property PACKAGE NAME: a row of the package's Property table.
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v name="$2" '$1 == name { print $2 }'; }

# package NAME LAUNCHER: signs the launcher, builds NAME.msi around it and signs that.
package() {
  cp "$2" "$1.exe" && sign "$1.exe" >"$1-exe.out" 2>&1 || { fail "$1: signing the launcher failed: $(cat "$1-exe.out")"; return; }
  "$tools/build-msi.sh" "$1.exe" "$1.msi" >"$1-msi.out" 2>&1 || { fail "$1: build-msi.sh failed: $(cat "$1-msi.out")"; return; }
  sign "$1.msi" >"$1-sign.out" 2>&1 || { fail "$1: signing the package failed: $(cat "$1-sign.out")"; return; }
  grep -q "timestamped by $tsa_url at " "$1-sign.out" || fail "$1: the package's signature is not timestamped: $(cat "$1-sign.out")"
  osslsigncode verify -CAfile signing.pem -TSA-CAfile "$tsa_root" -ignore-crl -in "$1.msi" >"$1-verify.txt" 2>&1 ||
    fail "$1: the package's signature does not verify: $(cat "$1-verify.txt")"
  grep -q 'Message digest algorithm *: SHA256' "$1-verify.txt" || fail "$1: the package is not signed with SHA-256"
  grep -q '^Number of verified signatures: 1$' "$1-verify.txt" || fail "$1: the package carries more than one signature"
}
package x86_64 "$launcher"
cat x86_64-msi.out x86_64-sign.out
[ "$launcher_i686" = - ] || package i686 "$launcher_i686"

# A launcher whose payload changed after it was built: its run fails (message 500, exit code 1603).
offsets=$("$inspector" --offsets "$launcher")
offset=$(sed -n 's/^payload_offset=//p' <<<"$offsets"); size=$(sed -n 's/^payload_size=//p' <<<"$offsets")
cp "$launcher" failing-launcher.exe
printf '\377\376\375\374\373\372\371\370' | dd of=failing-launcher.exe bs=1 seek=$((offset + size / 2)) conv=notrunc 2>/dev/null
"$tools/build-msi.sh" failing-launcher.exe failing.msi >failing.out 2>&1 || fail "the failing package: $(cat failing.out)"

# In Add/Remove Programs: the product's name, version, manufacturer and the launcher's icon, for
# every user of the machine. Another version keeps the UpgradeCode and gets its own ProductCode.
[ "$(property x86_64.msi ALLUSERS)" = 1 ] || fail "the package is not per-machine"
[ "$(property x86_64.msi ProductName)" = "QarvPro 2009 Internet Security Setup" ] || fail "ProductName: $(property x86_64.msi ProductName)"
[ "$(property x86_64.msi Manufacturer)" = Qarv ] || fail "Manufacturer: $(property x86_64.msi Manufacturer)"
[ "$(property x86_64.msi ProductVersion)" = 1.0.0 ] || fail "ProductVersion: $(property x86_64.msi ProductVersion)"
[ -n "$(property x86_64.msi ARPPRODUCTICON)" ] && msiinfo export x86_64.msi Icon | grep -q "^$(property x86_64.msi ARPPRODUCTICON)" ||
  fail "no icon for Add/Remove Programs"
"$tools/build-msi.sh" --version 1.0.1 x86_64.exe newer.msi >newer.out 2>&1 || fail "--version 1.0.1: $(cat newer.out)"
[ "$(property newer.msi UpgradeCode)" = "$(property x86_64.msi UpgradeCode)" ] || fail "a newer version changed the UpgradeCode"
[ "$(property newer.msi ProductCode)" != "$(property x86_64.msi ProductCode)" ] || fail "a newer version kept the ProductCode"
msiinfo export newer.msi Upgrade | grep -q 'WIX_UPGRADE_DETECTED' || fail "the newer package does not replace older ones"
"$tools/build-msi.sh" --version 1.0 x86_64.exe bad-version.msi >bad-version.out 2>&1 && fail "--version 1.0: exit 0"
[ ! -e bad-version.msi ] || fail "--version 1.0 left a package"

# wixl's known faults, played by a stand-in that changes the source before the real wixl builds it:
# each must fail the build and leave no package.
mkdir -p stand-in
real_wixl=$(command -v wixl)
while IFS='|' read -r what edit; do
  printf '#!/bin/sh\nsed -i %q package.wxs && exec %q "$@"\n' "$edit" "$real_wixl" >stand-in/wixl
  chmod +x stand-in/wixl
  PATH="$work/stand-in:$PATH" "$tools/build-msi.sh" x86_64.exe wrong.msi >wrong.out 2>&1 && fail "$what: build-msi.sh exit 0"
  grep -q 'wixl did not build the package meant' wrong.out || fail "$what: $(cat wrong.out)"
  [ ! -e wrong.msi ] || fail "$what: a package is left"
done <<'EOF'
the action placed after InstallFinalize|s/Sequence="5900"/After="InstallFinalize"/
the action placed before InstallInitialize|s/Sequence="5900"/Sequence="1402"/
the action impersonating the user|s/Impersonate="no"/Impersonate="yes"/
the action's exit code ignored|s/Return="check"/Return="ignore"/
the action run at removal too|s/>NOT REMOVE~="ALL"</></
EOF
tsa_stop
finish "msi"
