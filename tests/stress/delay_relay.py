#!/usr/bin/env python3
"""A TCP relay that adds a one-way delay to every byte in both directions,
standing in for `tc ... netem delay` where the kernel has no netem.

With one-way delay d, a round trip costs 2d as it would on a delayed link.
The client's connect completes at once against the relay, so the relay
holds the new connection for what the handshake and the greeting's trip
would have cost on such a link (1.5 round trips = 3d) before it connects
on: the greeting then arrives 2 round trips after the client called
connect, as over netem. Each connection's count of client writes goes to
the log file, so the round trips each client made can be told.

usage: delay_relay.py LISTEN_ADDR PORT TARGET_ADDR TARGET_PORT DELAY_MS LOG
"""
import asyncio
import sys
import time


async def pump(reader, writer, delay, counter=None):
    """Copies bytes, each chunk released `delay` seconds after it came."""
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        try:
            writer.close()
        except Exception:
            pass

    task = asyncio.ensure_future(deliver())
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            if counter is not None:
                counter[0] += 1
            queue.put_nowait((time.monotonic() + delay, data))
    except Exception:
        pass
    queue.put_nowait((time.monotonic() + delay, None))
    await task


async def main():
    listen_addr, port, target, target_port, delay_ms, log = sys.argv[1:7]
    delay = float(delay_ms) / 1000.0

    async def serve(creader, cwriter):
        writes = [0]
        await asyncio.sleep(3 * delay)
        try:
            sreader, swriter = await asyncio.open_connection(target, int(target_port))
        except OSError:
            cwriter.close()
            return
        await asyncio.gather(pump(creader, swriter, delay, writes), pump(sreader, cwriter, delay))
        with open(log, "a") as f:
            f.write("%d\n" % writes[0])

    server = await asyncio.start_server(serve, listen_addr, int(port))
    async with server:
        await server.serve_forever()


asyncio.run(main())
