"""Soak: many mixed requests against the handler inside a real notebook server.

    python tools/soak.py [--requests N] [--concurrency C] [--max-growth-mb M]

Starts a server process (this file with --serve) on 127.0.0.1 with a free
port and token authentication, routes the handler there, and sends N
requests from C keep-alive connections: valid and invalid GETs and POSTs
whose expected status is known in advance. Fails (exit 1) on a server crash,
any unexpected status or malformed answer, or resident memory of the server
growing by more than M MB after the warm-up. The server always stops: it is
told to when the run ends, stops by itself when its parent goes away, and
has a hard time limit.
"""
import argparse
import collections
import http.client
import json
import os
import secrets
import select
import subprocess
import sys
import tempfile
import threading
import time

from loopback import free_port, jupyter_env

ROUTE = "api/zorvik/soak-workspaces"
MODULE_NAME = "corvanix.server.handlers.zorvik.workspace_handler"

# (method, query mode, body, authorised, expected status). The server's
# siblings behave as the mode says; see serve().
CASES = [
    ("GET", "ok", None, True, 200),
    ("GET", "empty", None, True, 200),
    ("GET", "tuple", None, True, 500),          # not a list: answered
    ("GET", "connection", None, True, 502),
    ("GET", "request", None, True, 404),        # parse_zorvik_exception's status
    ("GET", "unparsed", None, True, 502),
    ("GET", "value", None, True, 500),
    ("GET", "none", None, True, 500),           # TypeError leaves get: the framework answers
    ("GET", "no-to-dict", None, True, 500),     # AttributeError leaves get
    ("GET", "ok", None, False, 403),
    ("POST", "ok", b'{"workspace_id": 2}', True, 200),
    ("POST", "ok", b'{"workspace_id": null}', True, 200),
    ("POST", "ok", b'{"workspace_id": 2.5, "other": [1, {"a": "\\u00e9"}]}', True, 200),
    ("POST", "ok", b'{}', True, 400),
    ("POST", "ok", b'{"workspace_id": 99}', True, 404),   # unknown workspace
    ("POST", "ok", b'{"workspace_id": "2"}', True, 500),  # TypeError leaves post
    ("POST", "ok", b'[1, 2]', True, 500),
    ("POST", "ok", b'', True, 500),                       # no body: None
    ("POST", "ok", b'{"workspace_id": ', True, 400),      # not JSON: the framework's 400
    ("POST", "connection", b'{"workspace_id": 1}', True, 502),
    ("POST", "value", b'{"workspace_id": 1}', True, 500),
    ("POST", "ok", b'{"workspace_id": 1}', False, 403),
]


# ---------------------------------------------------------------- server side

def install_siblings(wh):
    """Replaces the module's sibling functions with stand-ins that behave as
    the one-slot list they return says ("ok", "connection", ...)."""
    import requests
    from corvanix.zorvik.schemas import WorkspaceInfo

    workspaces = [WorkspaceInfo(1, "Research"), WorkspaceInfo(2, "Data Engineering"),
                  WorkspaceInfo(3, "Sandbox")]
    mode = ["ok"]

    def get_joined_workspaces():
        m = mode[0]
        if m == "ok":
            return list(workspaces)
        if m == "empty":
            return []
        if m == "tuple":
            return tuple(workspaces)
        if m == "none":
            return None
        if m == "no-to-dict":
            return [object()]
        return fail(m)

    def set_joined_workspace(workspace_id):
        if mode[0] != "ok":
            fail(mode[0])
        if workspace_id not in (None, 1, 2, 3):
            raise requests.exceptions.HTTPError(f"404: Workspace {workspace_id} does not exist.")

    def fail(m):
        if m == "connection":
            raise requests.exceptions.ConnectionError("no route to host")
        if m == "request":
            raise requests.exceptions.HTTPError("404: No such user.")
        if m == "unparsed":
            raise requests.exceptions.RequestException("garbled")
        raise ValueError("sibling failed: " + m)

    wh.get_joined_workspaces = get_joined_workspaces
    wh.set_joined_workspace = set_joined_workspace
    return mode


def soak_handler(wh, mode):
    class SoakHandler(wh.ZRVZorvikWorkspaceHandler):
        # The siblings take their behaviour from the request's query; the
        # handler methods run to completion synchronously, so one slot is
        # enough.
        def get(self):
            mode[0] = self.get_query_argument("mode", "ok")
            return super().get()

        def post(self):
            mode[0] = self.get_query_argument("mode", "ok")
            return super().post()

    return SoakHandler


def make_server(port, token):
    """A server on the port, the handler on ROUTE with the stand-in siblings."""
    import logging

    from jupyter_server.serverapp import ServerApp
    from jupyter_server.utils import url_path_join

    wh = __import__(MODULE_NAME, fromlist=["ZRVZorvikWorkspaceHandler"])
    handler = soak_handler(wh, install_siblings(wh))
    app = ServerApp()
    app.initialize(argv=[
        "--ServerApp.ip=127.0.0.1", f"--ServerApp.port={port}", "--ServerApp.port_retries=0",
        "--ServerApp.open_browser=False", f"--IdentityProvider.token={token}",
        f"--ServerApp.root_dir={tempfile.gettempdir()}", "--ServerApp.log_level=CRITICAL",
        "--ServerApp.terminals_enabled=False", "--ServerApp.allow_root=True",
    ])
    # Failing requests are expected by the thousand: keep their logs quiet.
    for name in ("tornado", "tornado.access", "tornado.application", "tornado.general"):
        logging.getLogger(name).setLevel(logging.CRITICAL)
    app.web_app.add_handlers(".*$", [(url_path_join(app.base_url, ROUTE), handler)])
    return app


def run_until_stopped(app, time_limit):
    """Serves until the parent closes our stdin (or dies), or the time limit."""
    loop = app.io_loop

    def stop():
        loop.add_callback(loop.stop)

    threading.Thread(target=lambda: (sys.stdin.read(), stop()), daemon=True).start()
    limit = threading.Timer(time_limit, stop)
    limit.daemon = True
    limit.start()
    loop.add_callback(lambda: print("READY", flush=True))
    app.start()


def serve(port, token, time_limit):
    run_until_stopped(make_server(port, token), time_limit)


# ---------------------------------------------------------------- client side

def resident_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


class Client:
    """Sends requests numbered from a shared counter over keep-alive connections."""

    def __init__(self, port, token):
        self.port = port
        self.token = token
        self.lock = threading.Lock()
        self.statuses = collections.Counter()
        self.problems = []
        self.sent = 0

    def run(self, count, concurrency):
        self.next_index = 0
        self.limit = count
        threads = [threading.Thread(target=self._worker) for _ in range(concurrency)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    def _take(self):
        with self.lock:
            if self.next_index >= self.limit:
                return None
            self.next_index += 1
            return self.sent + self.next_index - 1

    def _worker(self):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            while True:
                index = self._take()
                if index is None:
                    return
                case = CASES[index % len(CASES)]
                try:
                    problem, status = self._one(conn, case)
                except (OSError, http.client.HTTPException) as e:
                    conn.close()
                    conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
                    problem, status = f"transport failure: {e!r}", "error"
                with self.lock:
                    self.statuses[status] += 1
                    if problem and len(self.problems) < 20:
                        self.problems.append(f"{case[:4]}: {problem}")
        finally:
            conn.close()

    def _one(self, conn, case):
        method, mode, body, authorised, expected = case
        headers = {"Authorization": f"token {self.token}"} if authorised else {}
        if body is not None:
            headers["Content-Type"] = "application/json"
        conn.request(method, f"/{ROUTE}?mode={mode}", body=body, headers=headers)
        response = conn.getresponse()
        data = response.read()
        status = response.status
        if status != expected:
            return f"status {status}, expected {expected}: {data[:200]!r}", status
        if int(response.getheader("Content-Length", "-1")) != len(data):
            return "Content-Length differs from the body's length", status
        try:
            json.loads(data)
        except ValueError:
            return f"body is not JSON: {data[:200]!r}", status
        return None, status

    def finish_phase(self):
        self.sent += self.limit


def soak(total, concurrency, max_growth_mb, time_limit):
    token = secrets.token_hex(16)
    port = free_port()
    home = tempfile.mkdtemp(prefix="wsh-soak-")
    env = jupyter_env(home)
    server = subprocess.Popen(
        [sys.executable, os.path.abspath(__file__), "--serve", str(port), token, str(time_limit)],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, cwd=home, env=env)
    try:
        ready, _, _ = select.select([server.stdout], [], [], 120)
        line = server.stdout.readline() if ready else b""
        if line.strip() != b"READY":
            raise SystemExit("the server did not start")
        client = Client(port, token)
        warm_up = min(total, max(1000, total // 10))
        started = time.monotonic()
        client.run(warm_up, concurrency)
        client.finish_phase()
        rss_after_warm_up = resident_kb(server.pid)
        client.run(total - warm_up, concurrency)
        client.finish_phase()
        elapsed = time.monotonic() - started
        alive = server.poll() is None
        rss_end = resident_kb(server.pid) if alive else None
    finally:
        server.stdin.close()  # asks the server to stop
        try:
            code = server.wait(60)
        except subprocess.TimeoutExpired:
            server.kill()
            code = server.wait()

    growth_mb = (rss_end - rss_after_warm_up) / 1024 if rss_end is not None else float("nan")
    report = {
        "requests": client.sent,
        "seconds": round(elapsed, 1),
        "statuses": dict(sorted(client.statuses.items(), key=lambda kv: str(kv[0]))),
        "rss_after_warm_up_mb": round(rss_after_warm_up / 1024, 2),
        "rss_end_mb": round(rss_end / 1024, 2) if rss_end is not None else None,
        "rss_growth_mb": round(growth_mb, 2),
        "server_exit": code,
        "problems": client.problems,
    }
    print(json.dumps(report, indent=2))
    failures = []
    if not alive or code != 0:
        failures.append(f"server died or exited with {code}")
    if client.problems:
        failures.append(f"{len(client.problems)}+ unexpected answers")
    if not growth_mb <= max_growth_mb:
        failures.append(f"resident memory grew {growth_mb:.2f} MB after warm-up")
    if client.sent != total:
        failures.append(f"sent {client.sent} of {total}")
    for failure in failures:
        print("SOAK FAILED:", failure, file=sys.stderr)
    return 1 if failures else 0


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--serve":
        serve(int(sys.argv[2]), sys.argv[3], float(sys.argv[4]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--requests", type=int, default=100_000)
    parser.add_argument("--concurrency", type=int, default=8)
    parser.add_argument("--max-growth-mb", type=float, default=5.0)
    parser.add_argument("--time-limit", type=float, default=1800,
                        help="seconds after which the server stops regardless")
    args = parser.parse_args()
    return soak(args.requests, args.concurrency, args.max_growth_mb, args.time_limit)


if __name__ == "__main__":
    sys.exit(main())
