#!/usr/bin/env bash
# Signing a release as release engineers do it, with test certificates made here (never a real key
# in the repository):
#   sign_launcher_test.sh PACKER-TOOLS INSPECTOR LAUNCHER I686-LAUNCHER|- WINE-RUN WINDOWS-INSPECTOR|- WORKDIR
# Signs this build's launcher (demo payload) and checks the signature with osslsigncode and the
# inspector; a launcher changed after signing fails both; a wrong password, a missing file and a
# certificate not for code signing each fail with a message and leave nothing at the output path;
# the password never reaches a command line, the output or a trace. Leaves signed-x86_64.exe (and
# signed-i686.exe) in WORKDIR for the Wine runs (signed_launcher_run_test.cpp).
set -u
. "$(dirname "$0")/../support/failure_count.sh"
tools="$1"; inspector="$2"; launcher="$3"; launcher_i686="$4"; wine_run="$5"; windows_inspector="$6"; work="$7"
rm -rf "$work"; mkdir -p "$work"; cd "$work" || exit 2
sign="$tools/sign-launcher.sh"
# Quotes, a dollar sign and spaces: a password that any unquoted use would mangle.
password='Qarv test "pass" $HOME 2009'

# --- Test certificates ------------------------------------------------------------------------
# certificate NAME EXTENDED-KEY-USAGE SUBJECT: NAME.pfx (key and certificate) and NAME.pem.
certificate() {
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 30 -subj "$3" \
    -addext "extendedKeyUsage=$2" -addext "keyUsage=digitalSignature" 2>/dev/null &&
  TEST_PASSWORD="$password" openssl pkcs12 -export -in "$1.pem" -inkey "$1.key" -out "$1.pfx" -passout env:TEST_PASSWORD -name "$1" &&
  rm -f "$1.key"
}
certificate signing codeSigning '/C=VN/O=Qarv Test/CN=Qarv Test Signing' || fail "openssl could not make the test certificate"
certificate server serverAuth '/C=VN/O=Qarv Test/CN=Qarv Test Server' || fail "openssl could not make the server certificate"
fingerprint=$(openssl x509 -in signing.pem -noout -fingerprint -sha256 | sed 's/^.*=//')
subject='CN=Qarv Test Signing, O=Qarv Test, C=VN'
printf '%s\n' "$password" > password.txt

# Stand-ins, ahead of the real programs on PATH, for every program the signing and release commands
# run: each refuses to run (and says so in password-seen.log) when the password reaches it in its
# environment or its arguments, records its command line, and runs the real program. cmake only
# pretends: the build's launcher is this build's unsigned one.
mkdir spy
for tool in osslsigncode openssl mktemp realpath dirname basename rm cat grep sed tr date git chmod mv mkdir head \
            nproc dpkg-query apt-get cmake; do
  real=$(command -v $tool) || continue
  {
    echo '#!/bin/sh'
    echo "if /usr/bin/env | $(command -v grep) -qF -f '$work/password.txt' ||"
    echo "   printf '%s\\n' \"\$@\" | $(command -v grep) -qF -f '$work/password.txt'; then"
    echo "  echo $tool >> '$work/password-seen.log'; echo '$tool: the password reached this program' >&2; exit 97"
    echo "fi"
    echo "printf '%s\\n' \"$tool \$*\" >> '$work/command-lines.log'"
    if [ $tool = cmake ]; then
      echo "case \" \$* \" in"
      echo "  *' --target qarv_payload '*) echo 'qarv-packer: (the build is played by a stand-in)' ;;"
      echo "  *' --target launcher '*) $real -E make_directory \"\$2/bin\" &&"
      echo "    $real -E copy '$work/unsigned.exe' \"\$2/bin/QarvPro 2009 Setup.exe\" ;;"
      echo "esac"
    else
      echo "exec '$real' \"\$@\""
    fi
  } > spy/$tool
  chmod +x spy/$tool
done
# Variables of the names the commands keep the password in, exported by the caller: a command that
# assigns the password to one without removing its export hands it to every program it runs.
spied() { PATH="$work/spy:$PATH" password=decoy sign_password=decoy "$@"; }
# seen: fails when the password reached any program through the stand-ins.
seen() { [ ! -s password-seen.log ] || fail "$1: the password reached $(sort -u password-seen.log | tr '\n' ' ')"; rm -f password-seen.log; }
# leaks FILE...: the password in any of them.
leaks() { grep -F -l -- "$password" "$@" 2>/dev/null; }

# --- Signing ----------------------------------------------------------------------------------
cp "$launcher" unsigned.exe
# Traced as bash -x traces every script it starts (SHELLOPTS=xtrace): the trace never shows the password.
QARV_SIGN_PASSWORD="$password" SOURCE_DATE_EPOCH=1237192200 spied env SHELLOPTS=xtrace "$sign" signing.pfx unsigned.exe \
  signed-x86_64.exe >sign.out 2>sign.err || fail "signing failed: $(cat sign.err)"
cat sign.out
grep -q '^+.* osslsigncode sign ' sign.err || fail "the signing command was not traced: $(head -n 5 sign.err)"
# The signed file is written into a folder of a name no one can foresee, made by mktemp beside it.
grep -q '^mktemp -d .*\./\.signed-x86_64\.exe\.XXX' command-lines.log ||
  fail "the temporary folder beside the output is not made by mktemp: $(grep '^mktemp' command-lines.log)"
grep -qx "  signed by    $subject" sign.out || fail "the report does not name the signer: $(cat sign.out)"
grep -qx "  certificate  SHA-256 $fingerprint" sign.out || fail "the report does not give the certificate's fingerprint $fingerprint"
grep -q 'no timestamp (signing time 2009-03-16 08:30:00 UTC)' sign.out || fail "the signing time is not SOURCE_DATE_EPOCH's"
grep -q '^osslsigncode sign ' command-lines.log || fail "osslsigncode was not run through the recording stand-in"
leaks sign.out sign.err command-lines.log && fail "the password appears in the output or on a command line"
cmp -s unsigned.exe "$launcher" || fail "signing into another file changed the unsigned launcher"
seen "signing"

osslsigncode verify -CAfile signing.pem -in signed-x86_64.exe >verify.txt 2>&1 || fail "osslsigncode verify fails: $(cat verify.txt)"
grep -q '^Signature verification: ok' verify.txt || fail "osslsigncode does not report the signature ok"
grep -q 'Text description: QarvPro 2009 Setup' verify.txt || fail "the product name is not in the signature"
grep -q 'URL description: https://' verify.txt || fail "no URL in the signature"
grep -q 'Message digest algorithm *: SHA256' verify.txt || fail "not a SHA-256 signature"

# The same launcher, key and time give the same signed file, with the password from a file.
SOURCE_DATE_EPOCH=1237192200 spied "$sign" --password-file password.txt signing.pfx unsigned.exe again.exe \
  >again.out 2>&1 || fail "signing with --password-file failed: $(cat again.out)"
cmp -s signed-x86_64.exe again.exe || fail "signing the same launcher twice gave different files"

# The signature sits after the image: the payload and its offsets are untouched.
"$inspector" --offsets unsigned.exe > offsets-unsigned.txt
"$inspector" --offsets signed-x86_64.exe > offsets-signed.txt
cmp -s offsets-unsigned.txt offsets-signed.txt || fail "the payload moved: $(cat offsets-unsigned.txt offsets-signed.txt)"
offset=$(sed -n 's/^payload_offset=//p' offsets-signed.txt)
size=$(sed -n 's/^payload_size=//p' offsets-signed.txt)
cmp -s <(tail -c +$((offset + 1)) unsigned.exe | head -c "$size") <(tail -c +$((offset + 1)) signed-x86_64.exe | head -c "$size") ||
  fail "the payload's bytes changed"

# --- The inspector ----------------------------------------------------------------------------
"$inspector" unsigned.exe >unsigned.txt 2>&1 || fail "inspector on the unsigned launcher: $(cat unsigned.txt)"
grep -qx '  signature none (no certificate table)' unsigned.txt || fail "the unsigned launcher is not reported unsigned"
"$inspector" signed-x86_64.exe >signed.txt 2>&1 || fail "inspector on the signed launcher: exit $?: $(cat signed.txt)"
cat signed.txt
table_size=$(( $(stat -c %s signed-x86_64.exe) - $(stat -c %s unsigned.exe) ))
grep -Eq "^  signature certificate table, [0-9]+ bytes at file offset 0x" signed.txt || fail "no certificate table reported"
grep -q 'Authenticode, SHA-256, no timestamp' signed.txt || fail "the signature is not reported as SHA-256 without timestamp"
grep -qx "            signer       $subject" signed.txt || fail "the inspector does not name the signer $subject"
grep -qx "            certificate  SHA-256 $fingerprint" signed.txt || fail "the inspector's fingerprint is not openssl's"
signed_digest=$(sed -n 's/^Current message digest *: \([0-9A-F]*\).*/\1/p' verify.txt)
grep -qx "            digest       matches the file ($signed_digest)" signed.txt ||
  fail "the inspector's digest is not osslsigncode's $signed_digest"
[ "$table_size" -gt 0 ] || fail "the signed launcher is no larger than the unsigned one"

# expect_tampered FILE: osslsigncode verify fails and the inspector exits 9 saying so.
expect_tampered() {
  osslsigncode verify -CAfile signing.pem -in "$1" >tampered-verify.txt 2>&1 && fail "$1: osslsigncode verify passes"
  "$inspector" "$1" >tampered.txt 2>tampered.err; got=$?
  [ $got = 9 ] || fail "$1: inspector exit $got, expected 9: $(cat tampered.err)"
  grep -q 'digest       DOES NOT MATCH' tampered.txt || fail "$1: the inspector does not say the digest does not match"
  grep -q 'changed after signing' tampered.err || fail "$1: no message on standard error: $(cat tampered.err)"
}
# One byte of the payload changed after signing.
cp signed-x86_64.exe payload-byte.exe
byte=$(od -An -tu1 -j $((offset + size / 2)) -N1 payload-byte.exe | tr -d ' ')
printf "\\$(printf '%03o' $(( (byte + 1) % 256 )))" | dd of=payload-byte.exe bs=1 seek=$((offset + size / 2)) conv=notrunc 2>/dev/null
cmp -s payload-byte.exe signed-x86_64.exe && fail "the payload byte was not changed"
expect_tampered payload-byte.exe
# The signed content changed instead of the file (the "<<<Obsolete>>>" text of the signed data).
python3 - signed-x86_64.exe signed-content.exe <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
at = data.rfind('<<<Obsolete>>>'.encode('utf-16-be'))
data[at + 1] = ord('(')
open(sys.argv[2], 'wb').write(data)
PY
expect_tampered signed-content.exe
# Cut inside the certificate table: a table the inspector cannot read.
head -c $(( $(stat -c %s signed-x86_64.exe) - 100 )) signed-x86_64.exe > cut-signature.exe
"$inspector" cut-signature.exe >cut.txt 2>cut.err; got=$?
[ $got = 10 ] || fail "cut signature: inspector exit $got, expected 10: $(cat cut.err)"
grep -q 'runs past the end of the file' cut.err || fail "cut signature: $(cat cut.err)"

# The certificate table damaged at random, byte by byte or cut short: a defined status, never a
# crash or a hang (0 stays possible: the signer's RSA signature bytes are not checked here).
table_offset=$(( $(stat -c %s signed-x86_64.exe) - table_size ))
python3 - signed-x86_64.exe "$table_offset" <<'PY' || fail "damaged copies could not be made"
import random, sys
data = open(sys.argv[1], 'rb').read()
table = int(sys.argv[2])
rng = random.Random(2009)
for n in range(120):
    damaged = bytearray(data)
    for _ in range(rng.randrange(1, 4)):
        damaged[rng.randrange(table, len(data))] = rng.randrange(256)
    open('fuzz-table-%03d.exe' % n, 'wb').write(damaged)
for n, cut in enumerate(sorted(rng.sample(range(table, len(data)), 30))):
    open('fuzz-cut-%03d.exe' % n, 'wb').write(data[:cut])
PY
for copy in fuzz-*.exe; do
  timeout 20 "$inspector" "$copy" >fuzz.out 2>fuzz.err; got=$?
  case "$got" in
    0) grep -q 'digest       matches the file' fuzz.out || fail "$copy: exit 0 without a matching digest" ;;
    9|10) [ -s fuzz.err ] || fail "$copy: exit $got without a message" ;;
    *) fail "$copy: exit $got (crash or hang): $(cat fuzz.err)" ;;
  esac
done
rm -f fuzz-*.exe

# The Windows console build of the inspector reports the same.
if [ "$windows_inspector" != - ]; then
  for file in unsigned.exe signed-x86_64.exe payload-byte.exe signed-content.exe cut-signature.exe; do
    "$inspector" "$file" >host.out 2>/dev/null; host_status=$?
    "$wine_run" "$windows_inspector" "$file" 2>/dev/null | tr -d '\r' >windows.out; windows_status=${PIPESTATUS[0]}
    [ "$windows_status" = "$host_status" ] || fail "$file: the Windows build exits $windows_status, the host build $host_status"
    cmp -s host.out windows.out || { fail "$file: the Windows build's report differs"; diff host.out windows.out; }
  done
fi

# --- Refusals: a message, a non-zero exit, nothing at the output path --------------------------
# refused WORD COMMAND...: run with the unsigned launcher copied to in.exe and a stale out.exe.
refused() {
  word="$1"; shift
  cp unsigned.exe in.exe; printf 'stale' > out.exe
  spied "$@" >refused.out 2>refused.err; got=$?
  [ $got != 0 ] || fail "$*: exit 0"
  grep -qi -- "$word" refused.err || fail "$*: the message lacks '$word': $(cat refused.err)"
  [ ! -e out.exe ] || fail "$*: a file is left at the output path"
  ls -a | grep -q '\.signing$' && fail "$*: a temporary file is left behind"
  leaks refused.out refused.err command-lines.log && fail "$*: the password appears in the output or on a command line"
}
refused 'wrong password' env QARV_SIGN_PASSWORD="wrong $password" "$sign" signing.pfx in.exe out.exe
refused 'no such certificate' env QARV_SIGN_PASSWORD="$password" "$sign" missing.pfx in.exe out.exe
refused 'not for code signing' env QARV_SIGN_PASSWORD="$password" "$sign" server.pfx in.exe out.exe
refused 'no password' env -u QARV_SIGN_PASSWORD "$sign" signing.pfx in.exe out.exe
refused 'cannot read the password file' "$sign" --password-file missing.txt signing.pfx in.exe out.exe
# A password on the command line is a usage error, refused before anything is read.
"$sign" --password "$password" signing.pfx in.exe out.exe >refused.out 2>refused.err; got=$?
[ $got = 2 ] || fail "--password: exit $got, expected 2"
grep -q 'never given on the command line' refused.err || fail "--password: $(cat refused.err)"
refused 'no such launcher' env QARV_SIGN_PASSWORD="$password" "$sign" signing.pfx missing.exe out.exe
# A timestamp server that does not answer (nothing listens on this machine's discard port).
refused 'could not sign' env QARV_SIGN_PASSWORD="$password" "$sign" --timestamp http://127.0.0.1:9/ signing.pfx in.exe out.exe
seen "the refusals"
# No signing time: neither SOURCE_DATE_EPOCH nor a commit to take it from (git fails), and no
# timestamp server. The current time would make every signing different.
mkdir nogit && printf '#!/bin/sh\necho "fatal: not a git repository" >&2\nexit 128\n' > nogit/git && chmod +x nogit/git
refused 'SOURCE_DATE_EPOCH' env -u SOURCE_DATE_EPOCH PATH="$work/nogit:$work/spy:$PATH" QARV_SIGN_PASSWORD="$password" \
  "$sign" signing.pfx in.exe out.exe
grep -q 'commit' refused.err || fail "no signing time: the message does not name the commit time: $(cat refused.err)"
# Signing in place that fails, early (a wrong password) or late (osslsigncode fails), leaves the
# launcher as it was.
in_place_fails() {  # in_place_fails WHAT COMMAND...
  what="$1"; shift
  cp unsigned.exe in-place.exe
  "$@" >/dev/null 2>&1 && fail "in place, $what: exit 0"
  cmp -s in-place.exe unsigned.exe || fail "in place, $what: the launcher was removed or changed"
  ls -a | grep -q '\.signing$' && fail "in place, $what: a temporary file is left behind"
}
in_place_fails "a wrong password" env QARV_SIGN_PASSWORD=wrong "$sign" signing.pfx in-place.exe
in_place_fails "no timestamp server" env QARV_SIGN_PASSWORD="$password" "$sign" --timestamp http://127.0.0.1:9/ \
  signing.pfx in-place.exe

# The release command checks the certificate before it builds: nothing is built, nothing is left.
mkdir release
QARV_RELEASE_DIR="$work/release" QARV_SIGN_PASSWORD="wrong $password" \
  "$tools/build-launcher.sh" "$work/spy" osslsigncode --sign signing.pfx >release.out 2>&1 &&
  fail "build-launcher.sh with a wrong password: exit 0"
grep -q 'wrong password' release.out || fail "build-launcher.sh with a wrong password: $(cat release.out)"
[ ! -e "release/bin/QarvPro 2009 Setup.exe" ] || fail "build-launcher.sh left a launcher after refusing to sign"
leaks release.out && fail "build-launcher.sh printed the password"
[ ! -e release/CMakeCache.txt ] || fail "build-launcher.sh built before it checked the certificate"
# The release command end to end, its build played by the cmake stand-in: the password reaches no
# program but openssl and osslsigncode (on their standard input), and the launcher is signed.
# Traced, the release command and the signing command it runs: the trace never shows the password.
QARV_RELEASE_DIR="$work/release" QARV_SIGN_PASSWORD="$password" SOURCE_DATE_EPOCH=1237192200 \
  spied env SHELLOPTS=xtrace "$tools/build-launcher.sh" "$work/spy" osslsigncode --sign signing.pfx --msi >release.out 2>&1 ||
  fail "build-launcher.sh: $(cat release.out)"
grep -q '^+* *sign_password_given=1' release.out || fail "the release command was not traced"
leaks release.out && fail "the traced release command printed the password"
grep -q '^cmake --build .* --target launcher' command-lines.log || fail "build-launcher.sh did not reach the build"
osslsigncode verify -CAfile signing.pem -in "release/bin/QarvPro 2009 Setup.exe" >/dev/null 2>&1 ||
  fail "build-launcher.sh did not leave a signed launcher"
# With --msi, the package beside the launcher, signed too; both signatures reported.
osslsigncode verify -CAfile signing.pem -in "release/bin/QarvPro 2009 Setup.msi" >/dev/null 2>&1 ||
  fail "build-launcher.sh --msi did not leave a signed package"
[ "$(grep -c '^  signature    Authenticode SHA-256, verified' release.out)" = 2 ] ||
  fail "build-launcher.sh --msi does not report both signatures"
seen "build-launcher.sh"
# Signing that fails after the build leaves no launcher, not even the unsigned one.
QARV_RELEASE_DIR="$work/release" QARV_SIGN_PASSWORD="$password" SOURCE_DATE_EPOCH=1237192200 \
  spied "$tools/build-launcher.sh" "$work/spy" osslsigncode --sign signing.pfx --timestamp http://127.0.0.1:9/ --msi \
  >release.out 2>&1 && fail "build-launcher.sh with an unreachable timestamp server: exit 0"
[ ! -e "release/bin/QarvPro 2009 Setup.exe" ] || fail "build-launcher.sh left the unsigned launcher after signing failed"
[ ! -e "release/bin/QarvPro 2009 Setup.msi" ] || fail "build-launcher.sh left a package after signing failed"
seen "build-launcher.sh, signing failed"
# No signing time: the release command stops before it builds.
env -u SOURCE_DATE_EPOCH PATH="$work/nogit:$work/spy:$PATH" QARV_RELEASE_DIR="$work/release-untimed" \
  QARV_SIGN_PASSWORD="$password" "$tools/build-launcher.sh" "$work/spy" osslsigncode --sign signing.pfx \
  >release.out 2>&1 && fail "build-launcher.sh without a signing time: exit 0"
grep -q 'SOURCE_DATE_EPOCH' release.out || fail "build-launcher.sh without a signing time: $(cat release.out)"
[ ! -e release-untimed.configure.log ] || fail "build-launcher.sh built before it found no signing time"
seen "build-launcher.sh, no signing time"

# --- The launcher that ships ------------------------------------------------------------------
if [ "$launcher_i686" != - ]; then
  QARV_SIGN_PASSWORD="$password" "$sign" signing.pfx "$launcher_i686" signed-i686.exe >i686.out 2>&1 ||
    fail "signing the i686 launcher failed: $(cat i686.out)"
  osslsigncode verify -CAfile signing.pem -in signed-i686.exe >verify-i686.txt 2>&1 ||
    fail "osslsigncode verify fails on the i686 launcher"
  "$inspector" signed-i686.exe >signed-i686.txt 2>&1 || fail "inspector on the signed i686 launcher: $(cat signed-i686.txt)"
  grep -q 'image     PE32, i386' signed-i686.txt || fail "the signed i686 launcher is not PE32"
  grep -q 'digest       matches the file' signed-i686.txt || fail "the signed i686 launcher's digest does not match"
fi

finish "signing"
