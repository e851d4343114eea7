"""What one call into Python costs native code against the same call made
by Python code, by callgrind instruction counts. The native module's bodies
must call Python functions (the sibling functions, json.dumps, to_dict, the
handler's own methods) from native code: each such call enters the
interpreter's evaluation loop anew, where the plain handler's byte code
pushes the callee's frame within the loop it runs in (from 3.11) and finds
a method through its own inline cache. The table shows that difference per
call, the loops' own cost taken off.

Run as a script it is the callgrind target:

    valgrind --tool=callgrind --instr-atstart=no python entry_cost.py MARKS PROBE N
"""
import ctypes
import glob
import os
import shutil
import subprocess
import sys
import sysconfig
import tempfile

import callgrind_profile

HERE = os.path.dirname(os.path.abspath(__file__))

# (key, label): rows of the table.
CALLS = (
    ("call", "f(x): a function"),
    ("call_kw", "f(a=x): a function, with a keyword argument"),
    ("method", "obj.m(x): a method, looked up on the object at the call"),
    ("method_kw", "obj.m(a=x): a method, with a keyword argument"),
)

# The calls the native handler makes into Python functions per request, by
# kind, against the benchmark's stand-ins (cases.py; json.dumps and to_dict
# are Python functions too): the writer's json.dumps twice, set_header and
# set_status by keyword and finish; get's get_joined_workspaces and to_dict
# for each workspace; parse_zorvik_exception and set_joined_workspace by
# keyword; post's get_json_body. The call of _finish_with_result is not
# among them: its callee is native.
WRITER_CALLS = {"call": 2, "method_kw": 3, "method": 1}
CALLS_PER_PATH = {
    "get_0": {"call": 1},
    "get_10": {"call": 11},
    "get_100": {"call": 101},
    "get_connection_error": {"call": 1},
    "get_request_failure": {"call": 1, "call_kw": 1},
    "post_success": {"method": 1, "call_kw": 1},
    "post_missing_field": {"method": 1},
    "writer": {},
}


def f(a):
    return a


class Target:
    def __init__(self):
        self.seen = None  # an attribute of its own, as a request handler has

    def m(self, a):
        return a


def py_loop(n):
    for _ in range(n):
        pass


def py_call(n, fn=f, x=1):
    for _ in range(n):
        fn(x)


def py_call_kw(n, fn=f, x=1):
    for _ in range(n):
        fn(a=x)


def py_method(n, obj=None, x=1):
    for _ in range(n):
        obj.m(x)


def py_method_kw(n, obj=None, x=1):
    for _ in range(n):
        obj.m(a=x)


def build_probe(work):
    """Compiles the native probe against this interpreter's headers; None
    with the reason when it does not compile."""
    output = os.path.join(work, "entry_probe.so")
    compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
    if compiler is None:
        return None, "no C++ compiler"
    proc = subprocess.run([compiler, "-O2", "-shared", "-fPIC", "-I" + sysconfig.get_paths()["include"],
                           "-o", output, os.path.join(HERE, "entry_probe.cpp")],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        return None, "the probe does not compile: " + proc.stderr.strip()[:200]
    return output, None


def target(marks_path, probe_path, n):
    marks = ctypes.CDLL(marks_path)
    marks.bench_dump.argtypes = [ctypes.c_char_p]
    probe = ctypes.PyDLL(probe_path)
    probe.probe_loop.restype = probe.probe_call.restype = ctypes.py_object
    probe.probe_loop.argtypes = [ctypes.c_ssize_t]
    probe.probe_call.argtypes = [ctypes.py_object] * 3 + [ctypes.c_ssize_t]
    obj = Target()
    keyword = ("a",)
    runs = {
        "native loop": lambda k: probe.probe_loop(k),
        "native call": lambda k: probe.probe_call(f, 1, None, k),
        "native call_kw": lambda k: probe.probe_call(f, 1, keyword, k),
        "python loop": lambda k: py_loop(k),
        "python call": lambda k: py_call(k),
        "python call_kw": lambda k: py_call_kw(k),
        "python method": lambda k: py_method(k, obj),
        "python method_kw": lambda k: py_method_kw(k, obj),
    }
    probe.probe_method.restype = ctypes.py_object
    probe.probe_method.argtypes = [ctypes.py_object] * 4 + [ctypes.c_ssize_t]
    runs["native method"] = lambda k: probe.probe_method(obj, "m", 1, None, k)
    runs["native method_kw"] = lambda k: probe.probe_method(obj, "m", 1, keyword, k)
    for label, run in runs.items():
        run(2000)  # past every warm-up the interpreter waits for before it specialises
        marks.bench_instrument(1)
        marks.bench_zero()
        run(0)
        marks.bench_dump(f"{label} 0".encode())
        run(n)
        marks.bench_dump(f"{label} {n}".encode())
        marks.bench_instrument(0)


def calls_per_request(path):
    """{kind: count} of the native handler's calls into Python on `path`."""
    calls = dict(WRITER_CALLS)
    for kind, count in CALLS_PER_PATH[path].items():
        calls[kind] = calls.get(kind, 0) + count
    return calls


def measure(n):
    """({(side, key): instructions per call}, note): side "native" or
    "python", the loop's own cost taken off; None with the reason without
    valgrind or a compiler."""
    valgrind = shutil.which("valgrind")
    if valgrind is None:
        return None, "valgrind is not installed"
    if callgrind_profile.sanitizer_preloaded():
        return None, "the sanitizer runtime is preloaded (it cannot run under valgrind)"
    work = tempfile.mkdtemp(prefix="wsh-entry-")
    try:
        marks, why = callgrind_profile.build_marks(work)
        probe, why_probe = build_probe(work) if marks else (None, None)
        if marks is None or probe is None:
            return None, why or why_probe
        subprocess.run([valgrind, "--tool=callgrind", "--instr-atstart=no", "-q",
                        "--callgrind-out-file=" + os.path.join(work, "cg.out"), sys.executable,
                        os.path.abspath(__file__), marks, probe, str(n)],
                       check=True, cwd=work, stdout=subprocess.DEVNULL)
        totals = {}
        for dump in glob.glob(os.path.join(work, "cg.out*")):
            label, total, _, _ = callgrind_profile.parse_dump(dump)
            if label:
                totals[label] = total
        per_call = {}
        for side in ("native", "python"):
            loop = (totals[f"{side} loop {n}"] - totals[f"{side} loop 0"]) / n
            for key, _ in CALLS:
                full = (totals[f"{side} {key} {n}"] - totals[f"{side} {key} 0"]) / n
                per_call[(side, key)] = full - loop
        return per_call, None
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    target(sys.argv[1], sys.argv[2], int(sys.argv[3]))
