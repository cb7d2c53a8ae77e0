#!/usr/bin/env bash
# The real POP3 server of the tests: Dovecot on 127.0.0.1 and ::1, port 110
# (plain, and STARTTLS for a client that asks) and port 995 (TLS from the
# first byte), with a throwaway configuration and mailboxes under the build
# folder and the certificate of the test CA (tests/services/certs.sh). Run it
# inside the tests' private network namespace (scripts/test.sh does), as
# root. Every login line of its log (dovecot.log) says "TLS" when the login
# came over TLS: Dovecot counts a plain login from loopback as secured too.
#   dovecot.sh start   (re)creates the mailboxes and starts the server
#   dovecot.sh stop    stops it
# Accounts (user / password):
#   empty  / empty-pass   no messages
#   three  / three-pass   three messages
#   seen   / seen-pass    three messages (a test delivers more)
#   arrived / arrived-pass no messages (a test writes its own)
#   demo   / demo-pass    three messages from Japanese senders, with
#                         subjects as mailers encode them (the demo)
#   many   / many-pass    300 messages (the soak)
#   large  / large-pass   60,000 messages (LARGE_MESSAGES=n for another
#                         count), written at start by one Python loop
#                         into a maildir, or with LARGE_FORMAT=mdbox moved
#                         into Dovecot's own store, where a login to a large
#                         mailbox does not read a listing of every file
#   太郎   / 秘密         two messages; both in code page 932 bytes, as a
#                         program of that code page sends them
# With DOVECOT_PROCESSES=kept, the login and POP3 processes are started
# ahead and serve one connection after another, as a busy server runs them;
# by default each connection starts its own two processes (about 30 ms of
# the server's time per login here).
set -euo pipefail
# "太郎" and "秘密" in code page 932: the trail byte of 郎 is an ASCII "Y".
taro=$(printf '\x91\xbe\x98\x59')
secret=$(printf '\x94\xe9\x96\xa7')
top=$(cd "$(dirname "$0")/../.." && pwd)
b=${SORVANE_BUILD:-build}
case $b in /*) ;; *) b=$top/$b ;; esac
dir=$b/dovecot
conf=$dir/dovecot.conf
tls=$b/tls

stop() {
  if [ -f "$conf" ] && [ -f "$dir/run/master.pid" ]; then
    doveadm -c "$conf" stop 2>/dev/null || true
    for _ in $(seq 50); do
      [ -f "$dir/run/master.pid" ] && kill -0 "$(cat "$dir/run/master.pid")" 2>/dev/null || return 0
      sleep 0.1
    done
    kill "$(cat "$dir/run/master.pid")" 2>/dev/null || true
  fi
}

message() { # folder, number
  local f=$1/new/$((1700000000 + $2)).M$2P1.sorvane
  printf 'From: sender%s@example.test\r\nTo: three@example.test\r\nSubject: test %s\r\nDate: Mon, 1 Jan 2024 00:00:0%s +0000\r\n\r\nBody of message %s.\r\n' \
    "$2" "$2" "$2" "$2" >"$f"
}

# The demo's mail, its headers encoded the three common ways: UTF-8 in
# base64, ISO-2022-JP in base64, UTF-8 in quoted-printable.
demo_mailbox() { # folder
  python3 - "$1/new" <<'PY'
import os, sys
from email.header import Header
from email.charset import Charset, QP
qp = Charset('utf-8'); qp.header_encoding = QP
mail = [('山田 太郎', 'taro@example.jp', '来週の会議資料', 'utf-8'),
        ('佐藤 花子', 'hanako@example.jp', '【ご案内】年末年始の営業', 'iso-2022-jp'),
        ('ネットショップ', 'shop@example.com', 'ご注文の確認（1024）', qp)]
for n, (name, address, subject, charset) in enumerate(mail, 1):
    head = 'From: %s <%s>\r\nSubject: %s\r\n' % (Header(name, charset).encode(), address,
                                                    Header(subject, charset).encode(linesep='\r\n'))
    with open(os.path.join(sys.argv[1], '%d.M%dP3.sorvane' % (1700000200 + n, n)), 'wb') as f:
        f.write((head + 'Date: Mon, 1 Jan 2024 00:00:0%d +0000\r\n\r\nBody.\r\n' % n).encode('ascii'))
PY
}

# Straight into cur/, each size in its name (S=, W= with CRLF line ends),
# so that Dovecot indexes them without opening or moving a file. The name
# has no ":2," part: Windows cannot name such a file, and a test removes
# one by its name.
large_mailbox() { # folder, count
  python3 - "$1/cur" "$2" <<'PY'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for n in range(1, count + 1):
    body = b'From: sender@example.test\r\nSubject: message %d\r\n\r\nBody.\r\n' % n
    name = '%d.M%dP2.sorvane,S=%d,W=%d' % (1600000000 + n, n, len(body), len(body))
    fd = os.open(os.path.join(folder, name), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    os.write(fd, body)
    os.close(fd)
PY
}

mailboxes() {
  rm -rf "$dir/home"
  for u in empty three seen many large arrived demo "$taro"; do
    mkdir -p "$dir/home/$u/Maildir/new" "$dir/home/$u/Maildir/cur" "$dir/home/$u/Maildir/tmp"
  done
  for n in 1 2 3; do message "$dir/home/three/Maildir" "$n"; message "$dir/home/seen/Maildir" "$n"; done
  for n in 1 2; do message "$dir/home/$taro/Maildir" "$n"; done
  for n in $(seq 300); do message "$dir/home/many/Maildir" "$n"; done
  demo_mailbox "$dir/home/demo/Maildir"
  large_mailbox "$dir/home/large/Maildir" "${LARGE_MESSAGES:-60000}"
  chown -R dovecot:dovecot "$dir/home"
}

configure() {
  mkdir -p "$dir/run" "$dir/state"
  local uid large_store="" kept=""
  uid=$(id -u dovecot)
  [ "${LARGE_FORMAT:-maildir}" = mdbox ] && large_store="::::::userdb_mail=mdbox:$dir/home/large/mdbox"
  [ "${DOVECOT_PROCESSES:-}" = kept ] && kept="
  service_count = 0
  process_min_avail = 1
  process_limit = 20"
  cat >"$dir/passwd" <<PASSWD
empty:{PLAIN}empty-pass
three:{PLAIN}three-pass
seen:{PLAIN}seen-pass
many:{PLAIN}many-pass
large:{PLAIN}large-pass$large_store
arrived:{PLAIN}arrived-pass
demo:{PLAIN}demo-pass
$taro:{PLAIN}$secret
PASSWD
  cat >"$conf" <<CONF
protocols = pop3
listen = 127.0.0.1, ::1
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
ssl = yes
ssl_cert = <$tls/server.crt
ssl_key = <$tls/server.key
ssl_min_protocol = TLSv1.2
# "TLS" (%c) says the login came over TLS, %k with which version.
login_log_format_elements = user=<%u> method=%m rip=%r lip=%l mpid=%e %c %k session=<%{session}>
disable_plaintext_auth = no
auth_mechanisms = plain
# User names are taken byte for byte: any byte, and no lower-casing (an
# ASCII letter can be the trail byte of a double-byte character).
auth_username_chars =
auth_username_format = %u
first_valid_uid = $uid
mail_location = maildir:~/Maildir
passdb {
  driver = passwd-file
  args = scheme=PLAIN $dir/passwd
}
userdb {
  driver = static
  args = uid=dovecot gid=dovecot home=$dir/home/%u
}
service pop3-login {$kept
  inet_listener pop3 {
    address = 127.0.0.1, ::1
    port = 110
  }
  inet_listener pop3s {
    address = 127.0.0.1, ::1
    port = 995
    ssl = yes
  }
}
service pop3 {$kept
}
service anvil {
  chroot =
}
CONF
}

# The large mailbox moved into Dovecot's own store, once the server is up
# (the move looks the user up through it).
move_large_mailbox() {
  [ "${LARGE_FORMAT:-maildir}" = mdbox ] || return 0
  doveadm -c "$conf" import -u large "maildir:$dir/home/large/Maildir" "" all
  rm -rf "$dir/home/large/Maildir"
}

start() {
  stop
  "$top/tests/services/certs.sh" ensure
  configure
  mailboxes
  # The old server is gone: a pid file left by one that was killed would
  # make the new one look dead.
  rm -f "$dir/run/master.pid"
  dovecot -c "$conf"
  # Up to a minute on a loaded machine; a server that died ends the wait.
  for _ in $(seq 600); do
    if (exec 3<>/dev/tcp/127.0.0.1/110) 2>/dev/null && (exec 3<>/dev/tcp/127.0.0.1/995) 2>/dev/null &&
      (exec 3<>/dev/tcp/::1/995) 2>/dev/null; then
      move_large_mailbox
      return 0
    fi
    if [ -f "$dir/run/master.pid" ] && ! kill -0 "$(cat "$dir/run/master.pid")" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "dovecot did not start; see $dir/dovecot.log" >&2
  return 1
}

case ${1:-} in
start) start ;;
stop) stop ;;
*) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
