#!/usr/bin/env bash
# The soak: long runs of the real program, with its footprint at the start
# and the end. Not part of the test command (it takes many minutes).
#   1. one start of the program: 1,000 checks against the test Dovecot's
#      mailbox of 300 messages (500 with the progress window, then 500
#      without, flipped once through the settings dialog), 1,000 more with
#      "report only mail not seen before" on (UIDL and its 300-line listing
#      each time), then 300 against the scripted server cycling through its
#      faults; every check must end in its expected message; then, in the
#      same run, automatic checks every minute with "自動チェックで接続できない
#      ときはメッセージを表示しない" on, against a scripted server at
#      10.77.0.1 (tests/services/late_address.sh), while that address goes
#      away and comes back 10 times: each period away must end in a quiet
#      failure (grey icon, its tip, no box), each return in exactly one
#      check by itself that logs in; no box at all; the footprint is also
#      compared across this phase. The program retries after a network
#      change at most once a minute, so a cycle takes about 63 s;
#   2. 1,000 saves of the settings file killed at random moments; after
#      each, the file must load as the old record or the new one.
# Fails when a check or a save went wrong, or when a figure grew beyond its
# noise bound (below). Smaller runs: SOAK_SERVER_CHECKS, SOAK_PEER_CHECKS,
# SOAK_NETWORK_CYCLES (0 leaves the phase out), SOAK_SAVES.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

NETNS_QUIET_BUILD=1 source scripts/netns.sh
source scripts/stress-env.sh

server_checks=${SOAK_SERVER_CHECKS:-1000}
peer_checks=${SOAK_PEER_CHECKS:-300}
network_cycles=${SOAK_NETWORK_CYCLES:-10}
saves=${SOAK_SAVES:-1000}

# Noise bounds: how much a figure may grow from the start (after 100
# warm-up checks in each of three modes) to the end of the 2,300 checks. A leak of one handle,
# thread or window object per check would exceed them a hundredfold; a
# leak of 1 KB per check would exceed the memory bound. Growth within them
# is what a heap that settles and a thread that is still ending look like.
bound_handles=20
bound_threads=2
bound_user_objects=10
bound_gdi_objects=10
bound_private_bytes=$((1024 * 1024))

# The test Dovecot's account with 300 messages (tests/services/dovecot.sh).
user=many
pass=many-pass

if [ "${1:-}" = --on-display ]; then
  start_wine
  trap stop_wine EXIT
  status=0
  echo "== checks: $server_checks against Dovecot, as many with unseen-only on, $peer_checks against the scripted server; $network_cycles times the network away and back"
  run_win "$b/win64/tests/soak_driver.exe" "$(winpath "$b/win64/sorvane.exe")" "$(winpath "$work/start")" \
    "$user" "$pass" "$server_checks" "$peer_checks" "$network_cycles" \
    $bound_handles $bound_threads $bound_user_objects $bound_gdi_objects $bound_private_bytes || status=1
  echo "== settings file: $saves interrupted saves"
  run_win "$b/win64/tests/save_crash_driver.exe" "$(winpath "$work/saves")" "$saves" || status=1
  exit $status
fi

work=$b/soak
rm -rf "$work"; mkdir -p "$work"
export work
tests/services/dovecot.sh start >/dev/null
tests/services/late_address.sh start
trap 'tests/services/dovecot.sh stop >/dev/null 2>&1 || true; tests/services/late_address.sh stop || true' EXIT
started=$(date +%s)
status=0
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display || status=1
echo "soak took $(( $(date +%s) - started )) s: $([ $status = 0 ] && echo PASSED || echo FAILED)"
exit $status
