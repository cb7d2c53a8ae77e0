#!/usr/bin/env bash
# Runs chosen Wine suites of an already built tree, without the install, the
# build and the native tests of scripts/test.sh: inside a private network
# namespace with the test services, on Xvfb. Arguments go to ctest, e.g.
#   bash scripts/wine-suites.sh -R 'notify|e2e'
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if [ "${SORVANE_IN_NETNS:-}" != 1 ]; then
  exec unshare --net env SORVANE_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
services_up=()
cleanup() { for s in "${services_up[@]}"; do "$s" stop || true; done; }
trap cleanup EXIT
for s in tests/services/*.sh; do
  "$s" start
  services_up+=("$s")
done
xvfb-run -a -s "-screen 0 1024x768x24" bash scripts/run-wine-tests.sh "$@"
