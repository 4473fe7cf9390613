#!/usr/bin/env bash
# Timestamped signatures from a local RFC 3161 authority (tests/support/timestamp_authority.sh):
#   timestamp_test.sh PACKER-TOOLS INSPECTOR LAUNCHER WORKDIR
# A signature timestamped by the first of several servers that answers verifies with the
# authority's root, and still does at a time past the signing certificate's expiry, where one
# without a timestamp fails; with no server answering, signing fails within its bounds and leaves
# nothing behind. The inspector reports each signature's algorithm, signer and timestamp.
set -u
. "$(dirname "$0")/../support/failure_count.sh"
. "$(dirname "$0")/../support/timestamp_authority.sh"
tools="$1"; inspector="$2"; launcher="$3"; work="$4"
rm -rf "$work"; mkdir -p "$work"; cd "$work" || exit 2
sign="$tools/sign-launcher.sh"
export QARV_SIGN_PASSWORD='Qarv timestamp test'
# Each server gets 5 s: long enough for the local authority, short enough to keep the test brief.
export QARV_TIMESTAMP_SECONDS=5

tsa_start "$work/authority" || { fail "the local timestamp authority did not start: $(cat authority/*.log)"; finish timestamp; }
tsa_signing_certificate || fail "openssl could not make the signing certificate"
# A day past the signing certificate's notAfter.
expired=$(( $(date -u -d "$(openssl x509 -in signing.pem -noout -enddate | sed 's/^notAfter=//')" +%s) + 86400 ))
cp "$launcher" unsigned.exe

# Nothing listens on the discard port, the second server never answers, the third is the authority.
started=$(date +%s)
"$sign" --ca-file "$tsa_root" --timestamp http://127.0.0.1:9/ --timestamp "$tsa_silent_url" --timestamp "$tsa_url" \
  signing.pfx unsigned.exe stamped.exe >stamped.out 2>stamped.err || fail "timestamped signing failed: $(cat stamped.err)"
took=$(( $(date +%s) - started ))
cat stamped.out stamped.err
grep -Eq "; timestamped by ${tsa_url//./\\.} at [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8} UTC$" stamped.out ||
  fail "the report does not name the authority that answered and its time: $(cat stamped.out)"
grep -q "$tsa_silent_url did not answer within 5 s" stamped.err || fail "the silent server's bound is not reported"
[ "$took" -lt 20 ] || fail "signing took $took s: a server's bound was not kept"
[ "$(wc -l <authority/answered.log)" = 1 ] || fail "the authority answered $(wc -l <authority/answered.log) requests, not 1"

# verifies FILE [TIME]: osslsigncode verify with the test's roots, at TIME if given.
verifies() {
  osslsigncode verify -CAfile signing.pem -TSA-CAfile "$tsa_root" -ignore-crl ${2:+-time "$2"} -in "$1" \
    >verify.txt 2>&1 && grep -q '^Signature verification: ok' verify.txt
}
verifies stamped.exe || fail "the timestamped signature does not verify: $(cat verify.txt)"
grep -q 'Timestamp Server Signature verification: ok' verify.txt || fail "the timestamp is not verified: $(cat verify.txt)"
verifies stamped.exe "$expired" || fail "the timestamped signature does not verify after the certificate expired: $(cat verify.txt)"
SOURCE_DATE_EPOCH=$(date +%s) "$sign" signing.pfx unsigned.exe plain.exe >plain.out 2>&1 ||
  fail "signing without a timestamp failed: $(cat plain.out)"
verifies plain.exe || fail "the signature without a timestamp does not verify today: $(cat verify.txt)"
verifies plain.exe "$expired" && fail "a signature without a timestamp verifies after the certificate expired"

# The inspector: the timestamp's time and authority, or none.
"$inspector" stamped.exe >inspect.txt 2>&1 || fail "inspector on the timestamped launcher: $(cat inspect.txt)"
cat inspect.txt
stamped_at=$(sed -n 's/.* at \([0-9-]* [0-9:]* UTC\)$/\1/p' stamped.out)
grep -qx "            timestamp    $stamped_at, RFC 3161, by CN=Qarv Test Time Authority, O=Qarv Test, C=VN" inspect.txt ||
  fail "the inspector does not give the timestamp's time ($stamped_at) and authority"
"$inspector" plain.exe >inspect.txt 2>&1 || fail "inspector on the launcher without a timestamp: $(cat inspect.txt)"
grep -qx "            timestamp    none" inspect.txt || fail "the inspector does not say there is no timestamp"
# --dual: a SHA-1 signature (for Windows Vista) with a SHA-256 one nested in it, both timestamped;
# osslsigncode verifies both, and the inspector reports each and checks the SHA-256 digest.
"$sign" --dual --ca-file "$tsa_root" --timestamp "$tsa_url" signing.pfx unsigned.exe dual.exe >dual.out 2>&1 ||
  fail "signing with --dual failed: $(cat dual.out)"
grep -q "signature    Authenticode SHA-1 with a nested SHA-256 signature, verified by osslsigncode; timestamped by $tsa_url at " \
  dual.out || fail "the --dual report: $(cat dual.out)"
verifies dual.exe "$expired" || fail "the dual signature does not verify after the certificate expired: $(cat verify.txt)"
[ "$(grep -c '^Signature verification: ok' verify.txt)" = 2 ] || fail "osslsigncode does not verify two signatures: $(cat verify.txt)"
"$inspector" dual.exe >inspect.txt 2>&1 || fail "inspector on the dual-signed launcher: exit $?: $(cat inspect.txt)"
grep -q '^            Authenticode, SHA-1, timestamped$' inspect.txt || fail "the primary SHA-1 signature is not reported"
grep -A5 '^  nested 1  Authenticode, SHA-256, timestamped$' inspect.txt >nested.txt || fail "no nested SHA-256 signature reported"
grep -qx "            signer       CN=Qarv Test Signing, O=Qarv Test, C=VN" nested.txt || fail "the nested signer is not named"
grep -Eq "^            timestamp    [0-9-]+ [0-9:]+ UTC, RFC 3161, by CN=Qarv Test Time Authority" nested.txt ||
  fail "the nested signature's timestamp is not reported: $(cat nested.txt)"
grep -q 'digest       matches the file (.*), by the nested SHA-256 signature' inspect.txt ||
  fail "the inspector does not check the nested SHA-256 digest: $(cat inspect.txt)"
cp dual.exe dual-changed.exe
printf 'Q' | dd of=dual-changed.exe bs=1 seek=4096 conv=notrunc 2>/dev/null
"$inspector" dual-changed.exe >inspect.txt 2>&1; got=$?
[ $got = 9 ] || fail "a dual-signed launcher changed after signing: inspector exit $got, expected 9"

# No server answers: the command fails after each bound, names them, and leaves nothing behind,
# whether signing into a new file or in place.
cp unsigned.exe in-place.exe
for output in out.exe in-place.exe; do
  started=$(date +%s)
  "$sign" --timestamp http://127.0.0.1:9/ --timestamp "$tsa_silent_url" signing.pfx in-place.exe $output \
    >none.out 2>none.err && fail "$output: signing with no server answering: exit 0"
  took=$(( $(date +%s) - started ))
  [ "$took" -lt 20 ] || fail "$output: failing took $took s"
  grep -q 'no timestamp server answered' none.err || fail "$output: $(cat none.err)"
  ls -a | grep -q '\.signing$' && fail "$output: a temporary file is left behind"
done
[ ! -e out.exe ] || fail "a file is left at the output path"
cmp -s in-place.exe unsigned.exe || fail "failing in place changed the launcher"
# Three times so far: the first signature and the two of --dual.
[ "$(wc -l <authority/answered.log)" = 3 ] || fail "the authority was asked when it was not named"
tsa_stop
finish "timestamp"
