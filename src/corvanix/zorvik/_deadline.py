"""A request's deadline: when it asked, and how many seconds it has.

Made once, when the request asks, and handed to the worker (which does not
start a call with too little left) and to the transport (whose every
connect, send and receive may only wait for what is left), so that the wait
for a worker is part of it and a platform that drips its answer or stalls
cannot stretch a call past it.
"""
import socket
from typing import Optional

from corvanix.zorvik import _clock

# A call is not made with less than this left: the kernel sends a lost
# connect's first retransmission only after a second, so a platform given
# less has not had the time to answer, and its silence says nothing.
LEAST_CALL = 1.0

# A store write is not begun with less than this left: on a healthy disk it
# takes milliseconds, and one that ends after its request was answered
# would change the file of a client told it failed.
LEAST_WRITE = 0.5

# A socket timeout of 0 would make the socket non-blocking instead.
_LEAST_WAIT = 0.001


class Deadline:
    __slots__ = ("asked", "seconds", "least")

    def __init__(self, seconds: float, least: float = 0.0,
                 asked: Optional[float] = None) -> None:
        self.asked = _clock.now() if asked is None else asked
        self.seconds = seconds
        # Less than this left, a call is not begun (LEAST_CALL for a
        # platform call, LEAST_WRITE for a store write).
        self.least = least

    @property
    def end(self) -> float:
        return self.asked + self.seconds

    def left(self) -> float:
        return self.end - _clock.now()

    def passed(self) -> bool:
        return self.left() <= 0

    def enough_left(self) -> bool:
        """Whether a call may still begin: `least` left, or half of a
        deadline shorter than twice that; some time in any case."""
        left = self.left()
        return left > 0 and left >= min(self.least, self.seconds / 2)

    def bound(self, sock: socket.socket) -> None:
        """Lets the next operation on `sock` wait only for what is left."""
        remaining = self.left()
        if remaining <= 0:
            raise socket.timeout("the call's deadline has passed")
        sock.settimeout(max(remaining, _LEAST_WAIT))

    def wait_limit(self) -> float:
        """A timeout for the library: what is left."""
        return max(self.left(), _LEAST_WAIT)
