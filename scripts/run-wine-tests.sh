#!/usr/bin/env bash
# Runs the Wine test suites of build/win64 on the current display, with one
# wineserver for the whole run. Arguments go to ctest (for instance -R notify).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
export WINEPREFIX=${WINEPREFIX:-$b/wineprefix}
. "$top/scripts/wine-prefix.sh"

wine_prefix_up
rc=0
ctest --test-dir "$b/win64" --output-on-failure "$@" || rc=1
wine_prefix_down
exit $rc
