"""The server log's account of failing platform calls.

Each failing call logs one warning naming the cause and the platform's base.
The same cause again within the cool-down, and the requests failing at once
during it, are counted instead, and the count is logged once that time is
over (at the platform's next call) or the cause changes. When the platform
answers again after a failure, one line says so.
"""
import logging
import threading
from typing import Dict, List, Optional

from corvanix.zorvik import _clock
from corvanix.zorvik._cause import Cause


class _Episode:
    """A cause logged, and how often it came again since."""

    __slots__ = ("words", "start", "end", "count")

    def __init__(self, words: str, start: float, end: float) -> None:
        self.words, self.start, self.end, self.count = words, start, end, 0


class FailureLog:
    """The episodes of one service's platforms, written to its log."""

    def __init__(self, log: logging.Logger, cooldown: float) -> None:
        self.log, self.cooldown = log, cooldown
        self._lock = threading.Lock()
        self._episodes: Dict[str, _Episode] = {}

    def failed(self, platform: str, cause: Cause) -> None:
        now = _clock.now()
        with self._lock:
            last = self._episodes.get(platform)
            if last is not None and last.words == cause.words and now < last.end:
                last.count += 1
                return
            self._episodes[platform] = _Episode(cause.words, now, now + self.cooldown)
        lines = _count_lines(platform, last, now)
        line = f"Zorvik platform {platform}: {cause.words}."
        if cause.down and self.cooldown > 0:
            line += f" Requests to it fail at once for the next {self.cooldown:g} s."
        self._write(lines + [line])

    def repeated(self, platform: str) -> None:
        """A request failed at once, during the cool-down."""
        with self._lock:
            last = self._episodes.get(platform)
            if last is not None:
                last.count += 1

    def answered(self, platform: str) -> None:
        if platform not in self._episodes:  # the usual case, without the lock
            return
        with self._lock:
            last = self._episodes.pop(platform, None)
        if last is not None:
            self._write(_count_lines(platform, last, _clock.now()))
            self.log.info("Zorvik platform %s answers again.", platform)

    def _write(self, lines: List[str]) -> None:
        for line in lines:
            self.log.warning("%s", line)


def _count_lines(platform: str, last: Optional[_Episode], now: float) -> List[str]:
    if last is None or last.count == 0:
        return []
    requests = "request" if last.count == 1 else "requests"
    return [f"Zorvik platform {platform}: {last.count} more {requests} failed the same way "
            f"({last.words}) in the last {now - last.start:.0f} s."]
