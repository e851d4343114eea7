"""Shared test helpers: fresh-process scenarios and the leak check."""
import contextlib
import ctypes
import functools
import gc
import os
import signal
import subprocess
import sys
import tempfile
import textwrap
import threading

# The servers' helpers shared with the soak and the benchmark.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from loopback import free_port, jupyter_env  # noqa: E402,F401  (after its directory)

MODULE_NAME = "corvanix.server.handlers.zorvik.workspace_handler"


@functools.lru_cache(maxsize=None)
def _source_lines():
    import _wsh_testmod  # on the path once conftest has run
    return _wsh_testmod.source_lines()


def line(name):
    """The source line named `name` in the module's own tables of the lines
    its traceback entries show ("get.fetch", "class", "import requests"; a
    method's name alone is its `def`)."""
    return _source_lines()[name]


def last_entry(exc):
    """The innermost traceback entry of `exc`."""
    tb = exc.__traceback__
    while tb.tb_next is not None:
        tb = tb.tb_next
    return tb


INIT_NAME = "init " + MODULE_NAME
SOURCE_FILE = "corvanix/server/handlers/zorvik/workspace_handler.py"

# Scenario prelude that drives the create and exec hooks the way the import
# system does, through the exported entry: create(spec), execute(module).
HOOKS = """
import ctypes, importlib.util, sys, types
origin = importlib.util.find_spec("corvanix.server.handlers.zorvik").submodule_search_locations[0]
import glob, os
path = glob.glob(os.path.join(origin, "workspace_handler.*.so"))[0]
lib = ctypes.PyDLL(path)
lib.PyInit_workspace_handler.restype = ctypes.c_void_p
definition = lib.PyInit_workspace_handler()
api = ctypes.pythonapi
api.PyModule_FromDefAndSpec2.restype = ctypes.py_object
api.PyModule_FromDefAndSpec2.argtypes = [ctypes.c_void_p, ctypes.py_object, ctypes.c_int]
api.PyModule_ExecDef.restype = ctypes.c_int
api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]
def create(spec):
    return api.PyModule_FromDefAndSpec2(definition, spec, 1013)
def execute(module):
    return api.PyModule_ExecDef(module, definition)
"""


# Scenario prelude: failed_at(exc) is the line of the module's one "init"
# traceback entry in the exception.
FAILED_AT = """
import traceback
def failed_at(exc):
    entries = [f for f in traceback.extract_tb(exc.__traceback__) if f.name == "{init}"]
    assert len(entries) == 1 and entries[0].filename == "{source}", entries
    return entries[0].lineno
""".format(init=INIT_NAME, source=SOURCE_FILE)

REGISTRY = "_cython_3_2_4amsendbackport"


def assert_registry_refuses(entry_setup, message):
    """Importing the module with a registry prepared by `entry_setup` (code
    that sets attributes of `registry`; `Meta` is a metaclass at hand) fails
    with TypeError `message` at the init entry of the module's first line and
    leaves nothing in sys.modules."""
    run_scenario(FAILED_AT + f"""
import sys, types
registry = types.ModuleType("{REGISTRY}")
class Meta(type):
    pass
{entry_setup}
sys.modules["{REGISTRY}"] = registry
try:
    import {MODULE_NAME}
except TypeError as e:
    assert str(e) == {message!r}, e
    assert failed_at(e) == {line("module")}
    last = traceback.extract_tb(e.__traceback__)[-1]
    assert last.name == "{INIT_NAME}", last
else:
    raise AssertionError("import succeeded")
assert "{MODULE_NAME}" not in sys.modules
""")


def run_scenario(code, *, expect_ok=True, extra_args=()):
    """Runs `code` in a fresh interpreter (the module loads once per process).

    Returns the completed process; with expect_ok the scenario must exit 0.
    The scenario asserts what it needs itself, so a failure shows its
    traceback here. It can import the test-only module and the tests' own
    helpers (handler_double, ...).
    """
    env = dict(os.environ)
    paths = [os.path.dirname(os.path.abspath(__file__))]
    module_dir = os.environ.get("WSH_TEST_MODULE_DIR")
    if module_dir:
        paths.insert(0, os.path.abspath(module_dir))
    env["PYTHONPATH"] = os.pathsep.join(paths + [env.get("PYTHONPATH", "")])
    proc = subprocess.run(
        [sys.executable, *extra_args, "-c", textwrap.dedent(code)],
        cwd=tempfile.gettempdir(),  # a directory of no package: the installed one is imported
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
    )
    if expect_ok:
        assert proc.returncode == 0, f"scenario failed:\n{proc.stdout}\n{proc.stderr}"
    return proc


def sanitizer_loaded():
    """Whether the address sanitizer's runtime is in this process (it makes
    native stack frames several times larger)."""
    return hasattr(ctypes.CDLL(None), "__sanitizer_get_current_allocated_bytes")


def _allocation_meter():
    """What the leak check counts, and the least one kept object adds to it.

    The interpreter's own allocator counts its blocks. Runs with
    PYTHONMALLOC=malloc (sanitizer and memory-checker runs) leave that count
    at 0, so there the allocator underneath is asked for its live bytes.
    """
    if sys.getallocatedblocks() > 0:
        return sys.getallocatedblocks, 1
    process = ctypes.CDLL(None)
    if sanitizer_loaded():
        sanitizer_bytes = process.__sanitizer_get_current_allocated_bytes
        sanitizer_bytes.restype = ctypes.c_size_t
        return sanitizer_bytes, 16

    # glibc's, or the memory checker's stand-in for it (which has no mallinfo2).
    class MallInfo(ctypes.Structure):
        _fields_ = [(name, ctypes.c_int) for name in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
            "uordblks", "fordblks", "keepcost")]

    process.mallinfo.restype = MallInfo

    def malloc_bytes():
        info = process.mallinfo()
        return info.uordblks + info.hblkhd

    return malloc_bytes, 16


# Under the memory checker no allocation count is sound (its allocator holds
# freed blocks back, and counts them); there it proves leaks itself, and the
# leak checks only drive the calls (fewer of them: it is slow).
MEMORY_CHECKER = os.environ.get("WSH_MEMORY_CHECKER") == "1"
_meter, _unit = (None, 0) if MEMORY_CHECKER else _allocation_meter()
_REPEAT_SCALE = 0.05 if MEMORY_CHECKER else 1.0


@contextlib.contextmanager
def frozen_heap():
    """Collects the heap as it stands once and leaves it out of the
    collections within, which then look only at what was made since and cost
    next to nothing (not the server's and the test tools' whole heap)."""
    gc.collect()
    gc.freeze()
    try:
        yield
    finally:
        gc.unfreeze()


def _growth(fn, repeat):
    # Measured from just after a call to just after a call: what the last
    # call leaves until the next one (3.13 keeps some of it) is no growth.
    fn()
    gc.collect()
    before = _meter()
    for _ in range(repeat):
        fn()
    gc.collect()
    return _meter() - before


def assert_no_leaks(fn, *, repeat=400, rounds=3, calls_per_repeat=1, warm_up=20):
    """Fails if calling `fn` keeps memory alive.

    After a warm-up, the smallest growth over several rounds must stay well
    below one object per call: a reference leaked per call grows every round.
    `calls_per_repeat` says how many calls under test one `fn()` makes.
    """
    repeat = max(min(repeat, 20), int(repeat * _REPEAT_SCALE))
    for _ in range(warm_up):
        fn()
    if MEMORY_CHECKER:
        for _ in range(repeat):
            fn()
        return
    with frozen_heap():
        growth = min(_growth(fn, repeat) for _ in range(rounds))
    calls = repeat * calls_per_repeat
    assert growth < calls // 10 * _unit, f"{growth} kept over {calls} calls"


def raises_with(fn, exc_type):
    """Calls `fn`, which must raise `exc_type`; returns the exception."""
    try:
        fn()
    except exc_type as e:
        return e
    raise AssertionError(f"{fn} did not raise {exc_type.__name__}")


class Clock:
    """A monotonic clock that moves only when told (`advance`), from any thread."""

    def __init__(self, start=1000.0):
        self._now = start
        self._lock = threading.Lock()

    def __call__(self):
        with self._lock:
            return self._now

    def advance(self, seconds):
        with self._lock:
            self._now += seconds


def stop_process_group(proc):
    """Stops a process started with start_new_session, and all it started."""
    if proc.poll() is None:
        os.killpg(proc.pid, signal.SIGTERM)
    try:
        proc.wait(15)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait(5)
