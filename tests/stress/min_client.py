#!/usr/bin/env python3
"""The least a client can do to learn whether a POP3 mailbox holds mail:
connect, read the greeting, USER, PASS, STAT, QUIT, one line each. Prints
the milliseconds of each of N runs, one per line.

usage: min_client.py SERVER USER PASS RUNS
"""
import socket
import sys
import time


def line(f):
    reply = f.readline(512)
    if not reply.startswith(b"+"):
        raise SystemExit("refused: %r" % reply)
    return reply


def check(server, user, password):
    with socket.create_connection((server, 110), timeout=30) as s:
        f = s.makefile("rb")
        line(f)
        for command in (b"USER " + user, b"PASS " + password, b"STAT", b"QUIT"):
            s.sendall(command + b"\r\n")
            reply = line(f)
            if command == b"STAT":
                count = int(reply.split()[1])
    return count


def main():
    server, user, password, runs = sys.argv[1:5]
    for _ in range(int(runs)):
        t0 = time.perf_counter()
        check(server, user.encode(), password.encode())
        print("%.1f" % ((time.perf_counter() - t0) * 1000))


main()
