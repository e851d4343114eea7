"""End to end: one real Jupyter server (serve_both.py) with the native and
the plain handler on two routes, loaded from 127.0.0.1 by wrk (or, without
it, a keep-alive Python client), with a bounded number of requests per route
and run, the routes alternating. The server always stops."""
import http.client
import json
import os
import secrets
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "tools"))
from loopback import free_port, jupyter_env, stop_process  # noqa: E402  (after its directory)
POST_BODY = json.dumps({"workspace_id": 7})

# Stops the wrk thread after its share of requests; the rate comes from the
# thread's own clock (wrk itself always runs for its whole duration).
WRK_SCRIPT = """
local ffi = require("ffi")
ffi.cdef[[
typedef struct { long tv_sec; long tv_nsec; } bench_timespec;
int clock_gettime(int clock, bench_timespec *t);
]]
local function now()
  local t = ffi.new("bench_timespec")
  ffi.C.clock_gettime(1, t)
  return tonumber(t.tv_sec) + tonumber(t.tv_nsec) * 1e-9
end

local threads = {}
function setup(thread) table.insert(threads, thread) end

limit = tonumber(os.getenv("BENCH_REQUESTS"))
wrk.method = os.getenv("BENCH_METHOD")
wrk.headers["Authorization"] = "token " .. os.getenv("BENCH_TOKEN")
if wrk.method == "POST" then
  wrk.body = os.getenv("BENCH_BODY")
  wrk.headers["Content-Type"] = "application/json"
end

function init(args)
  count = 0
  started = now()
  last = started
end

function response(status, headers, body)
  count = count + 1
  last = now()
  if count >= limit then wrk.thread:stop() end
end

function done(summary, latency, requests)
  local t = threads[1]
  io.write(string.format("RESULT %d %.6f %d %d %.1f %.1f\\n", t:get("count"),
    t:get("last") - t:get("started"), summary.errors.status,
    summary.errors.connect + summary.errors.read + summary.errors.write + summary.errors.timeout,
    latency:percentile(50), latency:percentile(99)))
end
"""


class Server:
    """serve_both.py in a child process; a context manager that stops it."""

    def __init__(self, python=sys.executable):
        self.port = free_port()
        self.token = secrets.token_hex(16)
        self.dir = tempfile.mkdtemp(prefix="wsh-bench-server-")
        env = jupyter_env(self.dir)
        self.proc = subprocess.Popen(
            [python, os.path.join(HERE, "serve_both.py"), str(self.port), self.token, self.dir],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env, cwd=self.dir)

    def __enter__(self):
        try:
            line = self.proc.stdout.readline()
            if not line.startswith("READY"):
                raise RuntimeError("server did not start: " + line + self.proc.stderr.read())
            self.base_url = line.split()[1]
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        stop_process(self.proc)
        for stream in (self.proc.stdout, self.proc.stderr):
            stream.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, route):
        return self.base_url.rstrip("/") + "/" + route


def run_wrk(server, route, method, requests, connections, expected_rate):
    """Requests/s, p50 and p99 latency in µs of `requests` requests."""
    script = os.path.join(server.dir, "bench.lua")
    with open(script, "w") as f:
        f.write(WRK_SCRIPT)
    env = dict(os.environ, BENCH_REQUESTS=str(requests), BENCH_METHOD=method,
               BENCH_TOKEN=server.token, BENCH_BODY=POST_BODY)
    url = f"http://127.0.0.1:{server.port}{server.path(route)}"
    # Long enough for the requests at a third of the expected rate.
    seconds = 1 + int(3 * requests / expected_rate)
    out = subprocess.run(["wrk", "-t1", f"-c{connections}", f"-d{seconds}s", "-s", script, url],
                         capture_output=True, text=True, env=env, timeout=seconds + 60,
                         check=True).stdout
    fields = next(line for line in out.splitlines() if line.startswith("RESULT")).split()
    count, elapsed = int(fields[1]), float(fields[2])
    bad_status, socket_errors = int(fields[3]), int(fields[4])
    if bad_status or socket_errors or count < requests:
        raise RuntimeError(f"{method} {route}: {count} of {requests} answered, "
                           f"{bad_status} bad answers, {socket_errors} socket errors")
    return count / elapsed, float(fields[5]), float(fields[6])


def run_python_client(server, route, method, requests):
    """One keep-alive connection, requests one after another."""
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
    headers = {"Authorization": "token " + server.token}
    body = None
    if method == "POST":
        body = POST_BODY
        headers["Content-Type"] = "application/json"
    latencies = []
    try:
        start = time.perf_counter()
        for _ in range(requests):
            sent = time.perf_counter()
            connection.request(method, server.path(route), body=body, headers=headers)
            response = connection.getresponse()
            response.read()
            latencies.append((time.perf_counter() - sent) * 1e6)
            if response.status != 200:
                raise RuntimeError(f"{method} {route}: status {response.status}")
        elapsed = time.perf_counter() - start
    finally:
        connection.close()
    latencies.sort()
    p99 = latencies[min(len(latencies) - 1, int(len(latencies) * 0.99))]
    return len(latencies) / elapsed, statistics.median(latencies), p99


def measure(requests, rounds, connections=2, use_wrk=None):
    """{(method, variant): (requests/s, p50 µs, p99 µs)}, each the median
    over the rounds; plus the client used."""
    from serve_both import ROUTES
    if use_wrk is None:
        use_wrk = shutil.which("wrk") is not None
    samples = {}
    with Server() as server:
        for method in ("GET", "POST"):
            rate = min(run_python_client(server, route, method, min(requests, 200))[0]
                       for route in ROUTES.values())  # warm-up, not counted
            for _ in range(rounds):
                for variant, route in ROUTES.items():
                    if use_wrk:
                        result = run_wrk(server, route, method, requests, connections, rate)
                    else:
                        result = run_python_client(server, route, method, requests)
                    samples.setdefault((method, variant), []).append(result)
    results = {key: tuple(statistics.median(column) for column in zip(*values))
               for key, values in samples.items()}
    client = f"wrk, 1 thread, {connections} connections" if use_wrk else \
        "Python client, 1 keep-alive connection"
    return results, client
