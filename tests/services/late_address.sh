#!/usr/bin/env bash
# An address that comes only when a test asks for it, as a network does
# after a wake or when a cable is plugged in: 10.77.0.1 is given to the
# loopback interface of the tests' private namespace once the file
# $SORVANE_BUILD/late-address/request exists (then .../given is written),
# and taken away at stop. Nothing routes to it before, so a connect there
# fails at once for want of a network.
#   late_address.sh start | stop
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
address=10.77.0.1
folder=$b/late-address
pidfile=$b/late-address.pid

if [ "$(readlink /proc/self/ns/net)" = "$(readlink /proc/1/ns/net)" ]; then
  echo "$0: run it inside the tests' private network namespace" >&2
  exit 1
fi

stop() {
  if [ -f "$pidfile" ] && grep -qs late_address "/proc/$(cat "$pidfile")/cmdline"; then
    kill "$(cat "$pidfile")" 2>/dev/null || true
  fi
  rm -f "$pidfile"
  ip addr del $address/32 dev lo 2>/dev/null || true
  rm -rf "$folder"
}

# Each request is answered once: the test removes `given` with `request`
# to ask again. Bounded: it ends by itself after an hour.
watch() {
  local deadline=$((SECONDS + 3600))
  while [ $SECONDS -lt $deadline ]; do
    if [ -e "$folder/request" ] && [ ! -e "$folder/given" ]; then
      ip addr add $address/32 dev lo 2>/dev/null || true
      touch "$folder/given"
    elif [ ! -e "$folder/request" ] && [ -e "$folder/given" ]; then
      ip addr del $address/32 dev lo 2>/dev/null || true
      rm -f "$folder/given"
    fi
    sleep 0.1
  done
}

case ${1:-} in
start)
  stop
  mkdir -p "$folder"
  watch </dev/null >/dev/null 2>&1 &
  echo $! > "$pidfile"
  ;;
stop) stop ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
