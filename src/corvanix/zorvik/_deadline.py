"""The deadline of the platform call running on this thread.

The transport's sockets read it before every connect, send and receive, so
a platform that drips its answer or stalls cannot stretch a call past it:
each socket operation may only wait for what is left. A call handed to a
worker counts its deadline from when the request asked (`counted_from`),
so the wait for the worker is part of it.
"""
import contextlib
import socket
import threading
from typing import Iterator, Optional

from corvanix.zorvik import _clock

_active = threading.local()

# A socket timeout of 0 would make the socket non-blocking instead.
_LEAST_WAIT = 0.001


@contextlib.contextmanager
def within(seconds: float) -> Iterator[None]:
    asked = getattr(_active, "asked", None)
    _active.end = (_clock.now() if asked is None else asked) + seconds
    try:
        yield
    finally:
        _active.end = None


@contextlib.contextmanager
def counted_from(moment: float) -> Iterator[None]:
    """Calls on this thread meanwhile count their deadline from `moment`."""
    _active.asked = moment
    try:
        yield
    finally:
        _active.asked = None


def left() -> Optional[float]:
    """Seconds left for the running call; None outside one."""
    end = getattr(_active, "end", None)
    return None if end is None else end - _clock.now()


def passed() -> bool:
    remaining = left()
    return remaining is not None and remaining <= 0


def bound(sock: socket.socket) -> None:
    """Lets the next operation on `sock` wait only for what is left."""
    remaining = left()
    if remaining is None:
        return
    if remaining <= 0:
        raise socket.timeout("the call's deadline has passed")
    sock.settimeout(max(remaining, _LEAST_WAIT))


def wait_limit(default: float) -> float:
    """A timeout for the library: what is left, or `default` outside a call."""
    remaining = left()
    return default if remaining is None else max(remaining, _LEAST_WAIT)
