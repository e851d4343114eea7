"""Failing fast while a platform is down.

After a call timed out or could not connect, calls to the same platform (its
base URL: credentials play no part) fail at once for the cool-down, with the
status of that failure and a text saying when the next attempt is; then one
call tries again (the others keep failing fast meanwhile). A dead platform
so costs the server one deadline per cool-down, not one per request. Any
answer of the platform ends it.
State of this process only.
"""
import math
import threading
from typing import Dict, Optional, Tuple

import requests

from corvanix.zorvik import _clock, _errors

_lock = threading.Lock()
# platform -> (monotonic end of the cool-down, status, what happened)
_cooling: Dict[str, Tuple[float, int, str]] = {}


def enter(platform: str, cooldown: float) -> Optional[requests.exceptions.RequestException]:
    """None when a call may go to `platform`; while it cools down, the fast
    failure to raise instead."""
    if platform not in _cooling:  # the usual case, without the lock
        return None
    with _lock:
        entry = _cooling.get(platform)
        if entry is None:
            return None
        end, status, what = entry
        now = _clock.now()
        if now >= end:
            # This call tries again; others fail fast until it is done.
            _cooling[platform] = (now + cooldown, status, what)
            return None
    return _errors.bad_request(
        status, f"{what} Calls fail at once until the next attempt in {math.ceil(end - now)} s.")


def failed(platform: str, cooldown: float, status: int, what: str) -> None:
    with _lock:
        if cooldown > 0:
            _cooling[platform] = (_clock.now() + cooldown, status, what)
        else:
            _cooling.pop(platform, None)


def answered(platform: str) -> None:
    with _lock:
        _cooling.pop(platform, None)


def active() -> int:
    """The platforms whose calls fail at once now (the metrics' reading)."""
    now = _clock.now()
    with _lock:
        return sum(1 for end, _, _ in _cooling.values() if end > now)


def clear() -> None:
    with _lock:
        _cooling.clear()
