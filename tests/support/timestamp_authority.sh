# Sourced by the shell tests: a local RFC 3161 timestamp authority (timestamp_authority.py).
#   tsa_start FOLDER   makes a throwaway root and timestamping certificate in FOLDER, starts the
#                      authority and a server that never answers; sets tsa_url, tsa_silent_url,
#                      tsa_root (the root's PEM) and returns non-zero if either does not listen
#   tsa_stop           ends both, by their process ids (also on the test's exit)
tsa_pids=()
tsa_stop() {
  local pid
  for pid in "${tsa_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  tsa_pids=()
}
trap tsa_stop EXIT

# tsa_listening FOLDER: waits, at most 10 s, for the server to write its port; prints it.
tsa_listening() {
  local tries
  for tries in $(seq 100); do
    [ -s "$1/port" ] && { cat "$1/port"; return 0; }
    kill -0 "${tsa_pids[-1]}" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

tsa_start() {
  local folder="$1" here
  here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
  mkdir -p "$folder/silent" || return 1
  cat >"$folder/tsa.cnf" <<'CNF'
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = ./serial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
CNF
  echo 01 >"$folder/serial"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' \
    >"$folder/tsa.ext"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$folder/root.key" -out "$folder/root.pem" -days 3650 \
    -subj '/C=VN/O=Qarv Test/CN=Qarv Test Time Root' -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null &&
  openssl req -newkey rsa:2048 -nodes -keyout "$folder/tsa.key" -out "$folder/tsa.csr" \
    -subj '/C=VN/O=Qarv Test/CN=Qarv Test Time Authority' 2>/dev/null &&
  openssl x509 -req -in "$folder/tsa.csr" -CA "$folder/root.pem" -CAkey "$folder/root.key" -set_serial 7 \
    -days 3650 -extfile "$folder/tsa.ext" -out "$folder/tsa.pem" 2>/dev/null || return 1
  cp "$folder/root.pem" "$folder/chain.pem"
  tsa_root="$folder/root.pem"
  python3 "$here/timestamp_authority.py" "$folder" 2>"$folder/authority.log" &
  tsa_pids+=($!)
  tsa_url="http://127.0.0.1:$(tsa_listening "$folder")/" || return 1
  python3 "$here/timestamp_authority.py" --silent "$folder/silent" 2>"$folder/silent.log" &
  tsa_pids+=($!)
  tsa_silent_url="http://127.0.0.1:$(tsa_listening "$folder/silent")/" || return 1
}

# A throwaway code-signing certificate in the current folder: signing.key, signing.pem and
# signing.pfx, the last protected by QARV_SIGN_PASSWORD.
tsa_signing_certificate() {
  openssl req -x509 -newkey rsa:2048 -nodes -keyout signing.key -out signing.pem -days 30 \
    -subj '/C=VN/O=Qarv Test/CN=Qarv Test Signing' -addext extendedKeyUsage=codeSigning \
    -addext keyUsage=digitalSignature 2>/dev/null &&
    openssl pkcs12 -export -in signing.pem -inkey signing.key -out signing.pfx -passout env:QARV_SIGN_PASSWORD
}
