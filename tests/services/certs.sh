#!/usr/bin/env bash
# A throwaway certificate authority for the TLS tests, made fresh with
# openssl at each start, in the build folder ($SORVANE_BUILD/tls). Only the
# test Wine prefix trusts it (scripts/wine-prefix.sh runs tests/tools/trust_ca
# there); the machine's own store is never touched.
#   certs.sh start   makes everything anew
#   certs.sh ensure  makes it only when it is missing (the other services)
#   certs.sh stop    nothing to stop
# Files (PEM unless said):
#   ca.crt ca.der        the test CA, PEM and DER (the trust step reads DER)
#   server.crt/.key      localhost, 127.0.0.1 and ::1, issued by the test CA
#   other-name.crt       issued by the test CA for another name only
#   expired.crt          localhost, issued by the test CA, expired in 2020
#   self-signed.crt      localhost, signed by its own key
#   rogue.crt            localhost, issued by a second CA nobody trusts
#   revoked.crt          localhost, issued by the test CA and revoked; its
#                        distribution point is the CRL server of the rig
#                        (tests/services/crl_server.sh, 127.0.0.1:8080)
#   crl-offline.crt      localhost, issued by the test CA, its distribution
#                        point on a port where nothing listens (127.0.0.1:8081)
#   crl/NAME.crl         the test CA's revocation list (DER), naming revoked.crt;
#                        NAME is new at each start, so that no client's cache
#                        holds an older CA's list under the same address
# Every leaf certificate uses server.key.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
dir=$b/tls

names="subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1"
leaf_ext="basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
authorityKeyIdentifier=keyid"

# A CA valid from 2019, so that every leaf's time lies inside its own.
make_ca() { # name, subject
  openssl req -new -newkey rsa:2048 -nodes -keyout "$dir/$1.key" -out "$dir/$1.csr" \
    -subj "/O=Sorvane tests/CN=$2" 2>/dev/null
  issue "$1-ca.crt" "$1" "basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash" 20190101000000Z "$later" "$1.csr" -selfsign
}

# A scratch database of the CA `name` for `openssl ca`, in $work.
ca_work() { # ca name, extensions of what it issues
  work=$dir/ca-$1
  rm -rf "$work"; mkdir -p "$work"
  : >"$work/index"
  cat >"$work/conf" <<CONF
[ca]
default_ca = this
[this]
database = $work/index
new_certs_dir = $work
serial = $work/serial
default_md = sha256
policy = any
copy_extensions = none
x509_extensions = leaf
unique_subject = no
[any]
commonName = supplied
[leaf]
$2
CONF
  openssl rand -hex 8 >"$work/serial"
}

# A certificate issued by a CA, with its own extensions and validity (a
# leaf for server.key unless a request is given); `openssl ca` is the one
# tool of openssl 3.0 that takes a start date.
issue() { # out, ca name, extensions, start, end[, request, -selfsign]
  local work
  ca_work "$2" "$3"
  local cert=(-cert "$dir/$2-ca.crt")
  [ "${7:-}" = -selfsign ] && cert=(-selfsign)
  openssl ca -batch -config "$work/conf" "${cert[@]}" -keyfile "$dir/$2.key" \
    -in "$dir/${6:-server.csr}" -out "$dir/$1" -startdate "$4" -enddate "$5" -notext 2>/dev/null
  rm -rf "$work"
}

# The test CA revokes revoked.crt and signs its list, valid for 30 days.
make_crl() { # list name
  local work
  ca_work test ""
  local ca=(-config "$work/conf" -cert "$dir/test-ca.crt" -keyfile "$dir/test.key")
  openssl ca "${ca[@]}" -revoke "$dir/revoked.crt" -crl_reason keyCompromise 2>/dev/null
  openssl ca "${ca[@]}" -gencrl -crldays 30 -out "$work/crl.pem" 2>/dev/null
  mkdir -p "$dir/crl"
  openssl crl -in "$work/crl.pem" -outform DER -out "$dir/crl/$1.crl"
  rm -rf "$work"
}

start() {
  rm -rf "$dir"; mkdir -p "$dir"
  local now later
  now=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
  later=$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)
  make_ca test "Sorvane test CA"
  make_ca rogue "Sorvane rogue CA"
  cp "$dir/test-ca.crt" "$dir/ca.crt"
  openssl x509 -in "$dir/ca.crt" -outform DER -out "$dir/ca.der"
  openssl req -new -newkey rsa:2048 -nodes -keyout "$dir/server.key" -out "$dir/server.csr" \
    -subj "/CN=localhost" 2>/dev/null
  issue server.crt test "$leaf_ext
$names" "$now" "$later"
  issue other-name.crt test "$leaf_ext
subjectAltName=DNS:mail.other-name.test" "$now" "$later"
  issue expired.crt test "$leaf_ext
$names" 20200101000000Z 20200201000000Z
  issue rogue.crt rogue "$leaf_ext
$names" "$now" "$later"
  local list
  list=$(openssl rand -hex 6)
  issue revoked.crt test "$leaf_ext
$names
crlDistributionPoints=URI:http://127.0.0.1:8080/$list.crl" "$now" "$later"
  issue crl-offline.crt test "$leaf_ext
$names
crlDistributionPoints=URI:http://127.0.0.1:8081/$list.crl" "$now" "$later"
  make_crl "$list"
  openssl req -x509 -key "$dir/server.key" -out "$dir/self-signed.crt" -days 30 -subj "/CN=localhost" \
    -addext "$names" -addext "extendedKeyUsage=serverAuth
authorityKeyIdentifier=keyid" 2>/dev/null
  rm -f "$dir"/*.csr "$dir/test.key" "$dir/rogue.key"
  # Dovecot's unprivileged login processes read the key too.
  chmod 644 "$dir"/*.*
}

case ${1:-} in
start) start ;;
ensure) [ -f "$dir/server.crt" ] && [ -f "$dir/revoked.crt" ] || start ;;
stop) ;;
*) echo "usage: $0 start|ensure|stop" >&2; exit 2 ;;
esac
