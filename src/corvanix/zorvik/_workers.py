"""The worker threads the Zorvik functions hand their blocking work to.

Inside a request that runs cooperatively (`corvanix.cooperative`), `run`
gives a call to a bounded pool of threads and lets the event loop serve
other requests until it is done; anywhere else it makes the call inline.

- At most `max_waiting` calls wait for a free worker; past that a call
  fails at once (Busy).
- A call with a deadline counts it from the moment the request asked, the
  wait for a worker included: the request stops waiting shortly after it
  (Late), and a call that a worker reaches only after it does nothing.
- A request whose wait is cancelled (its client left) takes its call out
  of the queue, if no worker has it yet.
- `stop()` ends every wait (Stopping) and lets the workers end.
"""
import asyncio
import concurrent.futures
import threading
from typing import Any, Callable, Optional, Set, Tuple, TypeVar

from corvanix import cooperative
from corvanix.zorvik import _clock, _deadline, _settings

# How much longer than the deadline a request waits for a call a worker
# runs: the call ends by the deadline, with a failure that says more.
GRACE = 0.25

_T = TypeVar("_T")


class Busy(Exception):
    """Too many calls wait for a worker."""


class Late(Exception):
    """The deadline passed before the call ended."""

    def __init__(self, started: bool) -> None:
        super().__init__("started" if started else "waiting for a worker")
        self.started = started


class Stopping(Exception):
    """The server stops."""


def run(fn: Callable[..., _T], *args: Any, deadline: Optional[float] = None) -> _T:
    """`fn(*args)`, in a worker when inside a cooperative request, else
    inline. Raises Busy, Late (only with a deadline) and Stopping."""
    if not cooperative.inside():
        return fn(*args)
    return cooperative.wait(_pool().call(fn, args, deadline))


def stop() -> None:
    """Ends every request's wait with Stopping, drops the calls no worker
    has taken and lets the workers end once their calls are done. On the
    loop's thread. The next call starts a new pool."""
    global _current
    pool, _current = _current, None
    if pool is not None:
        pool.stop()


class _Pool:
    def __init__(self, workers: int) -> None:
        self.workers = workers
        self.executor = concurrent.futures.ThreadPoolExecutor(
            max_workers=workers, thread_name_prefix="zorvik-worker")
        self._lock = threading.Lock()
        self.waiting = 0
        self.pending: Set[_Call] = set()

    def call(self, fn: Callable[..., Any], args: Tuple[Any, ...],
             deadline: Optional[float]) -> "asyncio.Future[Any]":
        with self._lock:
            if self.waiting >= _settings.current.max_waiting:
                raise Busy
            self.waiting += 1
        call = _Call(self, fn, args, deadline)
        self.pending.add(call)
        return call.future

    def left_queue(self) -> None:
        with self._lock:
            self.waiting -= 1

    def stop(self) -> None:
        for call in list(self.pending):
            call.settle(None, Stopping())
        self.executor.shutdown(wait=False)


class _Call:
    """One call handed to the workers, and the future the request waits on."""

    def __init__(self, pool: _Pool, fn: Callable[..., Any], args: Tuple[Any, ...],
                 deadline: Optional[float]) -> None:
        self.asked = _clock.now()
        self.end = None if deadline is None else self.asked + deadline
        self.started = False
        self._pool, self._fn, self._args = pool, fn, args
        self._loop = asyncio.get_running_loop()
        self.future: "asyncio.Future[Any]" = self._loop.create_future()
        self._timer = None if deadline is None else self._loop.call_later(
            deadline + GRACE, lambda: self.settle(None, Late(self.started)))
        self._job = pool.executor.submit(self._work)
        self.future.add_done_callback(self._done)

    def _work(self) -> None:
        """In a worker."""
        self._pool.left_queue()
        self.started = True
        result, error = None, None
        if self.end is not None and _clock.now() >= self.end:
            error = Late(started=False)  # too late to begin
        else:
            try:
                with _deadline.counted_from(self.asked):
                    result = self._fn(*self._args)
            except BaseException as e:  # handed to the request as it is
                error = e
        try:
            self._loop.call_soon_threadsafe(self.settle, result, error)
        except RuntimeError:
            pass  # the loop has closed: no request waits any more

    def settle(self, result: Any, error: Optional[BaseException]) -> None:
        """On the loop's thread: the request's outcome, unless it has one."""
        if self.future.done():
            return
        if error is None:
            self.future.set_result(result)
        else:
            self.future.set_exception(error)

    def _done(self, _: "asyncio.Future[Any]") -> None:
        # Answered, late, stopped or cancelled: no timer left, nor a call
        # in the queue that nobody waits for.
        if self._timer is not None:
            self._timer.cancel()
        if self._job.cancel():
            self._pool.left_queue()
        self._pool.pending.discard(self)


# Used on the loop's thread only.
_current: Optional[_Pool] = None


def _pool() -> _Pool:
    """The pool, with as many workers as the settings ask for now."""
    global _current
    workers = _settings.current.workers
    pool = _current
    if pool is not None and pool.workers == workers:
        return pool
    old, pool = _current, _Pool(workers)
    _current = pool
    if old is not None:
        # Its calls end as they would have, its workers after them.
        old.executor.shutdown(wait=False)
    return pool
