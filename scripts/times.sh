# Sourced by the test command's scripts: the time of each part of a run,
# printed as the part ends and, when SORVANE_TIMES names a file, kept there
# for the summary at the end of the run.
part_done() { # name, start (seconds since the epoch)
  local s=$(( $(date +%s) - $2 ))
  printf '== %s: %d min %02d s\n' "$1" $((s / 60)) $((s % 60))
  if [ -n "${SORVANE_TIMES:-}" ]; then
    printf '%s\t%d\n' "$1" "$s" >> "$SORVANE_TIMES"
  fi
  return 0
}
