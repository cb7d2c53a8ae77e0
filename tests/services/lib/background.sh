# A service run as one background process, known by its pid file. Sourced
# by the service scripts after they set `pidfile`, `marker` (a word of the
# process's command line, so that a pid taken over by a later process is
# not mistaken for the service) and `output` (its log).

running() {
  [ -f "$pidfile" ] && grep -qs "$marker" "/proc/$(cat "$pidfile")/cmdline"
}

stop() {
  if running; then
    kill "$(cat "$pidfile")"
    # Gone before a new one binds the same ports.
    for _ in $(seq 50); do running || break; sleep 0.1; done
  fi
  rm -f "$pidfile"
}

# Starts the service's command (the arguments after the first) and waits
# until the first, a command, says it serves: up to a minute on a loaded
# machine, less when it died. While it starts it is known by its pid as this
# shell's own child, not by `running`: until it has exec'd, its command line
# is this script's, without the marker. A start that fails stops it. 1 then.
start_service() {
  local ready=$1 pid
  shift
  "$@" >"$output" 2>&1 &
  pid=$!
  echo "$pid" >"$pidfile"
  for _ in $(seq 600); do
    "$ready" && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -f "$pidfile"
  return 1
}
