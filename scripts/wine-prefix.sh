#!/usr/bin/env bash
# Sourced by the scripts that run Wine programs: prepares $WINEPREFIX and
# leaves one persistent wineserver running for it in the caller's network
# namespace (Wine's sockets are made by the wineserver).
#
# Every program of the prefix runs inside one virtual desktop, with its own
# taskbar and notification area. Without it, each window hidden on a bare X
# display waits two seconds for a window manager that never answers. The
# desktop is chosen when Wine's desktop process starts, so the server is
# started again once the setting is in place.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=d"

wine_prefix_up() {
  local wine64=/usr/lib/wine/wine64
  mkdir -p "$WINEPREFIX"
  wineserver -k 2>/dev/null || true
  wineserver -p </dev/null >/dev/null 2>&1
  LC_ALL=ja_JP.UTF-8 $wine64 wineboot -i >/dev/null 2>&1
  LC_ALL=ja_JP.UTF-8 $wine64 reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  LC_ALL=ja_JP.UTF-8 $wine64 reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p </dev/null >/dev/null 2>&1
  # Start Wine's own services again now, detached from the caller's output:
  # started later by a test program, they would hold the test runner's pipe
  # open after the test has ended.
  LC_ALL=ja_JP.UTF-8 $wine64 wineboot </dev/null >/dev/null 2>&1
  wine_trust_test_ca
}

# The test CA of this run (tests/services/certs.sh) becomes a trusted root of
# this prefix alone, never of the machine. Nothing to do before the CA or
# the tool exists.
wine_trust_test_ca() {
  local top b
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  b=${SORVANE_BUILD:-build}
  case $b in /*) ;; *) b=$top/$b ;; esac
  [ -f "$b/tls/ca.der" ] && [ -f "$b/win64/tests/trust_ca.exe" ] || return 0
  LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 "$b/win64/tests/trust_ca.exe" "Z:${b//\//\\}\\tls\\ca.der" </dev/null
}

wine_prefix_down() {
  wineserver -k 2>/dev/null || true
  return 0
}
