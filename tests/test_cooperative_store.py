"""The embedded store inside cooperative requests while a write hangs on
the disk, or another process writes: reads go on, every call ends by its
deadline, and a change nobody waits for any more is not made."""
import asyncio
import fcntl
import json
import os
import stat
import threading
import time

import pytest

import corvanix.zorvik as zorvik
from corvanix import cooperative
from corvanix.zorvik import _errors, _store
from corvanix.zorvik._deadline import LEAST_WRITE
from test_cooperative import QUIET, in_request, loop, outcome, pytestmark  # noqa: F401

DEADLINE = 0.5


@pytest.fixture
def disk(monkeypatch):
    """An event that the store's file syncs wait for, once `hang` is set."""
    hang, go_on = threading.Event(), threading.Event()
    real = os.fsync

    def fsync(fd):
        if hang.is_set() and stat.S_ISREG(os.fstat(fd).st_mode):
            go_on.wait(30)
        real(fd)

    monkeypatch.setattr(os, "fsync", fsync)
    yield hang, go_on
    go_on.set()


def current():
    with open(zorvik.store_path()) as f:
        return json.load(f)["current"]


def lock_files_open():
    """How many of this process's descriptors are open on the store's lock file."""
    lock_file = os.path.realpath(zorvik.store_path()) + ".lock"
    count = 0
    for fd in os.listdir("/proc/self/fd"):
        try:
            count += os.readlink(f"/proc/self/fd/{fd}") == lock_file
        except OSError:
            pass  # closed meanwhile (listdir's own, another thread's)
    return count


def post(loop, workspace_id):
    call = cooperative.Call(zorvik.set_joined_workspace, workspace_id)
    return call, loop.create_task(call.result())


def settle(loop, seconds=0.05):
    loop.run_until_complete(asyncio.sleep(seconds))


def a_write_and_one_behind(loop, disk, **options):
    """The tasks of two changes of a store at 1, to 2 and then to 3: the
    first hung in its file's sync (until `disk` goes on), the second waiting
    for the writer."""
    zorvik.configure(log=QUIET, **options)
    zorvik.set_joined_workspace(1)
    disk[0].set()
    _, first = post(loop, 2)
    settle(loop)
    _, behind = post(loop, 3)
    settle(loop)
    return first, behind


@pytest.mark.parametrize("workers", [1, 8])
def test_a_read_and_late_writes_while_a_write_hangs(loop, disk, workers):
    """The read is served at once, whatever the writes hold; every write is
    answered 504 by its deadline and none of them changes the file, not
    even the hung one once its disk goes on."""
    zorvik.configure(deadline=DEADLINE, workers=workers, log=QUIET)
    zorvik.set_joined_workspace(1)
    hang, go_on = disk
    hang.set()
    _, hung = post(loop, 2)
    settle(loop)
    behind = [post(loop, 3)[1] for _ in range(workers + 2)]  # wait for the writer
    start = time.monotonic()
    assert outcome(loop, in_request(zorvik.get_joined_workspaces))[0] == 200
    assert time.monotonic() - start < DEADLINE / 2  # not behind the writes
    answers = [outcome(loop, task) for task in [hung] + behind]
    assert answers == [(504, _store.TIMED_OUT)] * len(answers)
    assert time.monotonic() - start < DEADLINE + 1
    go_on.set()
    settle(loop, 0.2)
    assert current() == 1
    assert outcome(loop, in_request(zorvik.set_joined_workspace, 3)) == (200, None)
    assert current() == 3


def test_a_write_whose_client_left_is_not_made(loop, disk):
    zorvik.configure(log=QUIET)
    zorvik.set_joined_workspace(1)
    hang, go_on = disk
    hang.set()
    _, first = post(loop, 2)
    settle(loop)
    left, task = post(loop, 3)  # a worker has it, waiting for the lock
    settle(loop)
    left.cancel()
    with pytest.raises(asyncio.CancelledError):
        loop.run_until_complete(task)
    go_on.set()
    assert outcome(loop, first) == (200, None)
    settle(loop, 0.1)
    assert current() == 2


def test_another_process_writing_holds_the_writes_off(loop):
    zorvik.configure(deadline=DEADLINE, log=QUIET)
    zorvik.set_joined_workspace(1)
    # another open file is another writer to the kernel, as another process is
    with open(zorvik.store_path() + ".lock", "a") as other:
        fcntl.flock(other.fileno(), fcntl.LOCK_EX)
        start = time.monotonic()
        assert outcome(loop, in_request(zorvik.set_joined_workspace, 2)) == (504, _store.TIMED_OUT)
        assert DEADLINE * 0.9 < time.monotonic() - start < DEADLINE + 1
        assert outcome(loop, in_request(zorvik.get_joined_workspaces))[0] == 200  # no lock
        fcntl.flock(other.fileno(), fcntl.LOCK_UN)
    assert outcome(loop, in_request(zorvik.set_joined_workspace, 2)) == (200, None)
    assert current() == 2
    # each write's lock file closed, the refused one's too (the last one's by
    # its worker, just after handing its answer back)
    give_up = time.monotonic() + 2
    while lock_files_open() and time.monotonic() < give_up:
        time.sleep(0.01)
    assert lock_files_open() == 0


def test_stopping_answers_each_request_with_what_happened(loop, disk):
    """The write in progress ends and is answered 200; the one waiting for a
    worker is answered 503 and never made."""
    writing, waiting = a_write_and_one_behind(loop, disk, workers=1)
    stopping = loop.create_task(zorvik.stop())
    assert outcome(loop, waiting) == (503, _errors.STOPPING)
    assert not stopping.done()
    disk[1].set()
    loop.run_until_complete(stopping)
    assert writing.done() and outcome(loop, writing) == (200, None)
    settle(loop, 0.1)
    assert current() == 2


def test_a_write_with_too_little_left_is_not_begun(loop, disk, clock):
    """Behind a slow write, the next one is reached with less of its deadline
    left than a write needs: 504, and the file holds the first one's change."""
    first, late = a_write_and_one_behind(loop, disk, deadline=5)
    clock.advance(5 - LEAST_WRITE + 0.1)  # both asked then: the first one has begun
    disk[1].set()
    assert outcome(loop, first) == (200, None)
    assert outcome(loop, late) == (504, _store.TIMED_OUT)
    settle(loop, 0.1)
    assert current() == 2


def test_no_write_begins_once_stopping(loop):
    """A write that waits for another process's lock when the server stops
    is answered 503 once it has the lock, and changes nothing."""
    zorvik.configure(log=QUIET)
    zorvik.set_joined_workspace(1)
    with open(zorvik.store_path() + ".lock", "a") as other:
        fcntl.flock(other.fileno(), fcntl.LOCK_EX)
        _, waiting = post(loop, 2)
        settle(loop)
        stopping = loop.create_task(zorvik.stop())
        settle(loop)
        assert not waiting.done()
        fcntl.flock(other.fileno(), fcntl.LOCK_UN)
        assert outcome(loop, waiting) == (503, _errors.STOPPING)
    loop.run_until_complete(stopping)
    assert current() == 1


def test_a_change_is_answered_once_it_lasts(loop, monkeypatch):
    """The 200 waits for the sync of the directory that makes the rename
    last: a crash of the machine after it cannot undo a change answered."""
    zorvik.configure(deadline=DEADLINE, log=QUIET)
    zorvik.set_joined_workspace(1)
    answered_at_sync = []
    real = os.fsync

    def fsync(fd):
        if stat.S_ISDIR(os.fstat(fd).st_mode):
            time.sleep(0.05)
            answered_at_sync.append(request.done())
        real(fd)

    monkeypatch.setattr(os, "fsync", fsync)
    _, request = post(loop, 2)
    assert outcome(loop, request) == (200, None)
    assert answered_at_sync == [False] and current() == 2
