#!/usr/bin/env bash
# An address whose server never completes the handshake, for the connect
# step's time limit: inside the tests' private network namespace, every
# connection attempt to 127.0.0.9 is dropped unanswered, so a client's
# connect waits until the client itself gives up. (Where nothing listens,
# as on 127.0.0.3, the attempt is refused at once instead.)
#   silent_address.sh start   sets the rule
#   silent_address.sh stop    removes it
# It only ever touches a private namespace, never the machine's own rules.
set -euo pipefail
address=127.0.0.9
table=sorvane_silent_address

if [ "$(readlink /proc/self/ns/net)" = "$(readlink /proc/1/ns/net)" ]; then
  echo "$0: run it inside the tests' private network namespace" >&2
  exit 1
fi

case ${1:-} in
start)
  nft delete table ip $table 2>/dev/null || true
  nft -f - <<RULES
table ip $table {
  chain input {
    type filter hook input priority 0; policy accept;
    ip daddr $address tcp flags & (syn | ack) == syn drop
  }
}
RULES
  ;;
stop) nft delete table ip $table 2>/dev/null || true ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
