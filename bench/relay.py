#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that stands for a slow network in front of the benchmark's server:
every answer of the server reaches the client the given milliseconds late. Loopback has no
latency of its own and these machines have no netem, so the bench brings its own.

Each client connection gets one connection to the server. Whenever the server starts answering
after the client has sent something (a request, on a fresh or a kept-alive connection), the
answer's first bytes are held back for the delay; the rest of that answer streams as it comes.
A tool that keeps several connections open waits on each of them at the same time, as it would
on a real network.

Usage: relay.py TARGET_PORT DELAY_MS — prints "RELAY_PORT <port>" once it listens.
"""

import asyncio
import socket
import sys

CHUNK = 256 * 1024


async def client_to_server(reader, writer, state):
    try:
        while True:
            data = await reader.read(CHUNK)
            if not data:
                break
            state["asked"] = True
            writer.write(data)
            await writer.drain()
    except (ConnectionError, OSError):
        pass
    finally:
        # The client has finished sending; the server may still be answering.
        try:
            writer.write_eof()
        except (ConnectionError, OSError, RuntimeError):
            pass


async def server_to_client(reader, writer, state, delay_s):
    try:
        while True:
            data = await reader.read(CHUNK)
            if not data:
                break
            if state["asked"]:
                state["asked"] = False
                await asyncio.sleep(delay_s)
            writer.write(data)
            await writer.drain()
    except (ConnectionError, OSError):
        pass
    finally:
        writer.close()


async def relay_connection(client_reader, client_writer, target_port, delay_s):
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
    except OSError:
        client_writer.close()
        return
    for w in (client_writer, server_writer):
        sock = w.get_extra_info("socket")
        if sock is not None:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    state = {"asked": False}
    await asyncio.gather(client_to_server(client_reader, server_writer, state),
                         server_to_client(server_reader, client_writer, state, delay_s))
    server_writer.close()


async def serve(target_port, delay_ms, ready):
    delay_s = delay_ms / 1000.0
    server = await asyncio.start_server(
        lambda r, w: relay_connection(r, w, target_port, delay_s), "127.0.0.1", 0, backlog=512)
    ready(server.sockets[0].getsockname()[1])
    async with server:
        await server.serve_forever()


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    target_port, delay_ms = int(argv[1]), float(argv[2])

    def ready(port):
        print(f"RELAY_PORT {port}", flush=True)

    try:
        asyncio.run(serve(target_port, delay_ms, ready))
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
