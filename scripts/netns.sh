# Sourced first by the scripts that talk to a mail server (test, demo, soak,
# bench): installs what is missing, builds, and runs the calling script
# again inside a private network namespace, so that port 110 is free and no
# traffic leaves the machine. Inside, loopback is brought up and the script
# goes on. Set NETNS_QUIET_BUILD=1 to hide the build's output.
if [ "${SORVANE_IN_NETNS:-}" != 1 ]; then
  . scripts/times.sh
  started=$(date +%s)
  bash scripts/install-deps.sh
  part_done "install" "$started"
  started=$(date +%s)
  if [ "${NETNS_QUIET_BUILD:-}" = 1 ]; then
    bash scripts/build.sh >/dev/null
  else
    bash scripts/build.sh
  fi
  part_done "build" "$started"
  exec unshare --net env SORVANE_IN_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
