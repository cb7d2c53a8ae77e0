# A service run as one background process, known by its pid file. Sourced
# by the service scripts after they set `pidfile` and `marker` (a word of
# the process's command line, so that a pid taken over by a later process
# is not mistaken for the service).

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
