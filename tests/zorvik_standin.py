"""A stand-in Zorvik platform: the two endpoints the client calls, on 127.0.0.1.

    GET /api/workspaces           the workspaces, the joined one "current"
    PUT /api/workspaces/current   {"workspace_id": <int or null>}; 404 for an unknown id

Tests run it in a thread (`running_platform`); by hand:

    .venv-3.8/bin/python tests/zorvik_standin.py [--port 9999] [--fail 500] [--tls]
        [--mode drip|stall|echo|inflate|close|...] [--drip-interval 2] [--inflate-mb 150]
        [--delay 0.2]

`fail_status` makes it answer every request with that status and a body
{"error": <fail_message>}; `raw_answer` makes it answer 200 with those bytes;
`delay` makes it wait that many seconds before it answers (each request on
its own, as a slow platform serving many at once).
`mode` makes it misbehave:

- drip: the whole answer, status line and headers included, one byte every
  `drip_interval` seconds;
- stall: the headers of a 200 answer, then nothing until the client leaves;
- echo: 401 with an error text that repeats the request's Authorization header;
- inflate: 200 with a gzip body that inflates to `inflate_bytes`;
- close: closes the connection without answering;
- drop-kept-alive: closes a kept-alive connection when asked on it again,
  without answering (once; later requests are answered);
- many-headers, long-header, no-status-line: an answer that is not valid
  HTTP (101 header lines; a 100 KB header line; a body without status line
  and headers).

With `clock` (a test's clock with `advance(seconds)`), drip and stall spend
its time instead of real time: drip advances it by `drip_interval` for each
byte (and waits a few milliseconds), stall by an hour before it answers.
With `tls`, it serves https with a self-signed certificate for 127.0.0.1.
"""
import argparse
import asyncio
import contextlib
import json
import os
import ssl
import threading
import zlib
from typing import Any, Dict, Iterator, List, Optional, Set

import tornado.httpserver
import tornado.iostream
import tornado.netutil
import tornado.web

BROKEN = {
    "many-headers": b"HTTP/1.1 200 OK\r\n" + b"X-Filler: x\r\n" * 101 + b"Content-Length: 2\r\n\r\n[]",
    "long-header": b"HTTP/1.1 200 OK\r\nX-Filler: " + b"x" * 100_000 + b"\r\n\r\n[]",
    "no-status-line": b'[{"id": 10, "name": "Platform Research"}]\r\n',
}
MODES = ("drip", "stall", "echo", "inflate", "close", "drop-kept-alive", *BROKEN)
# A self-signed certificate for 127.0.0.1 with its key, for `running_platform(tls=True)`;
# clients trust it through REQUESTS_CA_BUNDLE.
TLS_PEM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "zorvik_standin_tls.pem")


class Platform:
    """What the stand-in holds, and what it has been asked."""

    def __init__(self) -> None:
        self.workspaces: List[Dict[str, Any]] = [
            {"id": 10, "name": "Platform Research"},
            {"id": 20, "name": "Platform Sandbox"},
        ]
        self.current: Optional[int] = None
        self.fail_status: Optional[int] = None
        self.fail_message = "The platform failed."
        self.raw_answer: Optional[bytes] = None
        self.mode: Optional[str] = None
        self.drip_interval = 2.0
        self.delay = 0.0
        self.inflate_bytes = 150 * 1024 * 1024
        self.clock: Any = None
        # drop-kept-alive: the connections asked on, and whether one was dropped
        self.connections: Set[Any] = set()
        self.dropped = False
        # method, path, authorization and the client's port of each request
        self.seen: List[Dict[str, Any]] = []


_INFLATING: Dict[int, bytes] = {}


def inflating_body(size: int) -> bytes:
    """gzip of `size` bytes of JSON-looking white space (about size/1000 bytes)."""
    if size not in _INFLATING:
        packer = zlib.compressobj(9, zlib.DEFLATED, 16 + zlib.MAX_WBITS)
        parts = [packer.compress(b"[")]
        block = b" " * (1024 * 1024)
        for start in range(1, size, len(block)):
            parts.append(packer.compress(block[:size - start]))
        _INFLATING[size] = b"".join(parts) + packer.flush()
    return _INFLATING[size]


class _Handler(tornado.web.RequestHandler):
    def initialize(self, platform: Platform) -> None:
        self.platform = platform

    async def prepare(self) -> None:
        p = self.platform
        authorization = self.request.headers.get("Authorization")
        p.seen.append({
            "method": self.request.method, "path": self.request.path,
            "authorization": authorization,
            "client_port": self.request.connection.stream.socket.getpeername()[1]})
        if p.delay:
            await asyncio.sleep(p.delay)
        if p.mode == "drip":
            await self.drip()
        elif p.mode == "stall":
            await self.stall()
        elif p.mode == "echo":
            self.answer(401, {"error": f"Not authorized: {authorization}"})
        elif p.mode in BROKEN:
            self.raw(BROKEN[p.mode])
        elif p.mode == "close" or (p.mode == "drop-kept-alive" and self.kept_alive()):
            self.raw(b"")
        elif p.mode == "inflate":
            self.set_header("Content-Type", "application/json")
            self.set_header("Content-Encoding", "gzip")
            self.finish(inflating_body(p.inflate_bytes))
        elif p.fail_status is not None:
            if p.fail_status in (429, 503):
                self.set_header("Retry-After", "2")  # as a platform under load would
            self.answer(p.fail_status, {"error": p.fail_message})
        elif p.raw_answer is not None:
            self.finish(p.raw_answer)

    async def drip(self) -> None:
        body = json.dumps([dict(w, current=False) for w in self.platform.workspaces]).encode()
        raw = (b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
               b"Content-Length: %d\r\n\r\n%s" % (len(body), body))
        stream = self.detach()
        clock = self.platform.clock
        try:
            for i in range(len(raw)):
                await stream.write(raw[i:i + 1])
                if clock is None:
                    await asyncio.sleep(self.platform.drip_interval)
                else:
                    clock.advance(self.platform.drip_interval)
                    await asyncio.sleep(0.005)
        except (tornado.iostream.StreamClosedError, asyncio.CancelledError):
            pass  # the client left, or the stand-in stops
        stream.close()

    async def stall(self) -> None:
        stream = self.detach()
        if self.platform.clock is not None:
            self.platform.clock.advance(3600)
        try:
            await stream.write(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                               b"Content-Length: 100\r\n\r\n")
            await stream.read_until_close()
        except (tornado.iostream.StreamClosedError, asyncio.CancelledError):
            pass
        stream.close()

    def raw(self, data: bytes) -> None:
        """Sends `data` as it is, and closes the connection."""
        stream = self.detach()
        stream.write(data).add_done_callback(lambda _: stream.close())

    def kept_alive(self) -> bool:
        """Whether to drop this connection: asked on before, and none dropped yet."""
        p = self.platform
        stream = self.request.connection.stream
        if stream in p.connections and not p.dropped:
            p.dropped = True
            return True
        p.connections.add(stream)
        return False

    def answer(self, status: int, body: Any) -> None:
        self.set_status(status)
        self.set_header("Content-Type", "application/json")
        self.finish(json.dumps(body))


class WorkspacesHandler(_Handler):
    def get(self) -> None:
        p = self.platform
        self.answer(200, [dict(w, current=w["id"] == p.current) for w in p.workspaces])


class CurrentHandler(_Handler):
    def put(self) -> None:
        try:
            workspace_id = json.loads(self.request.body)["workspace_id"]
        except (ValueError, TypeError, KeyError):
            workspace_id = "missing"
        if workspace_id is not None and type(workspace_id) is not int:
            return self.answer(400, {"error": "workspace_id must be an integer or null."})
        if workspace_id is not None and all(w["id"] != workspace_id for w in self.platform.workspaces):
            return self.answer(404, {"error": f"Workspace {workspace_id} does not exist."})
        self.platform.current = workspace_id
        self.answer(200, {"workspace_id": workspace_id})


def make_app(platform: Platform) -> tornado.web.Application:
    args = {"platform": platform}
    return tornado.web.Application([
        (r"/api/workspaces", WorkspacesHandler, args),
        (r"/api/workspaces/current", CurrentHandler, args),
    ])


def _tls_context() -> ssl.SSLContext:
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(TLS_PEM)
    return context


@contextlib.contextmanager
def running_platform(platform: Platform, tls: bool = False) -> Iterator[str]:
    """Serves `platform` from a thread of its own and yields its base URL
    (https with `tls`).

    Its own thread and loop: the handler calls it synchronously from inside
    the Jupyter server's loop.
    """
    tls_context = _tls_context() if tls else None
    loop = asyncio.new_event_loop()
    sockets = tornado.netutil.bind_sockets(0, "127.0.0.1")
    port = sockets[0].getsockname()[1]
    started = threading.Event()
    holder: Dict[str, Any] = {}

    def run() -> None:
        asyncio.set_event_loop(loop)

        async def start() -> None:
            server = tornado.httpserver.HTTPServer(make_app(platform), ssl_options=tls_context)
            server.add_sockets(sockets)
            holder["server"] = server

        loop.run_until_complete(start())
        started.set()
        loop.run_forever()
        server = holder["server"]
        server.stop()
        loop.run_until_complete(server.close_all_connections())
        # What still drips or stalls ends with the stand-in.
        pending = asyncio.all_tasks(loop)
        for task in pending:
            task.cancel()
        loop.run_until_complete(asyncio.gather(*pending, return_exceptions=True))
        loop.close()

    thread = threading.Thread(target=run, name="zorvik-standin", daemon=True)
    thread.start()
    if not started.wait(10):
        raise RuntimeError("the stand-in platform did not start")
    try:
        yield f"{'https' if tls else 'http'}://127.0.0.1:{port}"
    finally:
        loop.call_soon_threadsafe(loop.stop)
        thread.join(10)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=9999)
    parser.add_argument("--fail", type=int, metavar="STATUS", help="answer every request with STATUS")
    parser.add_argument("--mode", choices=MODES, help="misbehave this way")
    parser.add_argument("--drip-interval", type=float, default=2.0, metavar="SECONDS")
    parser.add_argument("--inflate-mb", type=int, default=150, metavar="MB")
    parser.add_argument("--delay", type=float, default=0.0, metavar="SECONDS",
                        help="wait this long before answering")
    parser.add_argument("--tls", action="store_true", help="serve https, self-signed")
    options = parser.parse_args()
    platform = Platform()
    platform.fail_status = options.fail
    platform.mode = options.mode
    platform.drip_interval = options.drip_interval
    platform.inflate_bytes = options.inflate_mb * 1024 * 1024
    platform.delay = options.delay

    async def serve() -> None:
        make_app(platform).listen(options.port, address="127.0.0.1",
                                  ssl_options=_tls_context() if options.tls else None)
        print(f"Zorvik stand-in on {'https' if options.tls else 'http'}://127.0.0.1:{options.port}",
              flush=True)
        await asyncio.Event().wait()

    try:
        asyncio.run(serve())
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
