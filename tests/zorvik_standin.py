"""A stand-in Zorvik platform: the two endpoints the client calls, on 127.0.0.1.

    GET /api/workspaces           the workspaces, the joined one "current"
    PUT /api/workspaces/current   {"workspace_id": <int or null>}; 404 for an unknown id

Tests run it in a thread (`running_platform`); by hand:

    .venv-3.8/bin/python tests/zorvik_standin.py [--port 9999] [--fail 500]

`fail_status` makes it answer every request with that status and a body
{"error": <fail_message>}.
"""
import argparse
import asyncio
import contextlib
import json
import threading
from typing import Any, Dict, Iterator, List, Optional

import tornado.httpserver
import tornado.netutil
import tornado.web


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
        self.seen: List[Dict[str, Any]] = []  # method, path, authorization of each request


class _Handler(tornado.web.RequestHandler):
    def initialize(self, platform: Platform) -> None:
        self.platform = platform

    def prepare(self) -> None:
        self.platform.seen.append({
            "method": self.request.method, "path": self.request.path,
            "authorization": self.request.headers.get("Authorization")})
        if self.platform.fail_status is not None:
            self.answer(self.platform.fail_status, {"error": self.platform.fail_message})

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


@contextlib.contextmanager
def running_platform(platform: Platform) -> Iterator[str]:
    """Serves `platform` from a thread of its own and yields its base URL.

    Its own thread and loop: the handler calls it synchronously from inside
    the Jupyter server's loop.
    """
    loop = asyncio.new_event_loop()
    sockets = tornado.netutil.bind_sockets(0, "127.0.0.1")
    port = sockets[0].getsockname()[1]
    started = threading.Event()
    holder: Dict[str, Any] = {}

    def run() -> None:
        asyncio.set_event_loop(loop)

        async def start() -> None:
            server = tornado.httpserver.HTTPServer(make_app(platform))
            server.add_sockets(sockets)
            holder["server"] = server

        loop.run_until_complete(start())
        started.set()
        loop.run_forever()
        server = holder["server"]
        server.stop()
        loop.run_until_complete(server.close_all_connections())
        loop.close()

    thread = threading.Thread(target=run, name="zorvik-standin", daemon=True)
    thread.start()
    if not started.wait(10):
        raise RuntimeError("the stand-in platform did not start")
    try:
        yield f"http://127.0.0.1:{port}"
    finally:
        loop.call_soon_threadsafe(loop.stop)
        thread.join(10)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=9999)
    parser.add_argument("--fail", type=int, metavar="STATUS", help="answer every request with STATUS")
    options = parser.parse_args()
    platform = Platform()
    platform.fail_status = options.fail

    async def serve() -> None:
        make_app(platform).listen(options.port, address="127.0.0.1")
        print(f"Zorvik stand-in on http://127.0.0.1:{options.port}", flush=True)
        await asyncio.Event().wait()

    try:
        asyncio.run(serve())
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
