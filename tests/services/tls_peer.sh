#!/usr/bin/env bash
# The scripted TLS peers of the tests (tests/services/tls_peer.py): one
# misbehaviour per port on 127.0.0.1 and ::1, with the certificates of the
# test CA (tests/services/certs.sh) and a log per behaviour under
# $SORVANE_BUILD/tls/peer. Run it inside the tests' namespace, as Dovecot.
#   tls_peer.sh start | stop
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
dir=$b/tls
# Beside the certificates, not among them: certs.sh start makes that folder
# anew, and a pid file there would be lost with it, leaving the peers of a
# run that was never stopped running for good.
pidfile=$b/tls-peer.pid

marker=tls_peer.py
output=$dir/peer-output.txt
source "$top/tests/services/lib/background.sh"

peers_listening() { grep -q listening "$output"; }

start() {
  stop
  "$top/tests/services/certs.sh" ensure
  rm -rf "$dir/peer"; mkdir -p "$dir/peer"
  start_service peers_listening python3 "$top/tests/services/tls_peer.py" "$dir" "$dir/peer" && return 0
  echo "the TLS peers did not start:" >&2
  cat "$output" >&2
  return 1
}

case ${1:-} in
start) start ;;
stop) stop ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
