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
#   --timestamp URL       an RFC 3161 timestamp server; without it the signature has no timestamp.
#                         Given more than once, the servers are tried in that order, each for at
#                         most QARV_TIMESTAMP_SECONDS (30), and the first that answers is used
#   --ca-file FILE        trusted roots (PEM) for the verification, beside the .pfx's certificates
#                         and the system's bundle
#   --dual                a SHA-1 signature with a SHA-256 one nested in it, both timestamped
#                         alike, for Windows Vista, which reads no SHA-256 file digest
#   --check               only open the certificate and check that it can sign code
#
# SIGNED.exe defaults to LAUNCHER.exe (signed in place). The signature is written under a
# temporary name and renamed only once it verifies: on any failure the command exits non-zero,
# LAUNCHER.exe is left as it was and nothing is left at a separate SIGNED.exe. The password never
# appears on a command line, in the output or in any other program's environment. Without
# --timestamp the signing time is SOURCE_DATE_EPOCH, else the time of the source tree's last
# commit, so that the same launcher and key give the same signed file; with neither, it refuses.

# The script's own folder without running a program (dirname would see the password).
case "${BASH_SOURCE[0]}" in */*) here="${BASH_SOURCE[0]%/*}" ;; *) here=. ;; esac
source "$here/signing_password.sh"
set -euo pipefail +a
QARV_ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
readonly kProduct="QarvPro 2009 Setup"
readonly kProductUrl="https://www.qarv.com.vn/qarvpro2009"

usage() { sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//' >&2; exit "${1:-2}"; }
die() { echo "sign-launcher: $*" >&2; exit 1; }

password_file="" ca_file="" check_only=0 dual=0
timestamps=()
timestamp_seconds="${QARV_TIMESTAMP_SECONDS:-30}"
positional=()
while [ $# -gt 0 ]; do
    case "$1" in
        --password-file) [ $# -ge 2 ] || usage; password_file="$2"; shift 2 ;;
        --timestamp) [ $# -ge 2 ] || usage; timestamps+=("$2"); shift 2 ;;
        --ca-file) [ $# -ge 2 ] || usage; ca_file="$2"; shift 2 ;;
        --check) check_only=1; shift ;;
        --dual) dual=1; shift ;;
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
    sign_password=""
    trace_off
    IFS= read -r sign_password || [ -n "$sign_password" ] || sign_password=""
    sign_password="${sign_password%$'\r'}"
    trace_on
    exec </dev/null  # nothing else of that pipe reaches a program started later
elif [ -n "$password_file" ]; then
    sign_password=""
    if [ -f "$password_file" ] && [ -r "$password_file" ]; then
        trace_off
        IFS= read -r sign_password <"$password_file" || [ -n "$sign_password" ] || sign_password=""
        sign_password="${sign_password%$'\r'}"
        trace_on
    else
        password_problem="cannot read the password file: $password_file"
    fi
elif [ -z "${sign_password_given:-}" ]; then
    password_problem="no password for ${positional[0]}: set QARV_SIGN_PASSWORD or use --password-file FILE"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qarv-sign.XXXXXX")
partial="" temporary="" temporary_folder=""
# On any failure nothing stays at a separate output path, so that an unsigned or stale file is
# never taken for the signed one. Signed in place, the launcher itself is never removed: it is
# replaced only by the verified signed file.
cleanup() {
    rm -rf "$work"
    [ -z "$temporary_folder" ] || rm -rf "$temporary_folder"
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
    # A folder of a name no other user can foresee, made by this process alone and open to no one
    # else, beside the output (so the rename is one step on one volume): the signed file is written
    # into it and renamed over the output only once it verifies.
    temporary_folder=$(mktemp -d --suffix=.signing "$(dirname "$output")/.$(basename "$output").XXXXXXXX") ||
        die "cannot make a temporary folder beside $output"
    temporary="$temporary_folder/signed"
fi
certificate="${positional[0]}"
[ -f "$certificate" ] || die "no such certificate file: $certificate"
[ -r "$certificate" ] || die "cannot read the certificate file: $certificate"
[ -z "$ca_file" ] || [ -r "$ca_file" ] || die "cannot read the trusted-roots file: $ca_file"
[ -z "$password_problem" ] || die "$password_problem"

# Tool output shown to the user, with any line that holds the password withheld.
show_log() {
    local line
    trace_off
    while IFS= read -r line; do
        if [ -n "$sign_password" ] && [[ "$line" == *"$sign_password"* ]]; then line="  [a line holding the password is withheld]"; fi
        printf '  %s\n' "$line" >&2
    done <"$1"
    trace_on
}

# give_password [ENDING]: the password on standard output, then ENDING (a line feed unless given).
# Run in a pipeline's own subshell, so tracing stays off there only.
give_password() { trace_off; printf '%s%s' "$sign_password" "${1-$'\n'}"; }

# pkcs12 ARGS...: openssl pkcs12 on the certificate, the password on standard input. Files made
# by older tools use algorithms that OpenSSL 3 keeps in its legacy provider.
pkcs12() {
    give_password | openssl pkcs12 -in "$certificate" -passin stdin "$@" 2>"$work/openssl.log" && return 0
    give_password | openssl pkcs12 -legacy -in "$certificate" -passin stdin "$@" 2>>"$work/openssl.log"
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
if [ ${#timestamps[@]} -gt 0 ]; then
    [[ "$timestamp_seconds" =~ ^[1-9][0-9]*$ ]] ||
        die "QARV_TIMESTAMP_SECONDS is not a whole number of seconds: $timestamp_seconds"
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
    time_note="no timestamp (signing time $(date -u -d "@$signing_time" '+%Y-%m-%d %H:%M:%S') UTC)"
fi
if [ $check_only = 1 ]; then
    echo "certificate  $subject, SHA-256 $fingerprint: can sign code"
    exit 0
fi

pass_options=()
trace_off; [ -z "$sign_password" ] || pass_options=(-readpass /dev/stdin); trace_on
# sign_with INPUT OUTPUT DIGEST OPTIONS...: one signing attempt, its output in sign.log; one that
# asks a timestamp server is bounded.
sign_with() {
    local input="$1" out="$2" digest="$3" bound=()
    shift 3
    [[ " $* " != *" -ts "* ]] || bound=(timeout --kill-after=5 "$timestamp_seconds")
    rm -f "$out"
    give_password '' | "${bound[@]}" osslsigncode sign -pkcs12 "$certificate" "${pass_options[@]}" -h "$digest" \
        -n "$kProduct" -i "$kProductUrl" "$@" -in "$input" -out "$out" >"$work/sign.log" 2>&1
}
# signature INPUT OUTPUT DIGEST [-nest]: a signature with a timestamp from the first server that
# answers (in the order given, each bounded), or at the reproducible signing time without one.
timestamped_by=""
signature() {
    local input="$1" out="$2" digest="$3" url status
    shift 3
    if [ ${#timestamps[@]} -eq 0 ]; then
        sign_with "$input" "$out" "$digest" "$@" -time "$signing_time" && return 0
        echo "sign-launcher: osslsigncode could not sign $launcher:" >&2
        show_log "$work/sign.log"
        exit 1
    fi
    for url in "${timestamps[@]}"; do
        status=0
        sign_with "$input" "$out" "$digest" "$@" -ts "$url" || status=$?
        if [ $status = 0 ]; then
            timestamped_by="$url"
            return 0
        elif [ $status = 124 ] || [ $status = 137 ]; then
            echo "sign-launcher: the timestamp server $url did not answer within $timestamp_seconds s" >&2
        else
            echo "sign-launcher: no timestamp from $url:" >&2
            show_log "$work/sign.log"
        fi
    done
    echo "sign-launcher: osslsigncode could not sign $launcher: no timestamp server answered" \
         "(${timestamps[*]})" >&2
    exit 1
}
if [ $dual = 1 ]; then
    # SHA-1 first, which Windows Vista reads; SHA-256 nested in it, which Windows 7 and later read.
    signature "$launcher" "$temporary_folder/sha1" sha1
    signature "$temporary_folder/sha1" "$temporary" sha256 -nest
    rm -f "$temporary_folder/sha1"
    kind="Authenticode SHA-1 with a nested SHA-256 signature"
else
    signature "$launcher" "$temporary" sha256
    kind="Authenticode SHA-256"
fi

# Verified against the .pfx's own certificates (a test certificate is its own root), any roots
# given, and the system's bundle. Revocation lists are not fetched: the build has no network.
cat "$work/chain.pem" ${ca_file:+"$ca_file"} >"$work/trusted.pem"
[ ! -r /etc/ssl/certs/ca-certificates.crt ] || cat /etc/ssl/certs/ca-certificates.crt >>"$work/trusted.pem"
verify_options=(-CAfile "$work/trusted.pem" -TSA-CAfile "$work/trusted.pem")
verify_help=$(osslsigncode verify --help 2>&1 || true)
[[ "$verify_help" != *-ignore-crl* ]] || verify_options+=(-ignore-crl)
if ! osslsigncode verify "${verify_options[@]}" -in "$temporary" >"$work/verify.log" 2>&1 ||
        ! grep -q '^Signature verification: ok' "$work/verify.log" ||
        grep -q '^Signature verification: failed' "$work/verify.log"; then
    echo "sign-launcher: the signature on $launcher does not verify:" >&2
    grep -E 'verification|MISMATCH|[Ee]rror|Failed' "$work/verify.log" >"$work/verify.short" || true
    show_log "$work/verify.short"
    exit 1
fi
if [ -n "$timestamped_by" ]; then
    stamped_at=$(sed -n 's/^[[:space:]]*Timestamp time: //p' "$work/verify.log" | head -n 1)
    stamped_at=$(date -u -d "$stamped_at" '+%Y-%m-%d %H:%M:%S UTC' 2>/dev/null) ||
        die "the signature on $launcher carries no timestamp time that osslsigncode reports"
    time_note="timestamped by $timestamped_by at $stamped_at"
fi
chmod --reference="$launcher" "$temporary" 2>/dev/null || true
mv -f "$temporary" "$output"
rmdir "$temporary_folder"
temporary="" temporary_folder=""
partial=""

echo "  signed by    $subject"
echo "  certificate  SHA-256 $fingerprint"
echo "  signature    $kind, verified by osslsigncode; $time_note"
