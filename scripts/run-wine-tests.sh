#!/usr/bin/env bash
# Runs the Wine test suites of build/win64 on the current display, with one
# wineserver for the whole run, started here so that it lives in the
# caller's network namespace (Wine's sockets are made by the wineserver).
# Arguments go to ctest (for instance -R notify).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
export WINEPREFIX=${WINEPREFIX:-$b/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=d"

wineserver -k 2>/dev/null
wineserver -p
LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
# Every program of the prefix runs inside one virtual desktop, with its own
# taskbar and notification area. Without it, each window hidden on a bare X
# display waits two seconds for a window manager that never answers.
LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
rc=0
ctest --test-dir "$b/win64" --output-on-failure "$@" || rc=1
wineserver -k 2>/dev/null
exit $rc
