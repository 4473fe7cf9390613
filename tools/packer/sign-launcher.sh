#!/usr/bin/env bash
# Signs a built launcher with Authenticode (osslsigncode, SHA-256), verifies the signature and
# prints who signed it:
#
#   tools/packer/sign-launcher.sh [options] CERT.pfx LAUNCHER.exe [SIGNED.exe]
#   tools/packer/sign-launcher.sh --check [options] CERT.pfx
#
#   --password-file FILE  the certificate's password is the first line of FILE ("-": of standard
#                         input); without it, the password is the environment variable
#                         QARV_SIGN_PASSWORD
#   --timestamp URL       an RFC 3161 timestamp server; without it the signature has no timestamp
#   --ca-file FILE        trusted roots (PEM) for the verification, beside the .pfx's certificates
#                         and the system's bundle
#   --check               only open the certificate and check that it can sign code
#
# SIGNED.exe defaults to LAUNCHER.exe (signed in place). The signature is written under a
# temporary name and renamed only once it verifies: on any failure the command exits non-zero,
# LAUNCHER.exe is left as it was and nothing is left at a separate SIGNED.exe. The password never
# appears on a command line, in the output or in any other program's environment. Without
# --timestamp the signing time is SOURCE_DATE_EPOCH, else the time of the source tree's last
# commit, so that the same launcher and key give the same signed file; with neither, it refuses.

# The password leaves the environment before any other program runs, and the variable that keeps
# it is never exported, even if the caller's environment had one of its name.
unset -v password password_in_environment
if [ -n "${QARV_SIGN_PASSWORD+set}" ]; then
    password="$QARV_SIGN_PASSWORD"
    password_in_environment=1
fi
unset QARV_SIGN_PASSWORD
declare +x password password_in_environment
set -euo pipefail +a
QARV_ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
readonly kProduct="QarvPro 2009 Setup"
readonly kProductUrl="https://www.qarv.com.vn/qarvpro2009"

usage() { sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//' >&2; exit "${1:-2}"; }
die() { echo "sign-launcher: $*" >&2; exit 1; }

password_file="" timestamp="" ca_file="" check_only=0
positional=()
while [ $# -gt 0 ]; do
    case "$1" in
        --password-file) [ $# -ge 2 ] || usage; password_file="$2"; shift 2 ;;
        --timestamp) [ $# -ge 2 ] || usage; timestamp="$2"; shift 2 ;;
        --ca-file) [ $# -ge 2 ] || usage; ca_file="$2"; shift 2 ;;
        --check) check_only=1; shift ;;
        --pass*|-pass*)
            echo "sign-launcher: a password is never given on the command line (it would show in the process list):" \
                 "set QARV_SIGN_PASSWORD or use --password-file FILE" >&2
            exit 2 ;;
        -h|--help) usage 0 ;;
        -*) echo "sign-launcher: unknown option $1" >&2; usage ;;
        *) positional+=("$1"); shift ;;
    esac
done
if [ $check_only = 1 ]; then
    [ ${#positional[@]} -eq 1 ] || usage
else
    [ ${#positional[@]} -ge 2 ] && [ ${#positional[@]} -le 3 ] || usage
fi
# The password reaches openssl and osslsigncode only through a pipe from the shell's own printf.
# Standard input is read before any program runs; a missing password is reported in its turn below.
password_problem=""
if [ "$password_file" = - ]; then
    password=""
    IFS= read -r password || [ -n "$password" ] || password=""
    password="${password%$'\r'}"
    exec </dev/null  # nothing else of that pipe reaches a program started later
elif [ -n "$password_file" ]; then
    password=""
    if [ -f "$password_file" ] && [ -r "$password_file" ]; then
        IFS= read -r password <"$password_file" || [ -n "$password" ] || password=""
        password="${password%$'\r'}"
    else
        password_problem="cannot read the password file: $password_file"
    fi
elif [ -z "${password_in_environment:-}" ]; then
    password_problem="no password for ${positional[0]}: set QARV_SIGN_PASSWORD or use --password-file FILE"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qarv-sign.XXXXXX")
partial="" temporary=""
# On any failure nothing stays at a separate output path, so that an unsigned or stale file is
# never taken for the signed one. Signed in place, the launcher itself is never removed: it is
# replaced only by the verified signed file.
cleanup() {
    rm -rf "$work"
    [ -z "$temporary" ] || rm -f "$temporary"
    [ -z "$partial" ] || rm -f "$partial"
}
trap cleanup EXIT
if [ $check_only = 0 ]; then
    launcher="${positional[1]}"
    output="${positional[2]:-$launcher}"
    # Another name for the launcher itself (./a.exe for a.exe) is signing in place, not a new file.
    if [ "$(realpath -m -- "$output")" != "$(realpath -m -- "$launcher")" ]; then
        partial="$output"
        rm -f "$output"
    fi
    [ -f "$launcher" ] || die "no such launcher: $launcher"
    temporary="$(dirname "$output")/.$(basename "$output").signing"
    rm -f "$temporary"
fi
certificate="${positional[0]}"
[ -f "$certificate" ] || die "no such certificate file: $certificate"
[ -r "$certificate" ] || die "cannot read the certificate file: $certificate"
[ -z "$ca_file" ] || [ -r "$ca_file" ] || die "cannot read the trusted-roots file: $ca_file"
[ -z "$password_problem" ] || die "$password_problem"

# Tool output shown to the user, with any line that holds the password withheld.
show_log() {
    local line
    while IFS= read -r line; do
        if [ -n "$password" ] && [[ "$line" == *"$password"* ]]; then line="  [a line holding the password is withheld]"; fi
        printf '  %s\n' "$line" >&2
    done <"$1"
}

# pkcs12 ARGS...: openssl pkcs12 on the certificate, the password on standard input. Files made
# by older tools use algorithms that OpenSSL 3 keeps in its legacy provider.
pkcs12() {
    printf '%s\n' "$password" | openssl pkcs12 -in "$certificate" -passin stdin "$@" 2>"$work/openssl.log" && return 0
    printf '%s\n' "$password" | openssl pkcs12 -legacy -in "$certificate" -passin stdin "$@" 2>>"$work/openssl.log"
}

if ! pkcs12 -nokeys -clcerts -out "$work/signer.pem" || ! grep -q 'BEGIN CERTIFICATE' "$work/signer.pem"; then
    echo "sign-launcher: cannot open $certificate: wrong password, or not a PKCS#12 (.pfx) file with a certificate" >&2
    show_log "$work/openssl.log"
    exit 1
fi
pkcs12 -nokeys -out "$work/chain.pem" || die "cannot read the certificates in $certificate"
# Counted, never kept: the key itself stays in the pipe.
keys=$(pkcs12 -nocerts -nodes | grep -c 'BEGIN.*PRIVATE KEY' || true)
[ "${keys:-0}" -gt 0 ] || die "$certificate holds no private key: signing needs the certificate and its key"
# The first certificate that has its key is the signer's.
openssl x509 -in "$work/signer.pem" -out "$work/leaf.pem" 2>/dev/null || die "cannot read the certificate in $certificate"
mv "$work/leaf.pem" "$work/signer.pem"
subject=$(openssl x509 -in "$work/signer.pem" -noout -subject -nameopt RFC2253,sep_comma_plus_space | sed 's/^subject=//')
fingerprint=$(openssl x509 -in "$work/signer.pem" -noout -fingerprint -sha256 | sed 's/^.*=//')
usages=$(openssl x509 -in "$work/signer.pem" -noout -ext extendedKeyUsage 2>/dev/null | sed -n '2,$p' | sed 's/^ *//')
if ! grep -qx 'Code Signing' <<<"$(tr ',' '\n' <<<"$usages" | sed 's/^ *//')"; then
    die "the certificate in $certificate ($subject) is not for code signing: its extended key usage is" \
        "'${usages:-none}'; Authenticode needs 'Code Signing' (1.3.6.1.5.5.7.3.3)"
fi
key_usage=$(openssl x509 -in "$work/signer.pem" -noout -ext keyUsage 2>/dev/null | sed -n '2,$p' | sed 's/^ *//')
if [ -n "$key_usage" ] && [[ "$key_usage" != *"Digital Signature"* ]]; then
    die "the certificate in $certificate ($subject) may not make signatures: its key usage is '$key_usage'"
fi
openssl x509 -in "$work/signer.pem" -noout -checkend 0 >/dev/null ||
    die "the certificate in $certificate ($subject) expired on $(openssl x509 -in "$work/signer.pem" -noout -enddate | sed 's/^.*=//')"
# Before --check returns, so that a release build stops before it builds rather than after.
if [ -n "$timestamp" ]; then
    time_options=(-ts "$timestamp")
    time_note="timestamped by $timestamp"
else
    # Never the current time: a signature made from the same launcher and key must come out the same.
    if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
        signing_time="$SOURCE_DATE_EPOCH"
        [[ "$signing_time" =~ ^[0-9]+$ ]] || die "SOURCE_DATE_EPOCH is not a number of seconds: $signing_time"
    else
        signing_time=$(git -C "$QARV_ROOT" log -1 --format=%ct 2>/dev/null) || signing_time=""
        [[ "$signing_time" =~ ^[0-9]+$ ]] ||
            die "no signing time: set SOURCE_DATE_EPOCH (seconds since 1970), or sign from a git checkout of" \
                "the source, whose last commit time is used; or give --timestamp URL"
    fi
    time_options=(-time "$signing_time")
    time_note="no timestamp (signing time $(date -u -d "@$signing_time" '+%Y-%m-%d %H:%M:%S') UTC)"
fi
if [ $check_only = 1 ]; then
    echo "certificate  $subject, SHA-256 $fingerprint: can sign code"
    exit 0
fi

pass_options=()
[ -z "$password" ] || pass_options=(-readpass /dev/stdin)
if ! printf '%s' "$password" | osslsigncode sign -pkcs12 "$certificate" "${pass_options[@]}" -h sha256 \
        -n "$kProduct" -i "$kProductUrl" "${time_options[@]}" -in "$launcher" -out "$temporary" \
        >"$work/sign.log" 2>&1; then
    echo "sign-launcher: osslsigncode could not sign $launcher:" >&2
    show_log "$work/sign.log"
    exit 1
fi

# Verified against the .pfx's own certificates (a test certificate is its own root), any roots
# given, and the system's bundle. Revocation lists are not fetched: the build has no network.
cat "$work/chain.pem" ${ca_file:+"$ca_file"} >"$work/trusted.pem"
[ ! -r /etc/ssl/certs/ca-certificates.crt ] || cat /etc/ssl/certs/ca-certificates.crt >>"$work/trusted.pem"
verify_options=(-CAfile "$work/trusted.pem")
verify_help=$(osslsigncode verify --help 2>&1 || true)
[[ "$verify_help" != *-ignore-crl* ]] || verify_options+=(-ignore-crl)
if ! osslsigncode verify "${verify_options[@]}" -in "$temporary" >"$work/verify.log" 2>&1 ||
        ! grep -q '^Signature verification: ok' "$work/verify.log"; then
    echo "sign-launcher: the signature on $launcher does not verify:" >&2
    grep -E 'verification|MISMATCH|[Ee]rror|Failed' "$work/verify.log" >"$work/verify.short" || true
    show_log "$work/verify.short"
    exit 1
fi
chmod --reference="$launcher" "$temporary" 2>/dev/null || true
mv -f "$temporary" "$output"
temporary=""
partial=""

echo "  signed by    $subject"
echo "  certificate  SHA-256 $fingerprint"
echo "  signature    Authenticode SHA-256, verified by osslsigncode; $time_note"
