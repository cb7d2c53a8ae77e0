#!/usr/bin/env bash
# The demo: a local Dovecot with a demo mailbox of three messages, a
# settings file pointing at it, and the program running against it under
# Wine's virtual desktop (on Xvfb when there is no display). Pictures of
# the progress window, the result message and the tray icon are saved in
# build/demo/. With a display, the program keeps running: try its tray icon
# (left click checks, right click opens the menu) and end it from the menu.
# Then one more check, over TLS through a slow link (a delaying relay, 300
# ms each way, in front of Dovecot's port 995), gives the picture of the
# progress window during the handshake (progress-tls). Last, the demo
# account with mail from Japanese senders is checked twice with "show
# sender and subject" on: the box with the list (arrived-box), then the
# same as a balloon of the tray icon (arrived-balloon).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

NETNS_QUIET_BUILD=1 source scripts/netns.sh
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
out=$b/demo

export WINEPREFIX=$b/demo-prefix
. "$top/scripts/wine-prefix.sh"

# The driver speaks code page 932; each line is shown as soon as it comes.
as_utf8() {
  while IFS= read -r line; do printf '%s\n' "$line" | iconv -f CP932 -t UTF-8; done
}

run_demo() {
  wine_prefix_up
  local keep=()
  [ "${1:-}" = interactive ] && keep=(--keep)
  local rc=0
  LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 "$b/win64/tests/demo_driver.exe" "Z:${b//\//\\}\\win64\\sorvane.exe" \
    "Z:${out//\//\\}\\start" "Z:${out//\//\\}\\pictures" "${keep[@]}" | as_utf8 || rc=1
  LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 "$b/win64/tests/demo_driver.exe" "Z:${b//\//\\}\\win64\\sorvane.exe" \
    "Z:${out//\//\\}\\start-tls" "Z:${out//\//\\}\\pictures" --tls-progress "pop3s://localhost:1995" |
    as_utf8 || rc=1
  LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 "$b/win64/tests/demo_driver.exe" "Z:${b//\//\\}\\win64\\sorvane.exe" \
    "Z:${out//\//\\}\\start-arrived" "Z:${out//\//\\}\\pictures" --arrived 127.0.0.1 | as_utf8 || rc=1
  wine_prefix_down
  return $rc
}

if [ "${1:-}" = --on-display ]; then
  run_demo "${2:-}"
  exit 0
fi

rm -rf "$out"; mkdir -p "$out/start" "$out/start-tls" "$out/start-arrived" "$out/pictures"
tests/services/dovecot.sh start
python3 tests/stress/delay_relay.py 127.0.0.1 1995 127.0.0.1 995 300 "$out/relay.log" &
relay=$!
trap 'kill $relay 2>/dev/null; tests/services/dovecot.sh stop || true' EXIT

if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ]; then
  run_demo interactive
else
  xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display
fi

for f in "$out"/pictures/*.bmp; do
  [ -e "$f" ] || continue
  convert "$f" "${f%.bmp}.png" && rm -f "$f"
done
ls -1 "$out"/pictures/
