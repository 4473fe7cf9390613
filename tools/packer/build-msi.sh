#!/usr/bin/env bash
# Wraps a built launcher in a Windows Installer package that Group Policy can assign to computers:
#
#   tools/packer/build-msi.sh [--version X.Y.Z] LAUNCHER.exe OUTPUT.msi
#
# The package is per-machine (ALLUSERS=1). It installs the launcher as
# "[ProgramFilesFolder]QarvPro 2009 Setup\QarvPro 2009 Setup.exe" and runs it once the file is in
# place, by a deferred custom action without impersonation (type 3090: as the local system account,
# in the installation's own session, with nobody at its window); the launcher's exit code decides
# the installation's (0 succeeds, any other code fails it and rolls it back). Removing the package
# removes the launcher and its folder, nothing of the product. The version defaults to the first
# three numbers of the launcher's PRODUCTVERSION (res/launcher.rc); each version gets a ProductCode
# of its own, and the UpgradeCode stays, so a newer package replaces an older one. The package is
# not signed here: the release command (build-launcher.sh --msi --sign) signs it.
#
# wixl places custom actions unreliably, so every action of ours carries an explicit sequence
# number and the built package's CustomAction and InstallExecuteSequence tables are read back
# (msiinfo export); a package whose tables are not the ones meant is removed and the command fails.
set -euo pipefail
QARV_ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
readonly kUpgradeCode="3275FC55-FE4E-4335-BA4A-A6C009358C58"
readonly kComponentGuid="3B1770D7-5FB6-4119-8FCD-DE065658C059"
readonly kActionSequence=5900  # after InstallFiles (4000), before InstallFinalize (6600)

usage() { sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
die() { echo "build-msi: $*" >&2; exit 1; }

version=""
positional=()
while [ $# -gt 0 ]; do
    case "$1" in
        --version) [ $# -ge 2 ] || usage; version="$2"; shift 2 ;;
        -h|--help) usage ;;
        -*) echo "build-msi: unknown option $1" >&2; usage ;;
        *) positional+=("$1"); shift ;;
    esac
done
[ ${#positional[@]} -eq 2 ] || usage
launcher="${positional[0]}" output="${positional[1]}"
[ -f "$launcher" ] || die "no such launcher: $launcher"
if [ -z "$version" ]; then
    version=$(sed -n 's/^ *PRODUCTVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3/p' "$QARV_ROOT/res/launcher.rc")
fi
# Windows Installer compares the first three fields: major and minor to 255, build to 65535.
[[ "$version" =~ ^([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,5})$ ]] && [ "${BASH_REMATCH[1]}" -le 255 ] &&
    [ "${BASH_REMATCH[2]}" -le 255 ] && [ "${BASH_REMATCH[3]}" -le 65535 ] ||
    die "not a package version (major.minor.build, at most 255.255.65535): '$version'"
command -v wixl >/dev/null && command -v msiinfo >/dev/null ||
    die "wixl and msiinfo are missing: install Debian's wixl and msitools (scripts/lib.sh installs them)"
# The same version always gets the same ProductCode; another version, another one. Without this
# script's shell options: under an exported SHELLOPTS (a traced release) a python3 that is itself a
# shell script (a version manager's shim) would run with this script's nounset.
product_code=$(env -u SHELLOPTS python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), "ProductCode " + sys.argv[2])).upper())' \
    "$kUpgradeCode" "$version")

work=$(mktemp -d "${TMPDIR:-/tmp}/qarv-msi.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Copied under plain names, so that no path needs quoting in the source.
cp "$launcher" "$work/launcher.exe"
cp "$QARV_ROOT/res/shield.ico" "$work/launcher.ico"
cat >"$work/package.wxs" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$product_code" UpgradeCode="$kUpgradeCode" Name="QarvPro 2009 Internet Security Setup"
           Version="$version" Manufacturer="Qarv" Language="1033">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"
             Description="Installs QarvPro 2009 Internet Security on this computer" Manufacturer="Qarv"/>
    <Media Id="1" Cabinet="launcher.cab" EmbedCab="yes"/>
    <MajorUpgrade DowngradeErrorMessage="A newer version of QarvPro 2009 Setup is already installed."/>
    <Icon Id="launcher.ico" SourceFile="launcher.ico"/>
    <Property Id="ARPPRODUCTICON" Value="launcher.ico"/>
    <Property Id="ARPNOMODIFY" Value="1"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLFOLDER" Name="QarvPro 2009 Setup">
          <Component Id="Launcher" Guid="$kComponentGuid">
            <File Id="LauncherExe" Name="QarvPro 2009 Setup.exe" Source="launcher.exe" KeyPath="yes"/>
            <!-- The launcher's own restart value, as it writes it: the package owns it too, so that
                 removing the package, or rolling back a failed install, never leaves a value that
                 names a launcher no longer there. -->
            <RegistryValue Root="HKLM" Key="SOFTWARE\Microsoft\Windows\CurrentVersion\Run" Name="QarvPro2009Setup"
                           Type="string" Value="&quot;[INSTALLFOLDER]QarvPro 2009 Setup.exe&quot;"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Launcher" Level="1"><ComponentRef Id="Launcher"/></Feature>
    <CustomAction Id="RunLauncher" FileKey="LauncherExe" ExeCommand="" Execute="deferred" Impersonate="no"
                  Return="check"/>
    <InstallExecuteSequence>
      <Custom Action="RunLauncher" Sequence="$kActionSequence">NOT REMOVE~="ALL"</Custom>
    </InstallExecuteSequence>
  </Product>
</Wix>
EOF
(cd "$work" && wixl -a x86 -o package.msi package.wxs) >"$work/wixl.log" 2>&1 ||
    { cat "$work/wixl.log" >&2; die "wixl could not build the package"; }

# The tables read back: one custom action, of type 3090 (an installed file run as a program,
# 18, deferred, 0x400, without impersonation, 0x800; its exit code checked), on the launcher's
# file, sequenced after InstallFiles and before InstallFinalize.
msiinfo export "$work/package.msi" CustomAction | sed -n '4,$p' | tr -d '\r' >"$work/actions.txt"
msiinfo export "$work/package.msi" InstallExecuteSequence | sed -n '4,$p' | tr -d '\r' >"$work/sequence.txt"
sequence_of() { awk -F'\t' -v action="$1" '$1 == action { print $3 }' "$work/sequence.txt"; }
problems=()
[ "$(cut -f1-3 "$work/actions.txt")" = "$(printf 'RunLauncher\t3090\tLauncherExe')" ] ||
    problems+=("CustomAction is not the one action RunLauncher, type 3090, on LauncherExe: $(tr '\t\n' ' ;' <"$work/actions.txt")")
run_at=$(sequence_of RunLauncher) files_at=$(sequence_of InstallFiles) finalize_at=$(sequence_of InstallFinalize)
initialize_at=$(sequence_of InstallInitialize)
if [ "$run_at" != "$kActionSequence" ]; then
    problems+=("RunLauncher is sequenced at '${run_at:-nowhere}', not $kActionSequence")
elif ! [ "${files_at:-0}" -gt "${initialize_at:-99999}" ] || ! [ "$run_at" -gt "$files_at" ] ||
        ! [ "$run_at" -lt "${finalize_at:-0}" ]; then
    problems+=("RunLauncher ($run_at) does not lie between InstallFiles (${files_at:-none}) and InstallFinalize" \
               "(${finalize_at:-none}) inside InstallInitialize (${initialize_at:-none})")
fi
msiinfo export "$work/package.msi" Registry | sed -n '4,$p' | tr -d '\r' |
    awk -F'\t' '$2 == 2 && $3 == "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run" && $4 == "QarvPro2009Setup" && $6 == "Launcher"' |
    grep -q . || problems+=("the Registry table does not give the launcher's component the restart value")
[ "$(awk -F'\t' '$1 == "RunLauncher" { print $2 }' "$work/sequence.txt")" = 'NOT REMOVE~="ALL"' ] ||
    problems+=("RunLauncher's condition is not 'NOT REMOVE~=\"ALL\"': the launcher would run when the package is removed")
if [ ${#problems[@]} -gt 0 ]; then
    printf 'build-msi: wixl did not build the package meant: %s\n' "${problems[@]}" >&2
    exit 1
fi
mkdir -p "$(dirname "$output")"
mv -f "$work/package.msi" "$output"
echo "  package      $output: version $version, ProductCode {$product_code}, runs the launcher at sequence $run_at"
