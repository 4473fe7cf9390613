#!/usr/bin/env bash
# Builds the launcher that ships (32-bit) around your own installer, in one command:
#
#   tools/packer/build-launcher.sh INSTALLER.cab
#   tools/packer/build-launcher.sh INSTALLER-FOLDER PROGRAM-TO-START.exe
#   ... --sign CERT.pfx [--password-file FILE] [--timestamp URL]...   and sign it (Authenticode)
#   ... --dual  a SHA-1 signature with a SHA-256 one nested in it, for Windows Vista (launcher only)
#   ... --msi   and write "QarvPro 2009 Setup.msi" beside it, for Group Policy (signed with it)
#
# Prints the packer's report (files, sizes, chunks, the program's MD5) and where the launcher is.
# The build folder is build/release, or QARV_RELEASE_DIR. To sign, the certificate's password is
# QARV_SIGN_PASSWORD or the first line of the --password-file; see tools/packer/sign-launcher.sh.
# If signing fails, no launcher and no package is left in the build folder.

# The script's own folder without running a program (dirname would see the password).
case "${BASH_SOURCE[0]}" in */*) here="${BASH_SOURCE[0]%/*}" ;; *) here=. ;; esac
source "$here/signing_password.sh"
set -euo pipefail +a
source "$(dirname "$0")/../../scripts/lib.sh"

sign_options=() certificate="" msi=0 dual_option=()
arguments=()
while [ $# -gt 0 ]; do
    case "$1" in
        --sign|--password-file|--timestamp)
            [ $# -ge 2 ] || { echo "$1 needs a value" >&2; exit 2; }
            if [ "$1" = --sign ]; then certificate="$2"; else sign_options+=("$1" "$2"); fi
            shift 2 ;;
        --msi) msi=1; shift ;;
        --dual) dual_option=(--dual); shift ;;
        --*) [ "$1" = --help ] || echo "unknown option $1" >&2
             sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
        *) arguments+=("$1"); shift ;;
    esac
done
set -- "${arguments[@]}"
if [ $# -lt 1 ] || [ $# -gt 2 ] || { [ ${#sign_options[@]} -gt 0 ] && [ -z "$certificate" ]; }; then
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
source_path=$(realpath -e -- "$1") || { echo "no such installer: $1" >&2; exit 1; }
program="${2:-}"
if [ -d "$source_path" ] && [ -z "$program" ]; then
    echo "$1 is a folder: name the program to start, e.g. $0 $1 setup.exe" >&2
    exit 2
fi
if [ -f "$source_path" ] && [ -n "$program" ]; then
    echo "$1 is a cabinet: the program to start is the file it holds last; give no program name" >&2
    exit 2
fi
dir="${QARV_RELEASE_DIR:-$QARV_ROOT/build/release}"
launcher="$dir/bin/QarvPro 2009 Setup.exe"
package="$dir/bin/QarvPro 2009 Setup.msi"
mkdir -p "$dir"
# Linked anew every time: a launcher or package signed by an earlier run never stands in for this one.
rm -f "$launcher" "$package"

# sign ARGUMENTS...: the signing command, with the password from the environment on its standard
# input unless a --password-file was given.
sign() {
    if [ -n "${sign_password_given:-}" ] && [[ " ${sign_options[*]:-} " != *" --password-file "* ]]; then
        { trace_off; printf '%s\n' "$sign_password"; } | "$QARV_ROOT/tools/packer/sign-launcher.sh" --password-file - "$@"
    else
        "$QARV_ROOT/tools/packer/sign-launcher.sh" "$@"
    fi
}

qarv_install_packages
# A certificate that cannot sign fails here, before the build rather than after it.
if [ -n "$certificate" ]; then
    sign --check "${sign_options[@]}" "$certificate" >/dev/null || exit 1
fi
cmake -S "$QARV_ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$QARV_ROOT/cmake/toolchain-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQARV_BUILD_TESTS=OFF \
    -DQARV_PAYLOAD_SOURCE="$source_path" -DQARV_PAYLOAD_PROGRAM="$program" >"$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log" >&2; exit 1; }
# The payload first, with the packer's report in view; then the launcher around it.
rm -f "$dir/payload/qarv_payload.bin"
cmake --build "$dir" --target qarv_payload 2>&1 | sed -n '/^qarv-packer/,$p' | grep -v '^\[\|^g\{0,1\}make\|Built target'
cmake --build "$dir" --target launcher -j"$(nproc)" >"$dir.build.log" 2>&1 \
    || { grep -E 'error|Error' "$dir.build.log" | head -n 40 >&2; exit 1; }
if [ -n "$certificate" ]; then
    # Signed in place: a failed signing leaves the unsigned launcher, which is never the release.
    sign "${sign_options[@]}" "${dual_option[@]}" "$certificate" "$launcher" || { rm -f "$launcher"; exit 1; }
fi
if [ $msi = 1 ]; then
    # Around the signed launcher, then signed itself, once (Windows reads one signature on a package).
    "$QARV_ROOT/tools/packer/build-msi.sh" "$launcher" "$package" || { rm -f "$launcher" "$package"; exit 1; }
    if [ -n "$certificate" ]; then
        sign "${sign_options[@]}" "$certificate" "$package" || { rm -f "$launcher" "$package"; exit 1; }
    fi
fi
echo "launcher: $launcher"
[ $msi = 0 ] || echo "package:  $package"
