#!/usr/bin/env python3
"""Scripted TLS peers for the tests: one behaviour per port, each on
127.0.0.1 and ::1, so that a check of `pop3s://localhost:PORT` or
`starttls://localhost:PORT` meets exactly that behaviour. The TLS side is
Python's ssl module over memory buffers, so that every record can be held
back, cut or replaced.

Each behaviour logs to DIR/NAME.log, opened anew for every line: "connect",
then every chunk received as "clear: ..." (on the wire before any TLS) or
"tls: ..." (decrypted), escaped, "close_notify" when the client ended TLS
with its alert after QUIT's reply, and "end" when the connection is over.
A test proves from it that no USER or PASS ever arrived.

The slow behaviours hold a step until the test, having seen what the
client shows meanwhile, makes the file DIR/NAME.release; the peer takes it
away and goes on. A text that stood only as long as a pause would be
missed on a loaded machine. Not released in time, the peer logs "not
released" and closes, so the check fails instead of hanging.

usage: tls_peer.py CERT_DIR LOG_DIR
"""
import os
import socket
import ssl
import sys
import threading
import time

CERTS, LOGS = sys.argv[1], sys.argv[2]
LIMIT = 120  # no connection is held longer than this
# Seconds a slow peer waits for its release: longer than the test looks
# for the texts (10 s), short enough that the check's failure is the row's
# message (within 15 s).
HOLD = 12


def log(name, text):
    with open(os.path.join(LOGS, name + ".log"), "a") as f:
        f.write(text + "\n")


def escaped(data):
    return data.decode("latin-1").encode("unicode_escape").decode("ascii")


class Conn:
    def __init__(self, sock, name):
        self.sock, self.name, self.buffer, self.tls = sock, name, b"", None

    def recv(self):
        data = self.sock.recv(65536)
        if not data:
            raise EOFError
        log(self.name, "clear: " + escaped(data) if not self.tls else "record bytes: %d" % len(data))
        return data

    def line(self):
        """One plain line, leaving what came after it in the buffer."""
        while b"\n" not in self.buffer:
            self.buffer += self.recv()
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line

    def send(self, data):
        if self.tls:
            self.tls.write(data)
            data = self.outgoing.read()
        self.sock.sendall(data)

    def held(self):
        """Until the test releases this behaviour."""
        release = os.path.join(LOGS, self.name + ".release")
        deadline = time.monotonic() + HOLD
        while not os.path.exists(release):
            if time.monotonic() > deadline:
                log(self.name, "not released")
                raise EOFError
            time.sleep(0.01)
        os.remove(release)
        log(self.name, "released")

    def start_tls(self, cert, hold=False):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(CERTS, cert), os.path.join(CERTS, "server.key"))
        self.incoming, self.outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        self.tls = context.wrap_bio(self.incoming, self.outgoing, server_side=True)
        self.incoming.write(self.buffer)
        self.buffer = b""
        if hold:
            self.incoming.write(self.recv())
            self.held()
        while True:
            try:
                self.tls.do_handshake()
                break
            except ssl.SSLWantReadError:
                self.flush()
                self.incoming.write(self.recv())
        self.flush()

    def flush(self):
        data = self.outgoing.read()
        if data:
            self.sock.sendall(data)

    def records(self, data):
        """The records that carry `data`, not sent."""
        self.tls.write(data)
        return self.outgoing.read()

    def tls_line(self):
        while b"\n" not in self.buffer:
            try:
                data = self.tls.read(65536)
                if not data:
                    raise EOFError
                log(self.name, "tls: " + escaped(data))
                self.buffer += data
            except ssl.SSLWantReadError:
                self.incoming.write(self.recv())
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line

    def hold(self):
        """Says nothing more; reads until the client goes."""
        while True:
            self.recv()


def dialogue(c):
    """A mailbox of three messages, inside TLS."""
    replies = {b"USER": b"+OK", b"PASS": b"+OK logged in", b"STAT": b"+OK 3 300", b"QUIT": b"+OK bye"}
    while True:
        command = c.tls_line().strip().split(b" ")[0].upper()
        c.send(replies.get(command, b"-ERR unknown") + b"\r\n")
        if command == b"QUIT":
            return closing(c)


def closing(c):
    """Logs the client's close_notify; a socket closed without it ends in
    EOFError instead."""
    while True:
        try:
            if not c.tls.read(65536):
                break
        except ssl.SSLZeroReturnError:
            break
        except ssl.SSLWantReadError:
            c.incoming.write(c.recv())
    log(c.name, "close_notify")


def tls_first(cert):
    def run(c):
        c.start_tls(cert)
        c.send(b"+OK ready\r\n")
        dialogue(c)
    return run


def stall(c):
    c.recv()  # the client's hello, never answered
    c.hold()


def garbage(c):
    c.recv()
    c.sock.sendall(bytes(range(256)) * 8)
    c.hold()


def cut_record(c):
    c.start_tls("server.crt")
    record = c.records(b"+OK ready\r\n")
    c.sock.sendall(record[: len(record) // 2])


def endless(c):
    c.start_tls("server.crt")
    c.send(b"+OK ")
    for _ in range(100):
        c.send(b"z" * 1000)
    c.hold()


def slow_tls_first(c):
    """The greeting waits: the client shows the protocol agreed on."""
    c.start_tls("server.crt")
    c.held()
    c.send(b"+OK ready\r\n")
    dialogue(c)


def starttls(answer):
    """Greets in plain text, answers STLS with `answer(c)`."""
    def run(c):
        c.send(b"+OK ready\r\n")
        while c.line().strip().upper() != b"STLS":
            c.send(b"-ERR say STLS first\r\n")
        answer(c)
    return run


def refuse(c):
    c.send(b"-ERR no TLS here\r\n")
    while True:
        c.line()
        c.send(b"-ERR no TLS here\r\n")


def plain_after_yes(c):
    c.send(b"+OK begin TLS\r\n")
    c.recv()  # the client's hello
    c.sock.sendall(b"+OK ready\r\n")
    while True:
        c.line()
        c.sock.sendall(b"+OK\r\n")


def inject(c):
    # One write, so the extra line is there before the client starts.
    c.send(b"+OK begin TLS\r\n+OK 0 0\r\n")
    c.start_tls("server.crt")
    dialogue(c)


def slow_starttls(c):
    """The handshake waits after the client's hello: the client shows the
    handshake's step. The protocol it then shows stands only until USER,
    which follows without waiting for the server."""
    c.send(b"+OK begin TLS\r\n")
    c.start_tls("server.crt", hold=True)
    dialogue(c)


BEHAVIOURS = {
    9950: ("slow-tls", slow_tls_first),
    9951: ("other-name", tls_first("other-name.crt")),
    9952: ("expired", tls_first("expired.crt")),
    9953: ("self-signed", tls_first("self-signed.crt")),
    9954: ("rogue-issuer", tls_first("rogue.crt")),
    9955: ("stall", stall),
    9956: ("garbage", garbage),
    9957: ("cut-record", cut_record),
    9958: ("endless", endless),
    9964: ("revoked", tls_first("revoked.crt")),
    9965: ("crl-offline", tls_first("crl-offline.crt")),
    9960: ("slow-starttls", starttls(slow_starttls)),
    9961: ("stls-refused", starttls(refuse)),
    9962: ("stls-plain", starttls(plain_after_yes)),
    9963: ("stls-injected", starttls(inject)),
}


def serve(sock, name, behaviour):
    while True:
        client, _ = sock.accept()
        threading.Thread(target=handle, args=(client, name, behaviour), daemon=True).start()


def handle(client, name, behaviour):
    client.settimeout(LIMIT)
    log(name, "connect")
    try:
        behaviour(Conn(client, name))
    except (EOFError, OSError, ssl.SSLError) as e:
        log(name, "stopped: %s" % (type(e).__name__))
    finally:
        client.close()
        log(name, "end")


def main():
    os.makedirs(LOGS, exist_ok=True)
    threads = []
    for port, (name, behaviour) in BEHAVIOURS.items():
        for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
            sock = socket.socket(family, socket.SOCK_STREAM)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind((address, port))
            sock.listen(8)
            threads.append(threading.Thread(target=serve, args=(sock, name, behaviour), daemon=True))
    for t in threads:
        t.start()
    print("listening", flush=True)
    for t in threads:
        t.join()


main()
