#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine with the settings every test needs:
# Japanese locale (Wine's ANSI code page 932), no debug noise, no prompts for
# Mono or Gecko, and the test prefix inside the build tree. SORVANE_LC_ALL
# names another locale for a suite that runs under another system code page
# (C.UTF-8: 1252); the program it starts inherits that code page.
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export LC_ALL=${SORVANE_LC_ALL:-ja_JP.UTF-8}
exec /usr/lib/wine/wine64 "$@"
