"""Failing fast while a platform is down.

After a call timed out or could not connect, calls to the same platform (its
base URL: credentials play no part) fail at once for the cool-down, with the
status of that failure and a text saying when the next attempt is; then one
call tries again (the others keep failing fast meanwhile). A dead platform
so costs the server one deadline per cool-down, not one per request. Any
answer of the platform ends it.
"""
import math
import threading
from typing import Dict, Optional, Tuple

import requests

from corvanix.zorvik import _clock, _errors


class Cooldowns:
    """The platforms that cool down now, for one service."""

    def __init__(self, cooldown: float) -> None:
        self.cooldown = cooldown
        self._lock = threading.Lock()
        # platform -> (monotonic end of the cool-down, status, what happened)
        self._cooling: Dict[str, Tuple[float, int, str]] = {}

    def enter(self, platform: str) -> Optional[requests.exceptions.RequestException]:
        """None when a call may go to `platform`; while it cools down, the fast
        failure to raise instead."""
        if platform not in self._cooling:  # the usual case, without the lock
            return None
        with self._lock:
            entry = self._cooling.get(platform)
            if entry is None:
                return None
            end, status, what = entry
            now = _clock.now()
            if now >= end:
                # This call tries again; others fail fast until it is done.
                self._cooling[platform] = (now + self.cooldown, status, what)
                return None
        return _errors.bad_request(
            status,
            f"{what} Calls fail at once until the next attempt in {math.ceil(end - now)} s.")

    def failed(self, platform: str, status: int, what: str) -> None:
        with self._lock:
            if self.cooldown > 0:
                self._cooling[platform] = (_clock.now() + self.cooldown, status, what)
            else:
                self._cooling.pop(platform, None)

    def answered(self, platform: str) -> None:
        with self._lock:
            self._cooling.pop(platform, None)

    def active(self) -> int:
        """The platforms whose calls fail at once now (the metrics' reading)."""
        now = _clock.now()
        with self._lock:
            return sum(1 for end, _, _ in self._cooling.values() if end > now)
