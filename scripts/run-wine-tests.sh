#!/usr/bin/env bash
# Runs the Wine test suites of build/win64 on the current display, with one
# wineserver for the whole run: the suites of the 64-bit build, then the
# smoke suite of the shipped 32-bit program (label "shipped"), each timed.
# Arguments go to ctest instead (for instance -R notify), in one run.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
export WINEPREFIX=${WINEPREFIX:-$b/wineprefix}
. "$top/scripts/wine-prefix.sh"

. "$top/scripts/times.sh"

started=$(date +%s)
wine_prefix_up
part_done "Wine prefix" "$started"
# The test command runs its native tests beside the prefix's preparation:
# the suites start once those have ended.
if [ -n "${SORVANE_SUITES_AFTER:-}" ]; then
  while [ ! -e "$SORVANE_SUITES_AFTER" ] && kill -0 "${SORVANE_SUITES_AFTER_PID:-0}" 2>/dev/null; do
    sleep 1
  done
fi
rc=0
if [ $# -gt 0 ]; then
  ctest --test-dir "$b/win64" --output-on-failure "$@" || rc=1
else
  started=$(date +%s)
  ctest --test-dir "$b/win64" --output-on-failure -LE shipped || rc=1
  part_done "Wine suites of the 64-bit build" "$started"
  started=$(date +%s)
  ctest --test-dir "$b/win64" --output-on-failure -L shipped || rc=1
  part_done "smoke suite of the shipped 32-bit program" "$started"
fi
wine_prefix_down
exit $rc
