"""The Zorvik functions inside a cooperative request: their blocking work on
worker threads, bounded, while the event loop serves others; inline
anywhere else."""
import asyncio
import gc
import json
import logging
import os
import stat
import threading
import time
import weakref

import greenlet
import pytest
import requests

import corvanix.zorvik as zorvik
from corvanix import cooperative
from corvanix.server.misc.functions import parse_zorvik_exception
from corvanix.zorvik import _client, _errors, _service, _store, _workers
from corvanix.zorvik._deadline import Deadline
from helpers import assert_no_leaks, sanitizer_loaded
from test_zorvik import standin_process
from test_server_extension import call, jp_server_config, zorvik_options  # noqa: F401 (fixtures)

# greenlet's stack switching trips AddressSanitizer: sanitized runs keep the
# inline path, and these tests of the other one skip there.
pytestmark = pytest.mark.skipif(sanitizer_loaded(), reason="greenlets under AddressSanitizer")

QUIET = logging.getLogger("test.cooperative.quiet")
QUIET.setLevel(logging.CRITICAL + 1)


@pytest.fixture
def release():
    """What lets go of the worker that `holding_the_worker` keeps."""
    event = threading.Event()
    yield event
    event.set()


@pytest.fixture
def loop():
    loop = asyncio.new_event_loop()
    yield loop
    _service.current().close()  # the workers end with the test
    loop.close()


def run(fn, *args, **kwargs):
    """`fn(*args)` on the current service's workers."""
    return _service.current().workers.run(fn, *args, **kwargs)


def in_request(fn, *args):
    """A coroutine running `fn(*args)` as the route runs the native methods."""
    return cooperative.Call(fn, *args).result()


def outcome(loop, aw):
    """(status, message) the handler answers for what `aw` gives or raises;
    (200, result) for a success."""
    try:
        return 200, loop.run_until_complete(aw)
    except requests.exceptions.RequestException as e:
        return parse_zorvik_exception(error_str=str(e))


def holding_the_worker(loop, release):
    """A request whose call keeps a worker until `release` is set, once a
    worker has it."""
    taken = threading.Event()

    def hold():
        taken.set()
        release.wait()

    task = loop.create_task(in_request(run, hold))
    while not taken.is_set():
        loop.run_until_complete(asyncio.sleep(0.01))
    return task


@pytest.mark.parametrize("where", ["store", "platform"])
@pytest.mark.parametrize("in_a_request", [False, True])
def test_blocking_work_runs_on_a_worker_only_inside_a_request(standin, monkeypatch, loop, where,
                                                              in_a_request):
    if where == "platform":
        monkeypatch.setenv("ZORVIK_URL", standin.url)
    module = _store.Store if where == "store" else _client
    threads = []
    for name in ("get_joined_workspaces", "set_joined_workspace"):
        def recorded(*args, _real=getattr(module, name)):
            threads.append(threading.get_ident())
            return _real(*args)
        monkeypatch.setattr(module, name, recorded)
    if in_a_request:
        listed = loop.run_until_complete(in_request(zorvik.get_joined_workspaces))
        loop.run_until_complete(in_request(zorvik.set_joined_workspace, listed[1].id))
    else:
        listed = zorvik.get_joined_workspaces()
        zorvik.set_joined_workspace(listed[1].id)
    assert [w.id for w in zorvik.get_joined_workspaces() if w.current] == [listed[1].id]
    here = threading.get_ident()
    assert len(threads) == 3
    assert [t == here for t in threads[:2]] == [not in_a_request] * 2


@pytest.mark.parametrize("advance, answer, asked", [
    (0, (200, [10, 20]), 1),
    (18.5, (200, [10, 20]), 1),
    # too little left (or none) when a worker was free: the call is not made
    (19.5, (504, _client.TIMED_OUT), 0),
    (25, (504, _client.TIMED_OUT), 0),
])
def test_deadline_counts_from_the_request(standin, clock, loop, release, caplog, advance, answer,
                                          asked):
    zorvik.configure(url=standin.url, workers=1, deadline=20, cooldown=30)
    holder = holding_the_worker(loop, release)
    waiting = loop.create_task(in_request(zorvik.get_joined_workspaces))
    loop.run_until_complete(asyncio.sleep(0.05))
    clock.advance(advance)
    release.set()
    loop.run_until_complete(holder)
    status, result = outcome(loop, waiting)
    assert (status, result if status != 200 else [w.id for w in result]) == answer
    assert len(standin.seen) == asked
    if asked == 0:
        left = f"{max(20 - advance, 0):g}"
        assert [r.getMessage() for r in caplog.records if r.levelno == logging.WARNING] == [
            f"Zorvik platform {standin.url}: call not made: {left} s of the 20 s deadline left "
            f"when a worker was free."]
    # the platform, not asked, is not cooling down: the next request is made
    assert outcome(loop, in_request(zorvik.get_joined_workspaces))[0] == 200
    assert len(standin.seen) == asked + 1


def test_silence_is_logged_with_the_time_the_platform_was_given(standin, clock, loop, release,
                                                                 caplog):
    zorvik.configure(url=standin.url, workers=1, deadline=20, cooldown=30)
    holder = holding_the_worker(loop, release)
    waiting = loop.create_task(in_request(zorvik.get_joined_workspaces))
    loop.run_until_complete(asyncio.sleep(0.05))
    clock.advance(12)  # in the queue: 8 s left when a worker takes it
    standin.mode, standin.clock = "stall", clock
    release.set()
    loop.run_until_complete(holder)
    assert outcome(loop, waiting) == (504, _client.TIMED_OUT)
    assert [r.getMessage() for r in caplog.records if r.levelno == logging.WARNING] == [
        f"Zorvik platform {standin.url}: timed out after 8 s waiting for the answer. Requests "
        f"to it fail at once for the next 30 s."]
    status, message = outcome(loop, in_request(zorvik.get_joined_workspaces))
    assert status == 504 and "next attempt in 30 s" in message


@pytest.mark.parametrize("where, busy", [("store", _store.BUSY), ("platform", _client.BUSY)])
def test_too_many_waiting_answer_503_at_once(standin, loop, release, where, busy):
    zorvik.configure(url=standin.url if where == "platform" else None, workers=1,
                     max_waiting=1, log=QUIET)
    holder = holding_the_worker(loop, release)
    waiting = loop.create_task(in_request(zorvik.get_joined_workspaces))
    loop.run_until_complete(asyncio.sleep(0.05))
    start = time.monotonic()
    assert outcome(loop, in_request(zorvik.get_joined_workspaces)) == (503, busy)
    assert time.monotonic() - start < 1
    release.set()
    loop.run_until_complete(holder)
    assert outcome(loop, waiting)[0] == 200


def test_stop_answers_the_waiting_requests_and_ends_the_workers(loop, release):
    zorvik.configure(workers=1)
    holder = holding_the_worker(loop, release)
    waiting = loop.create_task(in_request(zorvik.get_joined_workspaces))
    loop.run_until_complete(asyncio.sleep(0.05))
    stopping = loop.create_task(zorvik.stop())
    assert outcome(loop, waiting) == (503, _errors.STOPPING)
    # the call a worker has ends as it would have, and stopping waits for it
    assert not (stopping.done() or holder.done())
    release.set()
    loop.run_until_complete(stopping)
    assert holder.done() and holder.exception() is None
    deadline = time.monotonic() + 5
    while any(t.name.startswith("zorvik-worker") for t in threading.enumerate()):
        assert time.monotonic() < deadline, "a worker is still running"
        time.sleep(0.01)
    # once stopped, it makes no call (inline neither); a new service does
    assert outcome(loop, in_request(zorvik.set_joined_workspace, 2)) == (503, _errors.STOPPING)
    with pytest.raises(requests.exceptions.RequestException):
        zorvik.get_joined_workspaces()
    zorvik.configure(workers=1)
    assert [w.current for w in loop.run_until_complete(
        in_request(zorvik.get_joined_workspaces))] == [False] * 3


def test_cancelled_wait_takes_its_call_out_of_the_queue(loop, release):
    """A client that leaves before a worker takes its call: the call never runs."""
    zorvik.configure(workers=1)
    holder = holding_the_worker(loop, release)
    ran = []
    call = cooperative.Call(run, ran.append, 1)
    task = loop.create_task(call.result())
    loop.run_until_complete(asyncio.sleep(0.05))
    call.cancel()
    with pytest.raises(asyncio.CancelledError):
        loop.run_until_complete(task)
    release.set()
    loop.run_until_complete(holder)
    loop.run_until_complete(in_request(run, ran.append, 2))
    assert ran == [2]


def _slowed_once(real, slows):
    """`real`, slowed by half a second the first time `slows(*args)` holds."""
    slowed = threading.Event()

    def slow(*args):
        if slows(*args) and not slowed.is_set():
            slowed.set()
            time.sleep(0.5)
        return real(*args)

    return slow, slowed


@pytest.mark.parametrize("slow_part", ["directory sync", "hand-back to the loop"])
async def test_store_holds_the_last_change_answered(call, monkeypatch, slow_part):  # noqa: F811
    """A change slow to end still ends, and is answered, before the next one
    begins: the last answered is the one in the file."""
    await call()  # the store exists
    if slow_part == "directory sync":
        fsync, slowed = _slowed_once(os.fsync, lambda fd: stat.S_ISDIR(os.fstat(fd).st_mode))
        monkeypatch.setattr(os, "fsync", fsync)
    else:
        hand_back, slowed = _slowed_once(_workers._Call._hand_back, lambda *_: True)
        monkeypatch.setattr(_workers._Call, "_hand_back", hand_back)
    answered = []

    async def post(workspace_id, after):
        await asyncio.sleep(after)
        status, _, _ = await call("POST", json.dumps({"workspace_id": workspace_id}))
        answered.append((status, workspace_id))

    await asyncio.gather(post(1, 0), post(2, 0.2))
    assert slowed.is_set() and answered == [(200, 1), (200, 2)]
    with open(zorvik.store_path()) as f:
        assert json.load(f)["current"] == 2


def every_worker_started(loop):
    """The executor starts its threads as calls come, up to `workers`: a
    burst that needs them all, so that none starts while growth is counted."""
    release = threading.Event()
    waits = [loop.create_task(in_request(run, release.wait, 10))
             for _ in range(_service.current().settings.workers)]
    loop.run_until_complete(asyncio.sleep(0.05))
    release.set()
    loop.run_until_complete(asyncio.gather(*waits))


def test_cooperative_paths_leak_nothing(loop, release):
    zorvik.configure(log=QUIET)
    every_worker_started(loop)
    # A worker may still hold its last call's few dozen objects for a moment
    # after handing the outcome back: enough calls that one kept per call
    # stands out well above that.
    for fn, args in ((zorvik.get_joined_workspaces, ()), (zorvik.set_joined_workspace, (2,))):
        assert_no_leaks(lambda: loop.run_until_complete(in_request(fn, *args)), repeat=1000)
    # the platform, in a process of its own (in this one it would be mid-request
    # whenever the count is taken)
    with standin_process() as url:
        zorvik.configure(url=url, log=QUIET)
        assert_no_leaks(lambda: loop.run_until_complete(in_request(zorvik.get_joined_workspaces)),
                        repeat=100, warm_up=1100)
    # refused at once, and cancelled while queued
    zorvik.configure(workers=1, max_waiting=1, log=QUIET)
    holder = holding_the_worker(loop, release)

    def refused_and_left():
        call = cooperative.Call(zorvik.get_joined_workspaces)
        task = loop.create_task(call.result())
        assert outcome(loop, in_request(zorvik.get_joined_workspaces))[0] == 503
        call.cancel()
        try:
            loop.run_until_complete(task)
        except asyncio.CancelledError:
            pass

    assert_no_leaks(refused_and_left, repeat=200)
    release.set()
    loop.run_until_complete(holder)



@pytest.mark.parametrize("workers, max_waiting", [(2, 0), (2, 1), (3, 4)])
def test_admission_takes_exactly_workers_and_waiting(loop, release, workers, max_waiting):
    """As many calls at once as workers plus `max_waiting` are all served;
    one more is refused; 0 waiting serves while a worker is free."""
    zorvik.configure(workers=workers, max_waiting=max_waiting, log=QUIET)
    capacity = workers + max_waiting
    calls = [loop.create_task(in_request(run, release.wait)) for _ in range(capacity)]
    loop.run_until_complete(asyncio.sleep(0.05))
    pool = _service.current().workers
    assert (pool.busy, pool.waiting) == (workers, max_waiting)
    with pytest.raises(_workers.Busy):
        loop.run_until_complete(in_request(run, release.wait))
    release.set()
    assert loop.run_until_complete(asyncio.gather(*calls)) == [True] * capacity
    assert (pool.busy, pool.waiting) == (0, 0)
    # free again: a call one after another is never refused, none waiting
    release.clear()
    for _ in range(20):
        assert loop.run_until_complete(in_request(run, len, "ab")) == 2


class _Answer:
    """What a call gives: collectable once its request is done with it."""


@pytest.mark.parametrize("deadline", [None, 5.0])
@pytest.mark.parametrize("raises", [False, True])
@pytest.mark.parametrize("takes", [0, 0.05])  # within the quick wait, and past it
def test_a_finished_call_leaves_nothing_behind(loop, deadline, raises, takes):
    made = []

    def answer():
        time.sleep(takes)
        made.append(weakref.ref(given := _Answer()))
        if raises:
            raise ValueError(given)
        return given

    for _ in range(3):  # every worker has had one
        try:
            given = loop.run_until_complete(in_request(
                lambda: run(answer, deadline=deadline and Deadline(deadline))))
        except ValueError as e:
            given = e
        assert isinstance(given, (_Answer, ValueError))
        del given
    # A worker may still be on its way back to idle just after its hand-back;
    # an idle one that keeps the answer keeps it for good.
    until = time.monotonic() + 5
    gc.collect()
    while any(ref() for ref in made) and time.monotonic() < until:
        time.sleep(0.01)
        gc.collect()
    assert [ref() for ref in made] == [None] * 3


def live_greenlets():
    greenlet.getcurrent()  # the thread's main greenlet counts from the start
    gc.collect()
    return sum(1 for o in gc.get_objects() if isinstance(o, greenlet.greenlet))


@pytest.mark.parametrize("burst", [1, 150])
def test_a_burst_leaves_no_greenlet_behind(loop, burst):
    async def waits():
        return await asyncio.gather(*(in_request(cooperative.wait, asyncio.sleep(0.01, i))
                                      for i in range(burst)))

    before = live_greenlets()
    for _ in range(3):
        assert loop.run_until_complete(waits()) == list(range(burst))
    assert live_greenlets() == before


def deepest():
    """How many more frames the calling code may nest."""
    def down(n):
        try:
            return down(n + 1)
        except RecursionError:
            return n
    return down(0)


def test_each_call_starts_at_its_callers_recursion_depth(loop):
    def nested(levels):
        if levels:
            return nested(levels - 1)
        return loop.run_until_complete(in_request(deepest))

    deep = nested(300)
    shallow = loop.run_until_complete(in_request(deepest))
    # the call from 300 levels down had about 300 fewer; the later one has them back
    assert shallow - deep >= 250
