# Sourced by scripts/soak.sh and scripts/bench.sh, inside their private
# network namespace: the Wine environment of the test rig, with a prefix of
# its own so that a soak never shares a wineserver with a test run.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
export WINEPREFIX=$b/stress-prefix
export LC_ALL=ja_JP.UTF-8
wine64=/usr/lib/wine/wine64
. "$top/scripts/wine-prefix.sh"

# A Unix path as a Windows program of the prefix sees it.
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# One wineserver for the run, in this namespace, and one virtual desktop.
start_wine() { wine_prefix_up; }
stop_wine() { wine_prefix_down; }

# Runs a Windows program of the prefix; its CP932 output read as UTF-8.
run_win() { $wine64 "$@" | iconv -f CP932 -t UTF-8; return "${PIPESTATUS[0]}"; }
