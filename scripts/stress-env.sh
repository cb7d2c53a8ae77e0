# Sourced by scripts/soak.sh and scripts/bench.sh, inside their private
# network namespace: the Wine environment of the test rig, with a prefix of
# its own so that a soak never shares a wineserver with a test run.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
export WINEPREFIX=$b/stress-prefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=d"
export LC_ALL=ja_JP.UTF-8
wine64=/usr/lib/wine/wine64

# A Unix path as a Windows program of the prefix sees it.
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# One wineserver for the run, started here so that it lives in this
# namespace, and one virtual desktop (see scripts/run-wine-tests.sh).
start_wine() {
  mkdir -p "$WINEPREFIX"
  wineserver -k 2>/dev/null || true
  wineserver -p
  $wine64 wineboot -i >/dev/null 2>&1 || true
  $wine64 reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  $wine64 reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
}
stop_wine() { wineserver -k 2>/dev/null || true; }

# Runs a Windows program of the prefix; its CP932 output read as UTF-8.
run_win() { $wine64 "$@" | iconv -f CP932 -t UTF-8; return "${PIPESTATUS[0]}"; }
