"""Import time of the native module against the plain one: each import in a
fresh interpreter that has already imported everything both modules import,
so only the module's own loading is timed; native and plain alternate."""
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

PROBE = """
import importlib, sys, time
import json, http, typing, requests, tornado.web
import jupyter_server.base.handlers, corvanix.zorvik, corvanix.zorvik.schemas
import corvanix.server.misc.functions
start = time.perf_counter_ns()
importlib.import_module(sys.argv[1])
print(time.perf_counter_ns() - start)
"""


def _import_ns(module, python):
    out = subprocess.run([python, "-c", PROBE, module], capture_output=True, text=True,
                         check=True, env=dict(os.environ, PYTHONPATH=HERE), cwd=HERE)
    return int(out.stdout.strip())


def measure(rounds, python=sys.executable):
    """{module kind: (median µs, half the min-max range in µs)}."""
    from cases import NATIVE_MODULE, PLAIN_MODULE
    modules = {"native": NATIVE_MODULE, "plain": PLAIN_MODULE}
    _import_ns(PLAIN_MODULE, python)  # writes the plain module's bytecode cache
    samples = {kind: [] for kind in modules}
    for _ in range(rounds):
        for kind, module in modules.items():
            samples[kind].append(_import_ns(module, python) / 1000)
    return {kind: (statistics.median(values), (max(values) - min(values)) / 2)
            for kind, values in samples.items()}
