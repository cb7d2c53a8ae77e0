#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine with the settings every test needs:
# Japanese locale (Wine's ANSI code page 932), no debug noise, no prompts for
# Mono or Gecko, and the test prefix inside the build tree.
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export LC_ALL=ja_JP.UTF-8
exec /usr/lib/wine/wine64 "$@"
