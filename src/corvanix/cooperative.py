"""Synchronous request code that waits without holding up the event loop.

`Call(fn, *args).result()` is a coroutine that runs `fn` in a greenlet. Where
the code inside would block, it calls `wait(awaitable)`: its greenlet is
suspended, the coroutine awaits the awaitable on the loop (which serves
other requests meanwhile), and the greenlet resumes with the result or the
exception. Outside such a call `inside()` is False, and callers do their
work inline as any script would.

The greenlets are kept and run one call after another: a new one would map
a fresh frame stack for its first call and unmap it at its end, which costs
as much as the rest of the hand-off.

The stack switching is greenlet's; this is only the bridge between a
greenlet and the coroutine that drives it.
"""
import asyncio
import contextvars
import threading
from typing import Any, Awaitable, Callable, Generic, List, Optional, TypeVar

import greenlet

_T = TypeVar("_T")

# Idle greenlets kept per thread (more are made while many calls wait at once).
KEEP = 32

# What a greenlet hands its driver when its call has ended.
_ENDED = object()


class _Runner(greenlet.greenlet):
    """Runs `Call`s, one after another; `wait` hands their awaitables out."""

    def __init__(self) -> None:
        super().__init__(self._serve)

    def _serve(self, call: "Call[Any]") -> None:
        while True:
            call._run_here()
            # Nothing of the call is held while idle.
            call = None  # type: ignore[assignment]
            call = self.parent.switch(_ENDED)


_idle = threading.local()  # a greenlet runs only on the thread that made it


def _idle_runners() -> List[_Runner]:
    try:
        return _idle.runners
    except AttributeError:
        _idle.runners = []
        return _idle.runners


class Call(Generic[_T]):
    def __init__(self, fn: Callable[..., _T], *args: Any) -> None:
        self._fn: Optional[Callable[..., _T]] = fn
        self._args = args
        self._result: Any = None
        self._error: Optional[BaseException] = None
        self._waiting: Optional["asyncio.Future[Any]"] = None

    async def result(self) -> _T:
        """What `fn(*args)` returns (or raises), each of its waits awaited here."""
        idle = _idle_runners()
        runner = idle.pop() if idle else _Runner()
        # The code sees the context variables the coroutine sees.
        runner.gr_context = contextvars.copy_context()
        sent = runner.switch(self)
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
        runner.gr_context = None
        if len(idle) < KEEP:
            idle.append(runner)
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

    def _run_here(self) -> None:
        """In the runner's greenlet."""
        fn, self._fn = self._fn, None
        try:
            self._result = fn(*self._args)  # type: ignore[misc]
        except greenlet.GreenletExit:
            raise  # the greenlet is being collected: it ends
        except BaseException as e:  # handed to the coroutine, which raises it
            self._error = e
        finally:
            self._args = ()


def inside() -> bool:
    """Whether the calling code runs inside a `Call` (on the loop's thread)."""
    return isinstance(greenlet.getcurrent(), _Runner)


def wait(awaitable: Awaitable[_T]) -> _T:
    """The outcome of `awaitable`, awaited by the coroutine that drives the
    calling code. Only inside a `Call`."""
    # The parent is the greenlet the coroutine switched in from: it gets the
    # awaitable, and switches back with its outcome.
    return greenlet.getcurrent().parent.switch(awaitable)
