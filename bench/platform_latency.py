"""Per-call latency of the Zorvik platform client against the stand-in
platform (tests/zorvik_standin.py, a process of its own on 127.0.0.1): with
the process's kept-alive connection pool, and with a fresh session and
connection for every call as before the pool. The two alternate call by
call, so drift on a shared machine hits both alike."""
import os
import socket
import statistics
import subprocess
import sys
import time

import corvanix.zorvik as zorvik
from corvanix.zorvik import _transport

STANDIN = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests",
                       "zorvik_standin.py")
VARIANTS = ("pooled", "fresh connection")


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _call_us(fresh):
    start = time.perf_counter_ns()
    if fresh:
        _transport.close()
    zorvik.get_joined_workspaces()
    return (time.perf_counter_ns() - start) / 1000


def measure(calls, warmup):
    """{variant: (median µs, 90th percentile µs)} of `calls` GETs each."""
    port = _free_port()
    standin = subprocess.Popen([sys.executable, STANDIN, "--port", str(port)],
                               stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
    try:
        standin.stdout.readline()  # listening
        zorvik.configure(url=f"http://127.0.0.1:{port}", username="bench")
        for _ in range(warmup):
            _call_us(False)
            _call_us(True)
        samples = {variant: [] for variant in VARIANTS}
        for _ in range(calls):
            samples["pooled"].append(_call_us(False))
            samples["fresh connection"].append(_call_us(True))
    finally:
        zorvik.configure()
        _transport.close()
        standin.terminate()
        standin.wait(10)
    return {variant: (statistics.median(values), _percentile(values, 0.9))
            for variant, values in samples.items()}


def _percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]
