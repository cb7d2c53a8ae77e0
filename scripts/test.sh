#!/usr/bin/env bash
# Runs every test: installs what is missing, builds all three trees, then
# inside a private network namespace (so that port 110 is free and no
# traffic leaves the machine) starts the test mail server, a virtual display
# and one wineserver, and runs the native and the Wine test suites.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

source scripts/netns.sh

status=0
# The shipped program must stay small.
size=$(stat -c %s "${SORVANE_BUILD:-build}/win32/sorvane.exe")
if [ "$size" -le 65536 ]; then
  echo "size of the shipped 32-bit program: $size bytes (limit 65536)"
else
  echo "FAILED: the shipped 32-bit program is $size bytes, over the 65536-byte limit"
  status=1
fi
b=${SORVANE_BUILD:-build}
if [ -f "$b/native/CTestTestfile.cmake" ]; then
  ctest --test-dir "$b/native" --output-on-failure || status=1
fi

services_up=()
cleanup() {
  for s in "${services_up[@]}"; do "$s" stop || true; done
}
trap cleanup EXIT
for s in tests/services/*.sh; do
  [ -e "$s" ] || continue
  "$s" start
  services_up+=("$s")
done

xvfb-run -a -s "-screen 0 1024x768x24" bash scripts/run-wine-tests.sh "$@" || status=1

exit $status
