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
source "$top/tests/services/lib/background.sh"

start() {
  stop
  "$top/tests/services/certs.sh" ensure
  rm -rf "$dir/peer"; mkdir -p "$dir/peer"
  python3 "$top/tests/services/tls_peer.py" "$dir" "$dir/peer" >"$dir/peer-output.txt" 2>&1 &
  echo $! >"$pidfile"
  # Up to a minute on a loaded machine; a peer that died ends the wait.
  for _ in $(seq 600); do
    grep -q listening "$dir/peer-output.txt" && return 0
    running || break
    sleep 0.1
  done
  echo "the TLS peers did not start:" >&2
  cat "$dir/peer-output.txt" >&2
  return 1
}

case ${1:-} in
start) start ;;
stop) stop ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
