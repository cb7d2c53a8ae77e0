#!/usr/bin/env python3
"""The least a client can do to learn whether a POP3 mailbox holds mail:
connect, read the greeting, USER, PASS, STAT, QUIT, one line each. Prints
the milliseconds of each of N runs, one per line. With a TLS mode it does
the same inside TLS, from the first byte (pop3s) or after STLS (starttls),
checking the server's certificate against CAFILE and the name SERVER.

usage: min_client.py SERVER USER PASS RUNS [plain|pop3s|starttls PORT CAFILE]
"""
import socket
import ssl
import sys
import time


def line(f):
    reply = f.readline(512)
    if not reply.startswith(b"+"):
        raise SystemExit("refused: %r" % reply)
    return reply


def check(server, user, password, mode="plain", port=110, context=None):
    with socket.create_connection((server, port), timeout=30) as s:
        if mode == "pop3s":
            s = context.wrap_socket(s, server_hostname=server)
        f = s.makefile("rb")
        line(f)
        if mode == "starttls":
            s.sendall(b"STLS\r\n")
            line(f)
            s = context.wrap_socket(s, server_hostname=server)
            f = s.makefile("rb")
        for command in (b"USER " + user, b"PASS " + password, b"STAT", b"QUIT"):
            s.sendall(command + b"\r\n")
            reply = line(f)
            if command == b"STAT":
                count = int(reply.split()[1])
    return count


def main():
    server, user, password, runs = sys.argv[1:5]
    mode, port, context = "plain", 110, None
    if len(sys.argv) > 5 and sys.argv[5] != "plain":
        mode, port = sys.argv[5], int(sys.argv[6])
        context = ssl.create_default_context(cafile=sys.argv[7])
        context.minimum_version = ssl.TLSVersion.TLSv1_2
    for _ in range(int(runs)):
        t0 = time.perf_counter()
        check(server, user.encode(), password.encode(), mode, port, context)
        print("%.1f" % ((time.perf_counter() - t0) * 1000))


main()
