#!/usr/bin/env bash
# Speed and footprint, side by side. Inside a private network namespace,
# the test Dovecot sits behind an added delay of 25 ms each way (one round
# trip 50 ms): `tc qdisc ... netem` on loopback where the kernel has netem,
# else a delaying relay (tests/stress/delay_relay.py) that models the same
# link. Then, in one run:
#   - 30 checks of the program (under Wine) timed from the check request to
#     the result message, then 30 more with "report only mail not seen
#     before" on (one more round trip: UIDL);
#   - 30 runs of `fetchmail --check` and of a minimal client doing only
#     connect, greeting, USER, PASS, STAT and QUIT;
#   - each median and its ratio to the protocol's floor: connect plus five
#     round trips (greeting, USER, PASS, STAT, QUIT), 6 x 50 ms = 300 ms;
#   - the size of the shipped 32-bit program;
#   - the program's footprint over an idle period (ten minutes; --idle S).
# usage: scripts/bench.sh [--idle SECONDS] [--checks N]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

NETNS_QUIET_BUILD=1 source scripts/netns.sh
source scripts/stress-env.sh

idle=600
checks=30
while [ $# -gt 0 ]; do
  case $1 in
    --idle) idle=$2; shift 2 ;;
    --checks) checks=$2; shift 2 ;;
    --on-display) on_display=1; shift ;;
    --unseen) variant=unseen; shift ;;
    *) echo "usage: $0 [--idle SECONDS] [--checks N]" >&2; exit 2 ;;
  esac
done
delay_ms=25
floor_ms=$((6 * 2 * delay_ms))
# The test Dovecot's account with three messages (tests/services/dovecot.sh).
user=three
pass=three-pass

if [ "${on_display:-}" = 1 ]; then
  start_wine
  trap stop_wine EXIT
  run_win "$b/win64/tests/bench_driver.exe" "$(winpath "$b/win64/sorvane.exe")" "$(winpath "$work/start${variant:-}")" \
    "$server" "$user" "$pass" "$checks" "$idle" "${variant:-}"
  exit $?
fi

work=$b/bench
rm -rf "$work"; mkdir -p "$work"
relay_pid=
cleanup() {
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null || true
  tests/services/dovecot.sh stop >/dev/null 2>&1 || true
}
trap cleanup EXIT
tests/services/dovecot.sh start >/dev/null

if tc qdisc add dev lo root netem delay ${delay_ms}ms 2>/dev/null; then
  link="netem on loopback, ${delay_ms} ms each way"
  server=127.0.0.1
else
  link="no netem in this kernel: delaying relay 127.0.0.5:110 -> Dovecot, ${delay_ms} ms each way"
  server=127.0.0.5
  python3 tests/stress/delay_relay.py $server 110 127.0.0.1 110 $delay_ms "$work/relay.log" &
  relay_pid=$!
  for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('$server', 110), 1).close()" 2>/dev/null && break
    sleep 0.1
  done
  sleep 0.2; : > "$work/relay.log"
fi
export work server
echo "link: $link; floor: connect + 5 round trips = ${floor_ms} ms"

# Median of the numbers on stdin, and its ratio to the floor.
summary() { # name
  python3 -c "
import statistics, sys
v = [float(x) for x in sys.stdin if x.strip()]
m = statistics.median(v)
print('%-20s %4d runs  median %7.1f ms  min %7.1f  max %7.1f  ratio to floor %.2f' % ('$1', len(v), m, min(v), max(v), m / $floor_ms))"
}
# Client writes per session as the relay saw them, since its last reading.
writes() {
  [ -n "$relay_pid" ] || { echo "n/a"; return; }
  python3 -c "
v = [int(x) for x in open('$work/relay.log') if x.strip()]
print('%.1f' % (sum(v) / len(v)) if v else 'n/a')"
  : > "$work/relay.log"
}

# The program, under Wine.
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display --idle "$idle" --checks "$checks" \
  > "$work/program.txt" 2>&1 || { cat "$work/program.txt"; exit 1; }
program_writes=$(writes)
# The same checks with "report only mail not seen before" on: one more
# round trip (UIDL and its listing) per check.
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display --unseen --idle 0 --checks "$checks" \
  > "$work/program-unseen.txt" 2>&1 || { cat "$work/program-unseen.txt"; exit 1; }
unseen_writes=$(writes)

# fetchmail --check, from a throwaway home with its run control file.
mkdir -p "$work/fetchmail"
cat > "$work/fetchmail/rc" <<RC
set no syslog
poll $server protocol pop3 port 110 auth password user "$user" password "$pass" sslproto ''
RC
chmod 600 "$work/fetchmail/rc"
HOME=$work/fetchmail FETCHMAILHOME=$work/fetchmail python3 -c "
import subprocess, sys, time
for _ in range($checks):
    t0 = time.perf_counter()
    r = subprocess.run(['fetchmail', '--check', '--nodetach', '-f', '$work/fetchmail/rc'],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ms = (time.perf_counter() - t0) * 1000
    if r.returncode not in (0, 1):
        sys.exit('fetchmail failed: %d' % r.returncode)
    print('%.1f' % ms)" > "$work/fetchmail.txt"
fetchmail_writes=$(writes)

python3 tests/stress/min_client.py $server $user $pass $checks > "$work/minimal.txt"
minimal_writes=$(writes)

echo
echo "== check from request to result (median of $checks), ratio to the ${floor_ms} ms floor"
grep '^program check ms' "$work/program.txt" | awk '{print $4}' | summary "sorvane.exe (Wine)"
grep '^unseen check ms' "$work/program-unseen.txt" | awk '{print $4}' | summary "  with unseen-only"
summary "fetchmail --check" < "$work/fetchmail.txt"
summary "minimal client" < "$work/minimal.txt"
echo "client writes per session seen by the relay: sorvane.exe $program_writes (with unseen-only $unseen_writes), fetchmail $fetchmail_writes, minimal client $minimal_writes"
grep -E '^program checks:' "$work/program.txt"
grep -E '^unseen checks:' "$work/program-unseen.txt"
echo
echo "== footprint"
echo "shipped 32-bit program: $b/win32/sorvane.exe, $(stat -c %s "$b/win32/sorvane.exe") bytes"
grep -E '^idle ' "$work/program.txt"
