#!/usr/bin/env bash
# Speed and footprint, side by side. Inside a private network namespace,
# the test Dovecot sits behind an added delay of 25 ms each way (one round
# trip 50 ms): `tc qdisc ... netem` on loopback where the kernel has netem,
# else a delaying relay (tests/stress/delay_relay.py) that models the same
# link. Then, in one run, for plain POP3, POP3 over TLS (pop3s) and STARTTLS:
#   - 30 checks of the program (under Wine) timed from the check request to
#     the result message (plain: 30 more with "report only mail not seen
#     before" on, each finding nothing new, in a mailbox of 300 and one of
#     50,000 messages: UIDL n of the last and the first message in the
#     login's flight, and the bytes the program received per check,
#     whatever the mailbox holds; and 30 more with "show sender and subject
#     of new mail" on: TOP for the three new messages, in one flight with
#     QUIT where the server pipelines (Dovecot does), one round trip more;
#     and 30 more with a second account on the same server, checked beside
#     the first on its own connection);
#   - 30 runs of `fetchmail --check` (with --ssl, or STARTTLS required) and
#     of a minimal client doing only connect, (STLS,) greeting, USER, PASS,
#     STAT and QUIT;
#   - each median and its ratio to the protocol's floor: connect, the
#     greeting, USER, PASS, STAT and QUIT, one round trip each (plain: 6 x
#     50 ms = 300 ms), the sequential floor that a client pays one command
#     at a time; the program's rows also against the pipelined floor of a
#     server that lists PIPELINING (Dovecot does), where USER, PASS, STAT
#     and QUIT go in one flight: three round trips fewer (plain 150 ms); STARTTLS adds STLS and the handshake (2 round trips
#     for TLS 1.2, 1 for TLS 1.3, where the client's Finished goes with
#     USER; Dovecot's log shows the version); with TLS from the first byte
#     the handshake takes 2 round trips of either version and the greeting
#     comes with (1.2) or after (1.3) its last one: 7 x 50 ms = 350 ms;
#   - with the relay: the median time from the connect to the QUIT reply
#     as the relay delivered it, which tells the network part of a check
#     from the client's own part;
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
    --headers) variant=headers; shift ;;
    --two) variant=two; shift ;;
    --account) user=$2; pass=$3; shift 3 ;;
    *) echo "usage: $0 [--idle SECONDS] [--checks N]" >&2; exit 2 ;;
  esac
done
delay_ms=25
rtt_ms=$((2 * delay_ms))
# The test Dovecot's account with three messages (tests/services/dovecot.sh).
user=${user:-three}
pass=${pass:-three-pass}
# Its accounts for "report only mail not seen before": 300 messages, and
# the large one, written with this many.
large_messages=50000

if [ "${on_display:-}" = 1 ]; then
  start_wine
  trap stop_wine EXIT
  run_win "$b/win64/tests/bench_driver.exe" "$(winpath "$b/win64/sorvane.exe")" "$(winpath "$work/start${variant:-}$user")" \
    "$server" "$user" "$pass" "$checks" "$idle" "${variant:-}"
  exit $?
fi

work=$b/bench
rm -rf "$work"; mkdir -p "$work"
relay_pids=()
cleanup() {
  for p in "${relay_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  tests/services/dovecot.sh stop >/dev/null 2>&1 || true
}
trap cleanup EXIT
# Dovecot as a busy server runs: login and POP3 processes started ahead and
# kept, so that a login costs the server about 2 ms, not the 30 ms of two
# process starts that no client could save; the large mailbox in Dovecot's
# own store (mdbox), where a login does not read a listing of every file
# (in a maildir of 50,000 files, STAT alone costs the server 0.3 s).
DOVECOT_PROCESSES=kept LARGE_FORMAT=mdbox LARGE_MESSAGES=$large_messages tests/services/dovecot.sh start >/dev/null
ca=$b/tls/ca.crt
dovecot_log=$b/dovecot/dovecot.log

# One relay per kind of check, each with its own log: plain POP3 as before
# on 127.0.0.5:110; TLS through localhost, the name in the test certificate.
relay() { # kind, listen address, port, target port
  python3 tests/stress/delay_relay.py "$2" "$3" 127.0.0.1 "$4" $delay_ms "$work/relay-$1.log" &
  relay_pids+=($!)
  for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('$2', $3), 1).close()" 2>/dev/null && break
    sleep 0.1
  done
}
if tc qdisc add dev lo root netem delay ${delay_ms}ms 2>/dev/null; then
  link="netem on loopback, ${delay_ms} ms each way"
  declare -A host=([plain]=127.0.0.1 [pop3s]=localhost [starttls]=localhost)
  declare -A port=([plain]=110 [pop3s]=995 [starttls]=110)
else
  link="no netem in this kernel: delaying relays to Dovecot, ${delay_ms} ms each way"
  declare -A host=([plain]=127.0.0.5 [pop3s]=localhost [starttls]=localhost)
  declare -A port=([plain]=110 [pop3s]=1995 [starttls]=1110)
  relay plain 127.0.0.5 110 110
  relay pop3s 127.0.0.1 1995 995
  relay starttls 127.0.0.1 1110 110
  sleep 0.2
  for k in plain pop3s starttls; do : >"$work/relay-$k.log"; done
fi
declare -A text=([plain]=${host[plain]} [pop3s]=pop3s://localhost:${port[pop3s]}
  [starttls]=starttls://localhost:${port[starttls]})
export work
echo "link: $link; one round trip ${rtt_ms} ms"

# The relay's figures of the sessions since its last reading: client writes
# per session, the median from the connect to the QUIT reply, and the
# median of the bytes the client received.
relay_figures() { # kind
  local log=$work/relay-$1.log
  [ -f "$log" ] || { echo "relay: n/a"; return; }
  python3 -c "
import statistics
v = [l.split() for l in open('$log') if l.strip()]
print('relay: %.1f client writes per session, connect to QUIT reply %.1f ms, %d bytes received' % (
    sum(int(w[0]) for w in v) / len(v), statistics.median(float(w[1]) for w in v),
    statistics.median(int(w[4]) for w in v)) if v else 'relay: n/a')"
}

# Where the program's time goes, each check set beside the relay's session
# that began within it: request to connect, connect to the QUIT reply, and
# the QUIT reply to the result on screen (medians).
program_split() { # kind [program output]
  local log=$work/relay-$1.log
  [ -f "$log" ] || return 0
  grep '^program check wall' "${2:-$work/program-$1.txt}" | python3 -c "
import statistics, sys
sessions = [[float(x) for x in l.split()[2:4]] for l in open('$log') if l.strip()]
parts = []
for line in sys.stdin:
    asked, shown = (float(x) for x in line.split()[3:5])
    within = [s for s in sessions if asked <= s[0] <= shown]
    if len(within) == 1:
        parts.append((within[0][0] - asked, within[0][1] - within[0][0], shown - within[0][1]))
if parts:
    m = [statistics.median(p[i] for p in parts) for i in range(3)]
    print('  program, %d checks: request to connect %.1f ms, connect to QUIT reply %.1f ms, QUIT reply to result %.1f ms' % (len(parts), *m))"
}

# The TLS version of the logins Dovecot logged since the last reading, in
# $version.
log_mark=0
read_version() {
  version=$(python3 -c "
import collections, re
f = open('$dovecot_log', errors='replace'); f.seek($log_mark)
v = collections.Counter(re.findall(r'Login: .*, TLS, (TLSv1\.[0-9])', f.read()))
print(v.most_common(1)[0][0] if v else 'none')")
  log_mark=$(stat -c %s "$dovecot_log")
}

# The floor in milliseconds, as in the comment at the top.
floor() { # kind, TLS version
  local trips=6
  case $1 in
    pop3s) trips=7 ;;
    starttls) [ "$2" = TLSv1.2 ] && trips=9 || trips=8 ;;
  esac
  echo $((trips * rtt_ms))
}

# One line of figures from the milliseconds on stdin.
summary() { # name, floor
  python3 -c "
import statistics, sys
v = [float(x) for x in sys.stdin if x.strip()]
m = statistics.median(v)
print('%-28s %4d runs  median %7.1f ms  min %7.1f  max %7.1f  ratio to floor %.2f' % ('$1', len(v), m, min(v), max(v), m / $2))"
}

# The median of a line of figures.
median_of() { # line
  echo "$1" | awk '{for (i = 1; i < NF; i++) if ($i == "median") print $(i + 1)}'
}

# fetchmail --check, from a throwaway home with its run control file and
# its own lock (as root it would take the machine's, shared with any other
# fetchmail, and refuse to run beside one).
fetchmail_runs() { # kind
  local tls=""
  case $1 in
    pop3s) tls="ssl sslcertck sslcertfile \"$ca\" sslproto 'tls1.2+'" ;;
    starttls) tls="sslcertck sslcertfile \"$ca\" sslproto 'tls1.2+'" ;;
    *) tls="sslproto ''" ;;
  esac
  mkdir -p "$work/fetchmail"
  cat >"$work/fetchmail/rc" <<RC
set no syslog
poll ${host[$1]} protocol pop3 port ${port[$1]} auth password user "$user" password "$pass" $tls
RC
  chmod 600 "$work/fetchmail/rc"
  HOME=$work/fetchmail FETCHMAILHOME=$work/fetchmail python3 -c "
import subprocess, sys, time
for _ in range($checks):
    t0 = time.perf_counter()
    r = subprocess.run(['fetchmail', '--check', '--nodetach', '-f', '$work/fetchmail/rc',
                        '--pidfile', '$work/fetchmail/fetchmail.pid'],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ms = (time.perf_counter() - t0) * 1000
    if r.returncode not in (0, 1):
        sys.exit('fetchmail failed: %d' % r.returncode)
    print('%.1f' % ms)"
}

report=()
read_version
for kind in plain pop3s starttls; do
  # The program, under Wine; the footprint over the idle period once.
  kind_idle=0
  [ $kind = plain ] && kind_idle=$idle
  server=${text[$kind]} xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display --idle "$kind_idle" \
    --checks "$checks" >"$work/program-$kind.txt" 2>&1 || { cat "$work/program-$kind.txt"; exit 1; }
  read_version; f=$(floor $kind "$version")
  report+=("== $kind (${text[$kind]}): floor $f ms; Dovecot saw ${version/none/no TLS}")
  line=$(grep '^program check ms' "$work/program-$kind.txt" | awk '{print $4}' | summary "sorvane.exe (Wine)" "$f")
  report+=("$line")
  program_median=$(median_of "$line")
  pf=$((f - 3 * rtt_ms))
  report+=("  pipelined: $(python3 -c "print('%.2f of the sequential floor (%d ms), %.2f of the pipelined floor (%d ms)' % ($program_median / $f, $f, $program_median / $pf, $pf))")")
  report+=("  $(relay_figures $kind); $(grep -E '^program checks:' "$work/program-$kind.txt")")
  report+=("$(program_split $kind)")
  : >"$work/relay-$kind.log"
  if [ $kind = plain ]; then
    # The same checks with "report only mail not seen before" on, each
    # finding nothing new, in a mailbox of 300 messages and in one of
    # 50,000: the uids of the last and the first message go in the login's
    # flight, so that the floor is the pipelined one. The
    # start-up check before them reads the whole listing once; the relay's
    # medians leave it out.
    medians=() minimal=()
    for account in "many many-pass 300" "large large-pass $large_messages"; do
      set -- $account
      out=$work/program-unseen-$1.txt
      server=${text[$kind]} xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display --unseen --idle 0 \
        --checks "$checks" --account "$1" "$2" >"$out" 2>&1 || { cat "$out"; exit 1; }
      line=$(grep '^unseen check ms' "$out" | awk '{print $4}' | summary "  unseen-only, $3 kept" "$((pf + rtt_ms))")
      report+=("$line")
      medians+=("$(median_of "$line")")
      report+=("  $(relay_figures $kind); $(grep -E '^unseen checks:' "$out")")
      report+=("$(program_split $kind "$out")")
      : >"$work/relay-$kind.log"
      # The server's own part: the minimal client (no UIDL) on the same
      # mailbox.
      python3 tests/stress/min_client.py "${host[$kind]}" "$1" "$2" $checks $kind "${port[$kind]}" "$ca" \
        >"$work/minimal-unseen-$1.txt"
      line=$(summary "  minimal client, $3 kept" "$f" <"$work/minimal-unseen-$1.txt")
      report+=("$line")
      minimal+=("$(median_of "$line")")
      report+=("  $(relay_figures $kind)"); : >"$work/relay-$kind.log"
    done
    report+=("  unseen-only: $large_messages kept / 300 kept = $(python3 -c "
print('%.3f; the server alone (minimal client) %.3f, %+.1f ms' % (${medians[1]} / ${medians[0]},
      ${minimal[1]} / ${minimal[0]}, ${minimal[1]} - ${minimal[0]}))")")
    # The same checks listing sender and subject of the three messages:
    # CAPA once, at the start-up check; then the login's flight, and TOP 3,
    # 2, 1 with QUIT in a second one: the pipelined floor and a round trip.
    out=$work/program-headers.txt
    server=${text[$kind]} xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display --headers --idle 0 \
      --checks "$checks" >"$out" 2>&1 || { cat "$out"; exit 1; }
    line=$(grep '^headers check ms' "$out" | awk '{print $4}' | summary "  sender and subject shown" "$((pf + rtt_ms))")
    report+=("$line")
    more=$(python3 -c "print('%+.1f' % ($(median_of "$line") - $program_median))")
    report+=("  than the plain check: $more ms (at most one round trip, ${rtt_ms} ms)")
    report+=("  $(relay_figures $kind); $(grep -E '^headers checks:' "$out")")
    report+=("$(program_split $kind "$out")")
    : >"$work/relay-$kind.log"
    # Two accounts on the same server, each on its own connection, side
    # by side: the check ends with the slower of the two.
    out=$work/program-two.txt
    server=${text[$kind]} xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display --two --idle 0 \
      --checks "$checks" >"$out" 2>&1 || { cat "$out"; exit 1; }
    line=$(grep '^two check ms' "$out" | awk '{print $4}' | summary "  two accounts side by side" "$f")
    report+=("$line")
    report+=("  two accounts / one account: $(python3 -c "print('%.3f' % ($(median_of "$line") / $program_median))")")
    report+=("  $(relay_figures $kind); $(grep -E '^two checks:' "$out")")
    : >"$work/relay-$kind.log"
  fi

  fetchmail_runs $kind >"$work/fetchmail-$kind.txt"
  read_version; f=$(floor $kind "$version")
  report+=("$(summary "fetchmail --check ($version)" "$f" <"$work/fetchmail-$kind.txt")")
  report+=("  $(relay_figures $kind)"); : >"$work/relay-$kind.log"

  python3 tests/stress/min_client.py "${host[$kind]}" $user $pass $checks $kind "${port[$kind]}" "$ca" \
    >"$work/minimal-$kind.txt"
  read_version; f=$(floor $kind "$version")
  report+=("$(summary "minimal client ($version)" "$f" <"$work/minimal-$kind.txt")")
  report+=("  $(relay_figures $kind)"); : >"$work/relay-$kind.log"
done

echo
echo "== check from request to result (median of $checks), ratio to the floor"
printf '%s\n' "${report[@]}"
echo
echo "== footprint"
echo "shipped 32-bit program: $b/win32/sorvane.exe, $(stat -c %s "$b/win32/sorvane.exe") bytes"
grep -E '^idle ' "$work/program-plain.txt"
