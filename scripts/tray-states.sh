#!/usr/bin/env bash
# The picture of the tray icon's three faces for the README,
# docs/tray-states.png: the program runs under Wine's virtual desktop
# against a scripted server of tests/e2e/tray_states_driver.cpp (new mail,
# then none, then a check that breaks off); after each check the screen is
# saved, and the notification area is cropped, enlarged and labelled with
# the tip the shell holds for the icon.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

NETNS_QUIET_BUILD=1 source scripts/netns.sh
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
out=$b/tray-states

if [ "${1:-}" = --on-display ]; then
  export WINEPREFIX=$b/wineprefix
  . "$top/scripts/wine-prefix.sh"
  wine_prefix_up
  rc=0
  LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 "$b/win64/tests/tray_states_driver.exe" "Z:${b//\//\\}\\win64\\sorvane.exe" \
    "Z:${out//\//\\}\\start" "Z:${out//\//\\}" | iconv -f CP932 -t UTF-8 || rc=1
  wine_prefix_down
  exit $rc
fi

rm -rf "$out"; mkdir -p "$out/start"
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display
font=/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf
panels=()
for name in new-mail no-new-mail failed; do
  tip=$(iconv -f CP932 -t UTF-8 "$out/$name.txt")
  # The right end of the taskbar (the notification area), enlarged, with
  # the tip below it.
  convert "$out/$name.bmp" -gravity SouthEast -crop 120x20+0+0 +repage -filter point -resize 300% \
    -background white -gravity South -splice 0x34 -font "$font" -pointsize 18 -fill black \
    -annotate +0+6 "$tip" "$out/$name.png"
  panels+=("$out/$name.png")
done
convert "${panels[@]}" -bordercolor white -border 6 -append "$top/docs/tray-states.png"
echo "docs/tray-states.png"
