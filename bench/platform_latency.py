"""Per-call latency of the Zorvik platform client against the benchmark's
own stand-in platform (standin_platform.py, a process of its own on
127.0.0.1): with the process's kept-alive connection pool, and with a fresh
session and connection for every call as before the pool. The two alternate
call by call, so drift on a shared machine hits both alike."""
import os
import statistics
import subprocess
import sys
import time

import corvanix.zorvik as zorvik

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "tools"))
from loopback import free_port  # noqa: E402  (after its directory)

STANDIN = os.path.join(HERE, "standin_platform.py")
VARIANTS = ("pooled", "fresh connection")


def _call_us(service, fresh):
    start = time.perf_counter_ns()
    if fresh:
        service.transport.close()
    service.get_joined_workspaces()
    return (time.perf_counter_ns() - start) / 1000


def measure(calls, warmup):
    """{variant: (median µs, 90th percentile µs)} of `calls` GETs each."""
    port = free_port()
    standin = subprocess.Popen([sys.executable, STANDIN, str(port)],
                               stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
    try:
        standin.stdout.readline()  # listening
        service = zorvik.configure(url=f"http://127.0.0.1:{port}", username="bench")
        for _ in range(warmup):
            _call_us(service, False)
            _call_us(service, True)
        samples = {variant: [] for variant in VARIANTS}
        for _ in range(calls):
            samples["pooled"].append(_call_us(service, False))
            samples["fresh connection"].append(_call_us(service, True))
    finally:
        zorvik.configure()  # the bench's service, and its connections, go
        standin.terminate()
        standin.wait(10)
    return {variant: (statistics.median(values), _percentile(values, 0.9))
            for variant, values in samples.items()}


def _percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]
