#!/usr/bin/env bash
# Pictures of the four dialogs for the README, and of the settings dialog
# under the system code page 1252: each is shown by the test tool
# show_dialog inside Wine's virtual desktop on a private X display, the
# screen is captured and cropped to the dialog, into docs/*.png.
# Needs a built win64 tree (scripts/build.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac

if [ "${SORVANE_ON_DISPLAY:-}" != 1 ]; then
  exec env SORVANE_ON_DISPLAY=1 xvfb-run -a -s "-screen 0 800x600x24" bash "$0" "$@"
fi

export WINEPREFIX=${WINEPREFIX:-$b/wineprefix}
export WINEDEBUG=-all LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=d"
tool=$b/win64/tests/show_dialog.exe
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

wineserver -p
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1

shot() { # dialog name, picture
  rm -f "$work"/dialog-*.txt
  (cd "$work" && /usr/lib/wine/wine64 explorer /desktop=shots,800x600 "$tool" "$1" >/dev/null 2>&1) &
  pid=$!
  for _ in $(seq 200); do [ -s "$work/dialog-rect.txt" ] && break; sleep 0.1; done
  geometry=$(cat "$work/dialog-rect.txt")
  sleep 0.5
  import -window root "$work/screen.png"
  convert "$work/screen.png" -crop "$geometry" +repage "$top/docs/$2"
  touch "$work/dialog-done.txt"
  wait "$pid" || true
  echo "docs/$2 ($geometry)"
}

for name in settings password progress about; do
  shot "$name" "dialog-$name.png"
done

# The settings dialog under the system code page 1252 (Wine's under
# C.UTF-8), where the templates' face is not installed. The code page is
# the wineserver's, so a server of that locale is started for it.
wineserver -k
wineserver -w
export LC_ALL=C.UTF-8
wineserver -p
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
shot settings dialog-settings-cp1252.png
