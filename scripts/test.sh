#!/usr/bin/env bash
# Runs every test: installs what is missing, builds all three trees, then
# inside a private network namespace (so that port 110 is free and no
# traffic leaves the machine) starts the test mail server, a virtual display
# and one wineserver, and runs the native tests (beside the preparation of
# the Wine prefix) and the Wine test suites, the smoke suite of the shipped
# 32-bit program last. Prints the time of each part as it ends, and all of
# them at the end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
if [ "${SORVANE_IN_NETNS:-}" != 1 ]; then
  mkdir -p "$b"
  export SORVANE_TIMES=$b/test-times.txt SORVANE_RUN_STARTED=$(date +%s)
  : > "$SORVANE_TIMES"
fi
source scripts/netns.sh
. scripts/times.sh

status=0
# The shipped program must stay small.
size=$(stat -c %s "$b/win32/sorvane.exe")
if [ "$size" -le 98304 ]; then
  echo "size of the shipped 32-bit program: $size bytes (limit 98304)"
else
  echo "FAILED: the shipped 32-bit program is $size bytes, over the 98304-byte limit"
  status=1
fi

# Arrows between the layers only go down, and no folder includes one of its
# own rank: a planted include between two folders of one rank (the desktop
# services reaching POP3) must be caught, or the check proves nothing.
if ! python3 scripts/layers.py; then
  status=1
fi
planted=$(mktemp -d)
cp -r net pop3 desktop settings check shell resources "$planted"
echo '#include "../pop3/pop3_reply.h"' >> "$planted/desktop/sound.cpp"
if python3 scripts/layers.py "$planted" >/dev/null; then
  echo "FAILED: the layer check passed a planted include between two folders of one rank"
  status=1
fi
rm -rf "$planted"

# The native tests (two of them fuzz for a minute each, on one core) run
# while the Wine prefix is prepared, which on a new prefix is minutes of
# emulated 32-bit set-up; the Wine suites wait for them, so that nothing
# else loads the machine while the suites time the program.
native_rc=$b/native-tests.rc
rm -f "$native_rc"
(
  rc=0
  if [ -f "$b/native/CTestTestfile.cmake" ]; then
    started=$(date +%s)
    ctest --test-dir "$b/native" --output-on-failure -j2 || rc=1
    part_done "native tests (beside the Wine prefix)" "$started"
  fi
  echo $rc > "$native_rc"
) &
export SORVANE_SUITES_AFTER=$native_rc SORVANE_SUITES_AFTER_PID=$!

services_up=()
cleanup() {
  for s in "${services_up[@]}"; do "$s" stop || true; done
}
summary() {
  echo "== times of the parts:"
  awk -F'\t' '{ printf "   %-45s %3d min %02d s\n", $1, $2 / 60, $2 % 60 }' "$SORVANE_TIMES"
  local s=$(( $(date +%s) - SORVANE_RUN_STARTED ))
  printf '   %-45s %3d min %02d s\n' "whole run" $((s / 60)) $((s % 60))
}
trap 'cleanup; summary' EXIT
for s in tests/services/*.sh; do
  [ -e "$s" ] || continue
  "$s" start
  services_up+=("$s")
done

xvfb-run -a -s "-screen 0 1024x768x24" bash scripts/run-wine-tests.sh "$@" || status=1
wait "$SORVANE_SUITES_AFTER_PID" || true
[ "$(cat "$native_rc" 2>/dev/null)" = 0 ] || status=1

exit $status
