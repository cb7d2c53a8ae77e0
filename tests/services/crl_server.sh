#!/usr/bin/env bash
# The test CA's revocation list over HTTP, where the distribution point of
# its revoked certificate says (tests/services/certs.sh): 127.0.0.1:8080,
# serving $SORVANE_BUILD/tls/crl. Only inside the tests' private network
# namespace.
#   crl_server.sh start | stop
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
port=8080
# Beside the certificates, not among them: certs.sh start makes that folder
# anew, and a pid file there would be lost with it.
pidfile=$b/crl-server.pid
output=$b/crl-server.txt

if [ "$(readlink /proc/self/ns/net)" = "$(readlink /proc/1/ns/net)" ]; then
  echo "$0: run it inside the tests' private network namespace" >&2
  exit 1
fi

marker=http.server
source "$top/tests/services/lib/background.sh"

serving() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }

start() {
  stop
  "$top/tests/services/certs.sh" ensure
  start_service serving python3 -m http.server "$port" --bind 127.0.0.1 --directory "$b/tls/crl" && return 0
  echo "the CRL server did not start:" >&2
  cat "$output" >&2
  return 1
}

case ${1:-} in
start) start ;;
stop) stop ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
