#!/usr/bin/env python3
"""A TCP relay that adds a one-way delay to every byte in both directions,
standing in for `tc ... netem delay` where the kernel has no netem.

With one-way delay d, a round trip costs 2d as it would on a delayed link.
The client's connect completes at once against the relay, so the relay
holds the new connection for what the handshake and the greeting's trip
would have cost on such a link (1.5 round trips = 3d) before it connects
on: the greeting then arrives 2 round trips after the client called
connect, as over netem. A client that speaks first (a TLS hello) could have
sent its first bytes only once its connect was through (2d), so they reach
the server no earlier than 3d, as over netem, too.

Each connection leaves one line in the log file: the count of client
writes, so the round trips each client made can be told; the
milliseconds from the connect to the last bytes the server sent (the reply
to QUIT, and with TLS its closing alert), as they reach the client; the
wall-clock times (Unix milliseconds) of both, so that a client's own
times can be set beside them; and the bytes the client received.

usage: delay_relay.py LISTEN_ADDR PORT TARGET_ADDR TARGET_PORT DELAY_MS LOG
"""
import asyncio
import sys
import time


async def read_into(reader, queue, delay, not_before, counter=None, size=None):
    """Queues each chunk read, due `delay` seconds after it came."""
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            if counter is not None:
                counter[0] += 1
            if size is not None:
                size[0] += len(data)
            queue.put_nowait((max(time.monotonic() + delay, not_before), data))
    except Exception:
        pass
    queue.put_nowait((time.monotonic() + delay, None))


async def deliver(queue, writer, delivered=None):
    """Writes each queued chunk when it is due; closes after the last."""
    while True:
        due, data = await queue.get()
        if data is None:
            break
        wait = due - time.monotonic()
        if wait > 0:
            await asyncio.sleep(wait)
        try:
            writer.write(data)
            await writer.drain()
        except Exception:
            pass
        if delivered is not None:
            delivered[0] = time.monotonic()
    try:
        writer.close()
    except Exception:
        pass


async def main():
    listen_addr, port, target, target_port, delay_ms, log = sys.argv[1:7]
    delay = float(delay_ms) / 1000.0

    async def serve(creader, cwriter):
        accepted, wall = time.monotonic(), time.time()
        writes, last_reply, received = [0], [accepted], [0]
        upstream, downstream = asyncio.Queue(), asyncio.Queue()
        client = asyncio.ensure_future(read_into(creader, upstream, delay, accepted + 3 * delay, writes))
        await asyncio.sleep(3 * delay)
        try:
            sreader, swriter = await asyncio.open_connection(target, int(target_port))
        except OSError:
            client.cancel()
            cwriter.close()
            return
        await asyncio.gather(client, deliver(upstream, swriter),
                             read_into(sreader, downstream, delay, 0, size=received),
                             deliver(downstream, cwriter, last_reply))
        with open(log, "a") as f:
            span = (last_reply[0] - accepted) * 1000
            f.write("%d %.1f %.1f %.1f %d\n" % (writes[0], span, wall * 1000, wall * 1000 + span, received[0]))

    server = await asyncio.start_server(serve, listen_addr, int(port))
    async with server:
        await server.serve_forever()


asyncio.run(main())
