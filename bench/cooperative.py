"""The workspaces route run cooperatively against the same route inline
(the extension's option `cooperative`), each variant in a `jupyter server`
of its own on 127.0.0.1, run one after the other in one benchmark run:

- end to end on the embedded store, GET and POST (each POST changes the
  joined workspace, so it writes and syncs the file), by wrk;
- 20 concurrent GETs against a platform that answers after 200 ms;
- `/api/status` while a GET waits on a platform that never answers, and
  while a POST waits on a disk whose every fsync takes 1 s (slow_fsync.c,
  preloaded into the server);
- resident memory per request waiting on a stalled platform;
- 500 concurrent GETs against a stalled platform: how long each took from
  the moment it was sent, and the server's peak memory growth;
- bursts of 1,000 concurrent GETs against a platform answering in 0.3 s,
  one after another: the server's live greenlets and resident memory after
  each (counted_server.py launches that server);
- 100 GETs at once against a platform answering every call in 0.5 s: the
  answers, and a lone GET a second later (a healthy platform, so no
  cool-down may follow).

Prints the tables; a full run also puts them into bench/RESULTS-<version>.md
in place of those of an earlier run (tools/bench runs it after run.py).

    python bench/cooperative.py [--smoke] [--results FILE | --no-results]
"""
import argparse
import asyncio
import collections
import contextlib
import datetime
import http.client
import os
import platform
import re
import secrets
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from typing import Any, Dict, Iterator, List, Optional, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "tools"))
from loopback import free_port, jupyter_env, stop_process  # noqa: E402  (after its directory)
from machine import machine  # noqa: E402  (beside this file)

STANDIN = os.path.join(HERE, "standin_platform.py")
COUNTED_SERVER = os.path.join(HERE, "counted_server.py")
ROUTE = "/api/zorvik/workspaces"
VARIANTS = ("cooperative", "inline")
HEADING = "## Cooperative route against inline"

FULL = dict(e2e_seconds=2, e2e_rounds=7, concurrent=20, delay=0.2, deadline=5.0, fsync=1.0,
            waiting=200, burst=500, bursts=8, burst_size=1000, burst_delay=0.3, queued=100,
            queue_delay=0.5)
SMOKE = dict(e2e_seconds=1, e2e_rounds=1, concurrent=4, delay=0.2, deadline=1.0, fsync=0.2,
             waiting=10, burst=20, bursts=2, burst_size=20, burst_delay=0.3, queued=12,
             queue_delay=0.5)

WRK_SCRIPT = """
wrk.method = os.getenv("BENCH_METHOD")
wrk.headers["Authorization"] = "token " .. os.getenv("BENCH_TOKEN")
wrk.headers["Content-Type"] = "application/json"
-- each POST joins another workspace than the one before
local bodies = {'{"workspace_id": 1}', '{"workspace_id": 2}'}
local n = 0
function request()
  n = n + 1
  local body = nil
  if wrk.method == "POST" then body = bodies[n % 2 + 1] end
  return wrk.format(nil, nil, nil, body)
end
"""


class Server:
    """`jupyter server` with the extension, in a process of its own; with
    `counted`, under the bench's launcher that reports its live greenlets."""

    def __init__(self, *options: str, env: Optional[Dict[str, str]] = None,
                 counted: bool = False) -> None:
        self.dir = tempfile.mkdtemp(prefix="wsh-bench-coop-")
        self.port = free_port()
        self.token = secrets.token_hex(16)
        environment = jupyter_env(self.dir)
        environment.pop("ZORVIK_URL", None)
        environment.update(env or {})
        self.count_file = os.path.join(self.dir, "greenlets")
        if counted:
            environment["BENCH_COUNT_FILE"] = self.count_file
            launcher = [sys.executable, COUNTED_SERVER]
        else:
            launcher = [os.path.join(sys.prefix, "bin", "jupyter-server")]
        command = [*launcher, "--no-browser",
                   "--ip=127.0.0.1", f"--port={self.port}", "--ServerApp.port_retries=0",
                   f"--IdentityProvider.token={self.token}", f"--ServerApp.root_dir={self.dir}",
                   "--ServerApp.log_level=WARN",
                   f"--ZorvikWorkspacesApp.store_path={self.dir}/store.json", *options]
        if os.getuid() == 0:
            command.append("--allow-root")
        self.log = open(os.path.join(self.dir, "server.log"), "w")
        self.proc = subprocess.Popen(command, stdout=self.log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, env=environment, cwd=self.dir)

    def __enter__(self) -> "Server":
        try:
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and self.proc.poll() is None:
                try:
                    if self.get("/api/status") == 200:
                        return self
                except OSError:
                    pass
                time.sleep(0.2)
            raise RuntimeError("the server did not start:\n" + self.read_log())
        except BaseException:
            self.stop()
            raise

    def __exit__(self, *exc: Any) -> None:
        self.stop()

    def stop(self) -> None:
        stop_process(self.proc)
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def read_log(self) -> str:
        with open(os.path.join(self.dir, "server.log")) as f:
            return f.read()

    def get(self, path: str) -> int:
        return self.fetch(path)[0]

    def fetch(self, path: str) -> Tuple[int, bytes]:
        """(status, body) of a GET."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            connection.request("GET", path, headers={"Authorization": "token " + self.token})
            response = connection.getresponse()
            return response.status, response.read()
        finally:
            connection.close()

    def live_greenlets(self) -> int:
        """The counted server's live greenlets after a full collection."""
        with contextlib.suppress(FileNotFoundError):
            os.remove(self.count_file)
        os.kill(self.proc.pid, signal.SIGUSR2)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            with contextlib.suppress(FileNotFoundError), open(self.count_file) as f:
                return int(f.read())
            time.sleep(0.05)
        raise RuntimeError("the server did not report its greenlets:\n" + self.read_log())

    def memory_kb(self, field: str) -> int:
        with open(f"/proc/{self.proc.pid}/status") as f:
            return int(next(line.split()[1] for line in f if line.startswith(field + ":")))

    def cpu_seconds(self) -> float:
        """User and system time of the server, all its threads."""
        with open(f"/proc/{self.proc.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def reset_peak(self) -> None:
        with open(f"/proc/{self.proc.pid}/clear_refs", "w") as f:
            f.write("5")


def variant_options(variant: str) -> List[str]:
    return [f"--ZorvikWorkspacesApp.cooperative={variant == 'cooperative'}"]


@contextlib.contextmanager
def standin(*options: str) -> Iterator[str]:
    """The bench's stand-in platform in a process of its own; yields its URL."""
    port = free_port()
    proc = subprocess.Popen([sys.executable, STANDIN, str(port), *options],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        proc.stdout.readline()  # listening
        yield f"http://127.0.0.1:{port}"
    finally:
        proc.terminate()
        proc.wait(10)
        proc.stdout.close()


# -- an HTTP/1.1 client on asyncio, for many connections at once ---------------

class Connection:
    def __init__(self, server: Server) -> None:
        self.server = server
        self.reader: Optional[asyncio.StreamReader] = None
        self.writer: Optional[asyncio.StreamWriter] = None

    async def open(self) -> "Connection":
        self.reader, self.writer = await asyncio.open_connection("127.0.0.1", self.server.port)
        return self

    def close(self) -> None:
        if self.writer is not None:
            self.writer.close()

    async def request(self, method: str, path: str, body: str = "") -> Tuple[int, float]:
        """(status, seconds from sending the request to its whole answer)."""
        assert self.reader is not None and self.writer is not None
        head = (f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1:{self.server.port}\r\n"
                f"Authorization: token {self.server.token}\r\n"
                f"Content-Type: application/json\r\nContent-Length: {len(body)}\r\n\r\n")
        start = time.monotonic()
        self.writer.write((head + body).encode())
        status_line = await self.reader.readline()
        length = 0
        while True:
            line = await self.reader.readline()
            if line in (b"\r\n", b""):
                break
            name, _, value = line.decode("latin-1").partition(":")
            if name.strip().lower() == "content-length":
                length = int(value)
        await self.reader.readexactly(length)
        return int(status_line.split()[1]), time.monotonic() - start


async def one_request(server: Server, method: str = "GET", path: str = ROUTE,
                      body: str = "") -> Tuple[int, float]:
    """A request on a connection of its own: (status, seconds) once the
    connection stands; (0, seconds) when the server closed it unanswered."""
    connection = await Connection(server).open()
    try:
        return await connection.request(method, path, body)
    except (asyncio.IncompleteReadError, ConnectionError, IndexError):
        return 0, 0.0
    finally:
        connection.close()


async def status_latencies(server: Server, until: "asyncio.Future[Any]") -> List[float]:
    """Seconds each /api/status took, asked one after another (20 ms apart)
    on one kept-alive connection, until `until` is done."""
    connection = await Connection(server).open()
    took = []
    try:
        while not until.done():
            status, seconds = await connection.request("GET", "/api/status")
            assert status == 200, status
            took.append(seconds)
            await asyncio.sleep(0.02)
    finally:
        connection.close()
    return took


async def status_while(server: Server, method: str, body: str = "") -> Tuple[int, float,
                                                                            List[float]]:
    """(status, seconds) of one request, and the /api/status latencies meanwhile."""
    call = asyncio.ensure_future(one_request(server, method, ROUTE, body))
    await asyncio.sleep(0.1)  # the call waits
    latencies = await status_latencies(server, call)
    status, seconds = await call
    return status, seconds, latencies


def all_at_once(server: Server, n: int) -> Tuple[float, List[Tuple[int, float]]]:
    """(seconds until the last answer, each one's (status, seconds)) of `n`
    GETs sent at once, each on a connection of its own."""
    async def requests():
        start = time.monotonic()
        answers = await asyncio.gather(*(one_request(server) for _ in range(n)))
        return time.monotonic() - start, answers

    return asyncio.run(requests())


# -- the measurements -----------------------------------------------------------

def end_to_end(counts: Dict[str, Any]) -> Dict[str, Dict[str, float]]:
    """{method: figures}: each variant's req/s, p50 and p99 µs and the
    server's CPU µs per request (medians over rounds), and the median of the
    rounds' cooperative/inline ratios (each round runs both variants one
    after the other, in turn first, so a ratio compares like with like on a
    machine whose load changes)."""
    results = {}
    with Server(*variant_options("cooperative")) as cooperative, \
            Server(*variant_options("inline")) as inline:
        servers = {"cooperative": cooperative, "inline": inline}
        for method in ("GET", "POST"):
            for server in servers.values():  # warm-up, not counted
                run_wrk(server, method, 1)
            samples: Dict[str, List[Tuple[float, ...]]] = collections.defaultdict(list)
            for n in range(counts["e2e_rounds"]):
                for variant in (VARIANTS if n % 2 == 0 else VARIANTS[::-1]):
                    server = servers[variant]
                    before = server.cpu_seconds()
                    rate, p50, p99, requests = run_wrk(server, method, counts["e2e_seconds"])
                    cpu = (server.cpu_seconds() - before) / requests * 1e6
                    samples[variant].append((rate, p50, p99, cpu))
            figures = {f"{variant} {name}": statistics.median(column)
                       for variant in VARIANTS
                       for name, column in zip(("rate", "p50", "p99", "cpu"),
                                               zip(*samples[variant]))}
            figures["ratio"] = statistics.median(
                c[0] / i[0] for c, i in zip(samples["cooperative"], samples["inline"]))
            figures["low"], figures["high"] = (
                f(c[0] / i[0] for c, i in zip(samples["cooperative"], samples["inline"]))
                for f in (min, max))
            results[method] = figures
    return results


def run_wrk(server: Server, method: str, seconds: int) -> Tuple[float, float, float, int]:
    script = os.path.join(server.dir, "cooperative.lua")
    with open(script, "w") as f:
        f.write(WRK_SCRIPT)
    env = dict(os.environ, BENCH_METHOD=method, BENCH_TOKEN=server.token)
    out = subprocess.run(["wrk", "-t1", "-c2", f"-d{seconds}s", "--latency", "-s", script,
                          f"http://127.0.0.1:{server.port}{ROUTE}"], capture_output=True,
                         text=True, env=env, timeout=seconds + 60, check=True).stdout
    if "Non-2xx" in out or "Socket errors" in out:
        raise RuntimeError(f"{method}: failed requests\n{out}")
    rate = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))  # type: ignore[union-attr]
    requests = int(re.search(r"(\d+) requests in", out).group(1))  # type: ignore[union-attr]
    return rate, _latency_us(out, "50%"), _latency_us(out, "99%"), requests


def _latency_us(out: str, percentile: str) -> float:
    found = re.search(rf"^\s+{percentile}\s+([\d.]+)(us|ms|s)\s*$", out, re.M)
    value, unit = found.groups()  # type: ignore[union-attr]
    return float(value) * {"us": 1, "ms": 1e3, "s": 1e6}[unit]


def concurrent(counts: Dict[str, Any]) -> Dict[str, Tuple[float, collections.Counter]]:
    """{variant: (seconds for all, statuses)} of concurrent GETs against a slow platform."""
    results = {}
    with standin("--delay", str(counts["delay"])) as url:
        for variant in VARIANTS:
            with Server(*variant_options(variant), env={"ZORVIK_URL": url}) as server:
                assert server.get(ROUTE) == 200  # connections made, workers started

                took, answers = all_at_once(server, counts["concurrent"])
                results[variant] = took, collections.Counter(s for s, _ in answers)
    return results


def status_during_stall(counts: Dict[str, Any]) -> Dict[str, Tuple[int, float, List[float]]]:
    results = {}
    with standin("--stall") as url:
        for variant in VARIANTS:
            with Server(*variant_options(variant), f"--ZorvikWorkspacesApp.deadline="
                        f"{counts['deadline']}", env={"ZORVIK_URL": url}) as server:
                results[variant] = asyncio.run(status_while(server, "GET"))
    return results


def status_during_fsync(counts: Dict[str, Any]) -> Dict[str, Tuple[int, float, List[float]]]:
    build = tempfile.mkdtemp(prefix="wsh-bench-fsync-")
    try:
        shim = os.path.join(build, "slow_fsync.so")
        subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", shim,
                        os.path.join(HERE, "slow_fsync.c"), "-ldl"], check=True)
        env = {"LD_PRELOAD": shim, "SLOW_FSYNC_SECONDS": str(counts["fsync"])}
        results = {}
        for variant in VARIANTS:
            with Server(*variant_options(variant), env=env) as server:
                assert server.get(ROUTE) == 200  # the store is made
                results[variant] = asyncio.run(status_while(server, "POST",
                                                            '{"workspace_id": 2}'))
        return results
    finally:
        shutil.rmtree(build, ignore_errors=True)


def waiting_memory(counts: Dict[str, Any]) -> Tuple[float, int]:
    """(KiB of resident memory per request waiting on a stalled platform,
    requests measured), cooperative."""
    n = counts["waiting"]
    with standin("--stall") as url, Server(
            *variant_options("cooperative"), "--ZorvikWorkspacesApp.deadline=600",
            "--ZorvikWorkspacesApp.cooldown=0", f"--ZorvikWorkspacesApp.max_waiting={10 * n}",
            env={"ZORVIK_URL": url}) as server:

        async def held(count):
            connections = [await Connection(server).open() for _ in range(count)]
            for connection in connections:
                head = (f"GET {ROUTE} HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                        f"Authorization: token {server.token}\r\n\r\n")
                connection.writer.write(head.encode())  # type: ignore[union-attr]
            return connections

        async def measure():
            first = await held(20)  # every worker busy, a queue begun
            await asyncio.sleep(1)
            before = server.memory_kb("VmRSS")
            more = await held(n)
            await asyncio.sleep(1)
            after = server.memory_kb("VmRSS")
            for connection in first + more:
                connection.close()
            return (after - before) / n

        return asyncio.run(measure()), n


def burst(counts: Dict[str, Any]) -> Dict[str, Dict[str, Any]]:
    """{variant: figures} of many concurrent GETs against a stalled platform."""
    results = {}
    with standin("--stall") as url:
        for variant in VARIANTS:
            with Server(*variant_options(variant),
                        f"--ZorvikWorkspacesApp.deadline={counts['deadline']}",
                        env={"ZORVIK_URL": url}) as server:
                assert server.get("/api/status") == 200
                server.reset_peak()
                before = server.memory_kb("VmRSS")

                took, answers = all_at_once(server, counts["burst"])
                results[variant] = {
                    "statuses": collections.Counter(s for s, _ in answers),
                    "max": max(seconds for _, seconds in answers), "all": took,
                    "growth_mb": (server.memory_kb("VmHWM") - before) / 1024}
    return results


def repeated_bursts(counts: Dict[str, Any]) -> List[Tuple[str, collections.Counter, int, float]]:
    """Rows (after what, its answers, live greenlets, resident MB) of bursts
    of concurrent GETs, one after another, against a slow platform; default
    options."""
    rows = []
    with standin("--delay", str(counts["burst_delay"])) as url, Server(
            *variant_options("cooperative"), env={"ZORVIK_URL": url}, counted=True) as server:
        assert server.get(ROUTE) == 200  # a worker and its connection made

        def row(label: str, answers: collections.Counter) -> None:
            time.sleep(1)  # the last connections closed
            rows.append((label, answers, server.live_greenlets(),
                         server.memory_kb("VmRSS") / 1024))

        row("one GET", collections.Counter([200]))
        for n in range(counts["bursts"]):
            answers = all_at_once(server, counts["burst_size"])[1]
            row(f"burst {n + 1}", collections.Counter(s for s, _ in answers))
    return rows


def queueing(counts: Dict[str, Any]) -> Dict[str, Any]:
    """Many GETs at once, default options, against a platform that answers
    every call, slowly; then one GET a second after the last answer."""
    with standin("--delay", str(counts["queue_delay"])) as url, Server(
            *variant_options("cooperative"), env={"ZORVIK_URL": url}) as server:
        assert server.get(ROUTE) == 200

        took, answers = all_at_once(server, counts["queued"])
        time.sleep(1)
        status, body = server.fetch(ROUTE)
        return {"statuses": collections.Counter(s for s, _ in answers), "all": took,
                "after": status, "after body": body.decode("utf-8", "replace")}


# -- the tables -------------------------------------------------------------------

def statuses(counter: collections.Counter) -> str:
    return ", ".join(f"{count}× {status or 'closed'}" for status, count in sorted(counter.items()))


def ms(seconds: float) -> str:
    return f"{seconds * 1000:,.0f}"


def section(counts: Dict[str, Any]) -> List[str]:
    out = [HEADING, "",
           f"- Machine: {machine()}",
           f"- Interpreter: CPython {platform.python_version()}",
           f"- Date: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC", ""]
    if shutil.which("wrk"):
        e2e = end_to_end(counts)
        out += [f"### Cooperative end to end (embedded store; wrk, 1 thread, 2 connections, "
                f"{counts['e2e_seconds']} s per run, {counts['e2e_rounds']} rounds of both "
                f"variants, in turn first; medians; each POST changes the joined workspace)", "",
                "| Request | cooperative req/s | inline req/s | cooperative/inline (rounds' "
                "range) | cooperative p50 / p99 µs | inline p50 / p99 µs "
                "| server CPU µs per request, cooperative / inline |",
                "|---|--:|--:|--:|--:|--:|--:|"]
        for method, label in (("GET", "GET, 3 workspaces"), ("POST", "POST, store written")):
            f = e2e[method]
            out.append(f"| {label} | {f['cooperative rate']:,.0f} | {f['inline rate']:,.0f} "
                       f"| {f['ratio']:.3f} ({f['low']:.2f}–{f['high']:.2f}) "
                       f"| {f['cooperative p50']:,.0f} / {f['cooperative p99']:,.0f} "
                       f"| {f['inline p50']:,.0f} / {f['inline p99']:,.0f} "
                       f"| {f['cooperative cpu']:,.0f} / {f['inline cpu']:,.0f} |")
    else:
        out += ["### Cooperative end to end", "", "Skipped: wrk is not installed."]
    out.append("")

    waits = concurrent(counts)
    out += [f"### Cooperative concurrency ({counts['concurrent']} GETs at once against a "
            f"platform answering each after {ms(counts['delay'])} ms; default 8 workers)", "",
            "| Variant | all answered after ms | answers |", "|---|--:|---|"]
    out += [f"| {v} | {ms(waits[v][0])} | {statuses(waits[v][1])} |" for v in VARIANTS]
    out.append("")

    out += [f"### Cooperative /api/status latency (ms; asked every 20 ms while one call waits)",
            "", "| While | variant | the call | its answer | status asked | median | max |",
            "|---|---|--:|--:|--:|--:|--:|"]
    for label, figures in ((f"GET on a stalled platform (deadline {counts['deadline']:g} s)",
                            status_during_stall(counts)),
                           (f"POST on a disk whose fsync takes {counts['fsync']:g} s",
                            status_during_fsync(counts))):
        for variant in VARIANTS:
            status, seconds, latencies = figures[variant]
            out.append(f"| {label} | {variant} | {ms(seconds)} | {status} | {len(latencies)} "
                       f"| {ms(statistics.median(latencies))} | {ms(max(latencies))} |")
    out.append("")

    per_request, n = waiting_memory(counts)
    out += ["### Cooperative memory per waiting request", "",
            f"{per_request:.1f} KiB of resident memory per GET waiting on a stalled platform "
            f"({n} waiting beside 20 more, 8 of them in the workers; server's VmRSS).", ""]

    bursts = burst(counts)
    out += [f"### Cooperative burst ({counts['burst']} GETs at once against a stalled platform; "
            f"deadline {counts['deadline']:g} s, 8 workers, at most 100 waiting)", "",
            "| Variant | answers | slowest answer ms (from its request) | all answered after ms "
            "| server's peak memory growth MB |", "|---|---|--:|--:|--:|"]
    for variant in VARIANTS:
        b = bursts[variant]
        out.append(f"| {variant} | {statuses(b['statuses'])} | {ms(b['max'])} | {ms(b['all'])} "
                   f"| {b['growth_mb']:.1f} |")
    out.append("")

    rows = repeated_bursts(counts)
    out += [f"### Cooperative repeated bursts ({counts['bursts']} bursts of "
            f"{counts['burst_size']:,} GETs at once, one after another, against a platform "
            f"answering each call after {ms(counts['burst_delay'])} ms; default options)", "",
            "Live greenlets: every greenlet object the server's collector still tracks after a "
            "full collection, counted by a signal hook of the benchmark's own server launcher "
            "(`bench/counted_server.py`); resident memory: the server's VmRSS, read right "
            "after.", "",
            "| After | answers | live greenlets | resident MB |", "|---|---|--:|--:|"]
    out += [f"| {label} | {statuses(answers)} | {live} | {mb:.1f} |"
            for label, answers, live, mb in rows]
    out.append("")

    q = queueing(counts)
    after = str(q["after"]) if q["after"] == 200 else f"{q['after']} {q['after body']}"
    out += [f"### Cooperative queueing ({counts['queued']} GETs at once, default options, "
            f"against a platform answering every call after {ms(counts['queue_delay'])} ms)",
            "", "| answers | all answered after ms | a lone GET 1 s later |", "|---|--:|---|",
            f"| {statuses(q['statuses'])} | {ms(q['all'])} | {after} |", ""]
    return out


def write_into(path: str, lines: List[str]) -> None:
    """Puts the section into `path` in place of an earlier one, else at its end."""
    text = ""
    if os.path.exists(path):
        with open(path) as f:
            text = f.read()
    start = text.find(HEADING)
    if start >= 0:
        following = text.find("\n## ", start + len(HEADING))
        text = text[:start] + (text[following + 1:] if following >= 0 else "")
    with open(path, "w") as f:
        f.write(text.rstrip("\n") + "\n\n" + "\n".join(lines))


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--smoke", action="store_true", help="tiny counts")
    parser.add_argument("--results", help="put the tables into this file (a full run's "
                        "default: bench/RESULTS-<version>.md)")
    parser.add_argument("--no-results", action="store_true", help="write no results file")
    args = parser.parse_args(argv)
    if args.results is None and not args.smoke and not args.no_results:
        args.results = os.path.join(HERE, "RESULTS-%d.%d.md" % sys.version_info[:2])
    lines = section(SMOKE if args.smoke else FULL)
    print("\n".join(lines), flush=True)
    if args.results and not args.no_results:
        write_into(args.results, lines)
    return 0


if __name__ == "__main__":
    sys.exit(main())
