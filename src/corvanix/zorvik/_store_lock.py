"""The embedded store's write lock: one writer at a time among this
process's threads (a reentrant lock) and among the processes that share the
file (an advisory `fcntl.flock` on "<store file>.lock" beside it, where the
store is a link: beside its target). Readers take none: a change replaces
the file whole.

Acquiring it waits at most the time it is given; the other process's
writer may hold it that long, and the kernel's lock has no timeout of its
own, so it is asked for again every POLL seconds until then.
"""
import fcntl
import os
import threading
import time
from typing import Any, Callable, Optional

POLL = 0.005


class WriteLock:
    def __init__(self, path_of: Callable[[], str],
                 failure: Callable[[str, OSError], Exception]) -> None:
        # The store file's path now, and the failure to raise (its text
        # naming no path) for a lock file that cannot be used.
        self._path_of, self._failure = path_of, failure
        self._threads = threading.RLock()
        # Under `_threads`: how often its holder holds it, and the lock file.
        self._depth = 0
        self._fd: Optional[int] = None

    def acquire(self, blocking: bool = True, timeout: float = -1) -> bool:
        """Whether it was acquired within `timeout` seconds (-1: no bound)."""
        end = None if timeout < 0 else time.monotonic() + timeout
        if not self._threads.acquire(blocking, timeout):
            return False
        if self._depth == 0:
            try:
                fd = self._lock_file(end)
            except BaseException:
                self._threads.release()
                raise
            if fd is None:
                self._threads.release()
                return False
            self._fd = fd
        self._depth += 1
        return True

    def release(self) -> None:
        self._depth -= 1
        if self._depth == 0:
            fd, self._fd = self._fd, None
            os.close(fd)  # type: ignore[arg-type]  # which lets go of the file's lock
        self._threads.release()

    def __enter__(self) -> "WriteLock":
        self.acquire()
        return self

    def __exit__(self, *_: Any) -> None:
        self.release()

    def _lock_file(self, end: Optional[float]) -> Optional[int]:
        path = os.path.realpath(self._path_of()) + ".lock"
        try:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o600)
        except OSError as e:
            raise self._failure(path, e) from None
        try:
            while True:
                try:
                    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                    return fd
                except BlockingIOError:
                    pass  # another process writes
                if end is not None and time.monotonic() >= end:
                    os.close(fd)
                    return None
                time.sleep(POLL)
        except OSError as e:
            os.close(fd)
            raise self._failure(path, e) from None
