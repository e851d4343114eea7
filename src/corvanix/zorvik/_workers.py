"""The worker threads the Zorvik functions hand their blocking work to.

Inside a request that runs cooperatively (`corvanix.cooperative`), `run`
gives a call to a bounded pool of threads (the standard library's executor)
and lets the event loop serve other requests until it is done; anywhere
else it makes the call inline. Of our own there is only what the executor
lacks:

- Admission: at most `max_waiting` calls wait with no worker free; past
  that a call fails at once (Busy). A call that a free worker is about to
  take does not wait: `workers + max_waiting` calls at once are all taken,
  and with `max_waiting` 0 a call is taken while a worker is free.
- A call with a deadline (made when the request asked: the wait for a
  worker is part of it) is waited for until shortly after it (Late); one
  that a worker reaches with too little of it left is not made (Late, with
  what was left).
- Calls made under one lock (`ordered_by`) run on one writer thread of
  their own, so that they never hold the pool's workers while they wait for
  one another, and are answered in the order they ran: the outcome is
  handed to the loop before the lock is let go. The lock is waited for
  until the deadline at most, and a call whose request has gone (its client
  left, or it was answered late) meanwhile is not made.
- A call alone is first waited for on the loop's thread, briefly (QUICK).
- A request whose wait is cancelled (its client left) takes its call out
  of the queue, if no worker has it yet.
- `stop()` ends the wait of every call no worker has (Stopping: it is never
  made) and lets the workers end; a call a worker has ends as it would
  have, and is answered with its own outcome.

A finished call leaves nothing behind: the worker drops its work item,
the call drops what it ran and what it gave, and its timer runs in an
empty context, so an idle worker keeps no answer alive.
"""
import asyncio
import collections
import concurrent.futures
import contextvars
import functools
import queue
import threading
from typing import Any, Callable, List, Optional, Protocol, Set, Tuple, TypeVar, Union

from corvanix import cooperative
from corvanix.zorvik._deadline import Deadline

# How much longer than the deadline a request waits for a call a worker
# runs: the call ends by the deadline, with a failure that says more.
GRACE = 0.25

# A call that no other call waits beside is first waited for on the loop's
# thread for this long, blocked without the interpreter's lock: a store
# read ends well within it, and then the request goes on at once instead of
# paying for the hand-back through the loop (the loop's wake-up, and the
# interpreter's lock passed to and fro while the loop serves others; GET
# against inline went from 0.68 to 0.77 of the requests per second). A call
# still running after it is awaited cooperatively: the loop is held no
# longer than this.
QUICK = 0.002

_T = TypeVar("_T")


class _Lock(Protocol):
    def acquire(self, blocking: bool = ..., timeout: float = ...) -> bool: ...

    def release(self) -> None: ...


class Busy(Exception):
    """Too many calls wait for a worker."""


class Late(Exception):
    """The deadline passed before the call ended, or was too near for it to
    begin (`left`: what was left then)."""

    def __init__(self, started: bool, left: Optional[float] = None) -> None:
        super().__init__("started" if started else "waiting for a worker")
        self.started = started
        self.left = left


class Stopping(Exception):
    """The server stops."""


class Workers:
    """One service's workers: `workers` threads of the executor for the
    calls, and one writer of their own for the calls made under a lock
    (`ordered_by`: the store's writes, which that lock lets through one at
    a time anyway), so that reads never wait for a worker behind writes.
    After `stop` every call fails with Stopping."""

    def __init__(self, workers: int, max_waiting: int) -> None:
        self.workers, self.max_waiting = workers, max_waiting
        # Made at the first cooperative call (the loop's thread only).
        self._pools: "dict[bool, _Pool]" = {}
        self.stopped = False

    def run(self, fn: Callable[..., _T], *args: Any, deadline: Optional[Deadline] = None,
            ordered_by: Optional["_Lock"] = None) -> _T:
        """`fn(*args)`, in a worker when inside a cooperative request, else
        inline; in a worker, under `ordered_by` (a lock that `fn` may take
        again) until its outcome is on its way to the loop. Raises Busy,
        Late (only with a deadline) and Stopping."""
        if self.stopped:
            raise Stopping
        if not cooperative.inside():
            return fn(*args)
        ordered = ordered_by is not None
        pool = self._pools.get(ordered)
        if pool is None:
            pool = self._pools[ordered] = (_Pool(1, self.max_waiting, _Writer()) if ordered
                                           else _Pool(self.workers, self.max_waiting,
                                                      _Executor(self.workers)))
        call = pool.call(fn, args, deadline, ordered_by)
        if call.quick is not None and call.ended_quickly():
            return call.outcome()
        return cooperative.wait(call.future)

    def stop(self) -> "List[asyncio.Future[Any]]":
        """Ends the wait of every request whose call no worker has with
        Stopping (the call is never made) and lets the workers end once
        their calls are done; gives the futures of those calls, which end
        with their own outcomes (by their deadlines, where they have one).
        On the loop's thread."""
        self.stopped = True
        pools, self._pools = self._pools, {}
        return [future for pool in pools.values() for future in pool.stop()]

    def close(self) -> None:
        """The workers end once what they have, and what waits, is done;
        the next call starts new ones."""
        pools, self._pools = self._pools, {}
        for pool in pools.values():
            pool.close()

    @property
    def waiting(self) -> int:
        """Requests waiting for a free worker now (the metrics' reading)."""
        return sum(pool.waiting for pool in list(self._pools.values()))

    @property
    def busy(self) -> int:
        """Workers running a call now (the metrics' reading)."""
        return sum(pool.busy for pool in list(self._pools.values()))


class _Executor:
    """Threads of the standard library's executor."""

    def __init__(self, workers: int) -> None:
        self._executor = concurrent.futures.ThreadPoolExecutor(
            max_workers=workers, thread_name_prefix="zorvik-worker")

    def start(self, serve: Callable[[], None]) -> None:
        self._executor.submit(serve)

    def close(self) -> None:
        self._executor.shutdown(wait=False)


class _Writer:
    """One daemon thread, started at the first write. Not the executor's:
    its threads are waited for when the interpreter exits, and a write can
    hang in the disk's sync far past its deadline, which would hold the
    process; a write that a stopping process leaves unfinished in its
    file's sync has not replaced the file, and its request was answered
    504 (one left in its directory's sync has replaced it, and stands)."""

    def __init__(self) -> None:
        self._queue: "queue.SimpleQueue[Optional[Callable[[], None]]]" = queue.SimpleQueue()
        self._thread: Optional[threading.Thread] = None

    def start(self, serve: Callable[[], None]) -> None:
        if self._thread is None:
            self._thread = threading.Thread(target=self._run, name="zorvik-writer", daemon=True)
            self._thread.start()
        self._queue.put(serve)

    def close(self) -> None:
        self._queue.put(None)

    def _run(self) -> None:
        while self._serve(self._queue.get()):
            pass

    @staticmethod
    def _serve(serve: Optional[Callable[[], None]]) -> bool:
        # Its own frame: nothing of a call stays referenced while idle.
        if serve is None:
            return False
        serve()
        return True


class _Pool:
    """The executor's threads, and the calls that wait for one of them."""

    def __init__(self, workers: int, max_waiting: int,
                 threads: "Union[_Executor, _Writer]") -> None:
        self.workers, self.max_waiting, self._threads = workers, max_waiting, threads
        # Written by the loop's thread and the workers, under the lock: the
        # calls admitted that no worker has (in order; a withdrawn one leaves
        # at once, holding nothing), and how many of the workers have one.
        self._lock = threading.Lock()
        self._waiting: "collections.OrderedDict[_Call, None]" = collections.OrderedDict()
        self._busy = 0
        # Between a worker handing an outcome back and the loop's thread
        # ending its quick wait.
        self.handing = threading.Lock()
        # The calls whose requests wait (the loop's thread only).
        self.pending: Set[_Call] = set()

    @property
    def waiting(self) -> int:
        """Calls that no worker has yet."""
        return len(self._waiting)

    @property
    def busy(self) -> int:
        """Workers that have a call."""
        return self._busy

    def call(self, fn: Callable[..., Any], args: Tuple[Any, ...], deadline: Optional[Deadline],
             ordered_by: Optional["_Lock"]) -> "_Call":
        # Alone, it cannot be answered out of order with another.
        call = _Call(self, fn, args, deadline, ordered_by, quick=not self.pending)
        with self._lock:
            free = self._busy < self.workers
            if not free and len(self._waiting) >= self.max_waiting:
                call.discard()
                raise Busy
            if free:
                self._busy += 1
            else:
                self._waiting[call] = None
        self.pending.add(call)
        if free:
            self._threads.start(functools.partial(self._serve, call))
        return call

    def _serve(self, call: "Optional[_Call]") -> None:
        """In a worker: `call`, then each call that waits, until none does."""
        while call is not None:
            call = call.run(self._next)

    def _next(self) -> "Optional[_Call]":
        """In a worker whose call has its outcome: the next call for it, or
        None, the worker free already (before the outcome reaches the loop,
        which may admit another call at once)."""
        with self._lock:
            if self._waiting:
                return self._waiting.popitem(last=False)[0]
            self._busy -= 1
            return None

    def withdraw(self, call: "_Call") -> None:
        """Takes `call` out of the waiting ones, unless a worker has it."""
        with self._lock:
            self._waiting.pop(call, None)

    def stop(self) -> "List[asyncio.Future[Any]]":
        with self._lock:  # no worker takes one of them now
            never = list(self._waiting)
            self._waiting.clear()
        for call in never:
            call.settle(None, Stopping())
        self.close()
        return [call.future for call in self.pending if not call.future.done()]

    def close(self) -> None:
        """The workers end once the calls they have and those that wait are done."""
        self._threads.close()


class _Call:
    """One call handed to the workers, and the future its request waits on."""

    def __init__(self, pool: _Pool, fn: Callable[..., Any], args: Tuple[Any, ...],
                 deadline: Optional[Deadline], ordered_by: Optional["_Lock"],
                 quick: bool) -> None:
        # Held until the worker has the outcome, while the loop's thread
        # waits on it (`ended_quickly`); None once that wait is over.
        self.quick: Optional[threading.Lock] = None
        if quick:
            self.quick = threading.Lock()
            self.quick.acquire()
        self._quick_outcome: Optional[Tuple[Any, Optional[BaseException]]] = None
        self.deadline = deadline
        self.started = False
        # Set on the loop's thread once the request has its answer: a worker
        # that reaches the call only then does not make it.
        self.abandoned = False
        self._pool, self._fn, self._args, self._order = pool, fn, args, ordered_by
        self._loop = asyncio.get_running_loop()
        self.future: "asyncio.Future[Any]" = self._loop.create_future()
        # An empty context: a cancelled timer stays in the loop's heap until
        # its time, and must keep nothing of the request alive meanwhile.
        self._timer = None if deadline is None else self._loop.call_later(
            max(deadline.left(), 0) + GRACE, self._late, context=contextvars.Context())
        self.future.add_done_callback(self._done)

    def run(self, take_next: "Callable[[], Optional[_Call]]") -> "Optional[_Call]":
        """In a worker: makes the call and hands its outcome back; gives
        the call to make next."""
        self.started = True
        fn, args, self._fn, self._args = self._fn, self._args, None, ()
        order, deadline = self._order, self.deadline
        held = False
        if order is None:
            result, error = self._outcome(fn, args)
        else:
            try:
                held = order.acquire(timeout=-1 if deadline is None else max(deadline.left(), 0))
            except BaseException as e:  # its lock file cannot be used: handed over as it is
                result, error = None, e
            else:
                # not made unless held: as a call no worker reached in time
                result, error = (self._outcome(fn, args) if held
                                 else (None, Late(started=False, left=0)))
        try:
            following = take_next()
            self._hand_back(result, error)
        finally:
            if held:
                order.release()  # type: ignore[union-attr]
        return following

    def _outcome(self, fn: Callable[..., Any],
                 args: Tuple[Any, ...]) -> Tuple[Any, Optional[BaseException]]:
        if self.abandoned:
            return None, Late(started=False)  # nobody waits for it
        deadline = self.deadline
        if deadline is not None and not deadline.enough_left():
            return None, Late(started=False, left=deadline.left())  # too late to begin
        try:
            return fn(*args), None
        except BaseException as e:  # handed to the request as it is
            return None, e

    def ended_quickly(self) -> bool:
        """On the loop's thread: whether the call ended within QUICK."""
        quick = self.quick
        assert quick is not None
        quick.acquire(timeout=QUICK)
        with self._pool.handing:
            self.quick = None
            if self._quick_outcome is None:
                return False  # the worker hands it back through the loop
        self.future.remove_done_callback(self._done)
        self._done(self.future)
        return True

    def outcome(self) -> Any:
        result, error = self._quick_outcome  # type: ignore[misc]
        self._quick_outcome = None
        if error is not None:
            raise error
        return result

    def _hand_back(self, result: Any, error: Optional[BaseException]) -> None:
        if self.quick is not None:
            with self._pool.handing:
                quick = self.quick
                if quick is not None:  # still waited for on the loop's thread
                    self._quick_outcome = (result, error)
                    quick.release()
                    return
        try:
            self._loop.call_soon_threadsafe(self.settle, result, error)
        except RuntimeError:
            pass  # the loop has closed: no request waits any more

    def _late(self) -> None:
        self.settle(None, Late(self.started))

    def settle(self, result: Any, error: Optional[BaseException]) -> None:
        """On the loop's thread: the request's outcome, unless it has one."""
        if self.future.done():
            return
        if error is None:
            self.future.set_result(result)
        else:
            self.future.set_exception(error)

    def discard(self) -> None:
        """A call refused before it was given to the pool: nothing of it stays."""
        self.future.remove_done_callback(self._done)
        self._fn, self._args = None, ()
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None

    def _done(self, _: "asyncio.Future[Any]") -> None:
        # Answered, late, stopped or cancelled: no timer left, nor a call in
        # the queue that nobody waits for.
        self.abandoned = True
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None
        if not self.started:
            self._pool.withdraw(self)
        self._pool.pending.discard(self)
