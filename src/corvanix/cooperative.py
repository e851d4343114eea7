"""Synchronous request code that waits without holding up the event loop.

`Call(fn, *args).result()` is a coroutine that runs `fn` in a greenlet. Where
the code inside would block, it calls `wait(awaitable)`: its greenlet is
suspended, the coroutine awaits the awaitable on the loop (which serves
other requests meanwhile), and the greenlet resumes with the result or the
exception. Outside such a call `inside()` is False, and callers do their
work inline as any script would.

Each call has a greenlet of its own, which ends with it: none is left
suspended (a suspended greenlet's frames are out of the collector's sight,
so one dropped so would hold what it references for good), and each starts
at the recursion depth of the coroutine that drives it. Keeping greenlets
for reuse would save a little (a fresh one costs 0.5 us more on 3.8, 14 us
on 3.13, which maps a frame stack for it: about 2 % of the server's CPU time
for a GET on the embedded store) but would keep each one's depth and stack
place from its first call.

The stack switching is greenlet's; this is only the bridge between a
greenlet and the coroutine that drives it.
"""
import asyncio
import contextvars
from typing import Any, Awaitable, Callable, Generic, Optional, TypeVar

import greenlet

_T = TypeVar("_T")

# What a greenlet hands its driver when its call has ended.
_ENDED = object()


class _Runner(greenlet.greenlet):
    """The greenlet of one `Call`; `wait` hands its awaitables out."""


class Call(Generic[_T]):
    def __init__(self, fn: Callable[..., _T], *args: Any) -> None:
        self._fn: Optional[Callable[..., _T]] = fn
        self._args = args
        self._result: Any = None
        self._error: Optional[BaseException] = None
        self._waiting: Optional["asyncio.Future[Any]"] = None

    async def result(self) -> _T:
        """What `fn(*args)` returns (or raises), each of its waits awaited here."""
        runner = _Runner(self._run_here)
        # The code sees the context variables the coroutine sees.
        runner.gr_context = contextvars.copy_context()
        sent = runner.switch()
        while sent is not _ENDED:
            self._waiting = asyncio.ensure_future(sent)
            try:
                outcome = await self._waiting
            except BaseException as e:  # a cancellation too: the code unwinds with it
                sent = runner.throw(e)
            else:
                sent = runner.switch(outcome)
            finally:
                self._waiting = None
        error, self._error = self._error, None
        if error is not None:
            raise error
        return self._result

    def cancel(self) -> None:
        """Cancels what the call waits for now, if anything: `wait` raises
        CancelledError inside it, and so, unless the code there handles
        it, does `result()`."""
        if self._waiting is not None:
            self._waiting.cancel()

    def _run_here(self) -> object:
        """In the runner's greenlet, which ends with it."""
        fn, self._fn = self._fn, None
        try:
            self._result = fn(*self._args)  # type: ignore[misc]
        except BaseException as e:  # handed to the coroutine, which raises it
            self._error = e
        finally:
            self._args = ()
        return _ENDED


def inside() -> bool:
    """Whether the calling code runs inside a `Call` (on the loop's thread)."""
    return isinstance(greenlet.getcurrent(), _Runner)


def wait(awaitable: Awaitable[_T]) -> _T:
    """The outcome of `awaitable`, awaited by the coroutine that drives the
    calling code. Only inside a `Call`."""
    # The parent is the greenlet the coroutine switched in from: it gets the
    # awaitable, and switches back with its outcome.
    return greenlet.getcurrent().parent.switch(awaitable)
