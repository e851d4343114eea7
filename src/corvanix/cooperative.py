"""Synchronous request code that waits without holding up the event loop.

`Call(fn, *args).result()` is a coroutine that runs `fn` in a greenlet of
its own. Where the code inside would block, it calls `wait(awaitable)`: its
greenlet is suspended, the coroutine awaits the awaitable on the loop (which
serves other requests meanwhile), and the greenlet resumes with the result
or the exception. Outside such a call `inside()` is False, and callers do
their work inline as any script would.

The stack switching is greenlet's; this is only the bridge between a
greenlet and the coroutine that drives it.
"""
import asyncio
import contextvars
from typing import Any, Awaitable, Callable, Generic, Optional, TypeVar

import greenlet

_T = TypeVar("_T")


class _CallGreenlet(greenlet.greenlet):
    """A greenlet that `Call` drives: `wait` may hand its awaitables out."""


class Call(Generic[_T]):
    def __init__(self, fn: Callable[..., _T], *args: Any) -> None:
        self._greenlet = _CallGreenlet(fn)
        # The code sees the context variables the coroutine sees (a new
        # greenlet would start with none).
        self._greenlet.gr_context = contextvars.copy_context()
        self._args = args
        self._waiting: Optional["asyncio.Future[Any]"] = None

    async def result(self) -> _T:
        """What `fn(*args)` returns (or raises), each of its waits awaited here."""
        child = self._greenlet
        sent = child.switch(*self._args)
        while not child.dead:
            self._waiting = asyncio.ensure_future(sent)
            try:
                outcome = await self._waiting
            except BaseException as e:  # a cancellation too: the greenlet unwinds with it
                sent = child.throw(e)
            else:
                sent = child.switch(outcome)
            finally:
                self._waiting = None
        return sent

    def cancel(self) -> None:
        """Cancels what the call waits for now, if anything: `wait` raises
        CancelledError inside it, and so, unless the code there handles
        it, does `result()`."""
        if self._waiting is not None:
            self._waiting.cancel()


def inside() -> bool:
    """Whether the calling code runs inside a `Call` (on the loop's thread)."""
    return isinstance(greenlet.getcurrent(), _CallGreenlet)


def wait(awaitable: Awaitable[_T]) -> _T:
    """The outcome of `awaitable`, awaited by the coroutine that drives the
    calling code. Only inside a `Call`."""
    # The parent is the greenlet the coroutine switched in from: it gets the
    # awaitable, and switches back with its outcome.
    return greenlet.getcurrent().parent.switch(awaitable)
