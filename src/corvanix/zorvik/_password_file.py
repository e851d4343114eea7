"""The platform's password, kept in a file of its own.

The file is looked at (one stat) at every call and read again when it has
changed, so a new password takes effect without a restart. It is refused
while other users may read it, and when it is not one line of UTF-8 text.
Refusals name the file and the problem, never anything it holds.
"""
import os
import stat
from typing import Optional, Tuple

# A password, not a document.
MAX_BYTES = 4096
_OTHERS = stat.S_IRWXG | stat.S_IRWXO


class Unusable(Exception):
    """The file gives no password; the text says why."""


class PasswordFile:
    """The password file's content as last read, for one service."""

    def __init__(self) -> None:
        # (what identifies that version of the file, its password)
        self._last: Optional[Tuple[tuple, str]] = None

    def read(self, path: str) -> str:
        """The password in the file at `path`."""
        try:
            seen = os.stat(path)
        except OSError as e:
            raise Unusable(f"cannot be read ({e.strerror})") from None
        _check(seen)
        last = self._last
        if last is not None and last[0] == _version(path, seen):
            return last[1]
        try:
            with open(path, "rb") as f:
                # What is read must be what was checked: the file may have changed since.
                opened = os.fstat(f.fileno())
                _check(opened)
                data = f.read(MAX_BYTES + 1)
        except OSError as e:
            raise Unusable(f"cannot be read ({e.strerror})") from None
        password = _password_of(data)
        self._last = (_version(path, opened), password)
        return password


def _check(status: os.stat_result) -> None:
    if not stat.S_ISREG(status.st_mode):
        raise Unusable("is not a regular file")
    if status.st_mode & _OTHERS:
        raise Unusable(f"is open to other users (mode {stat.S_IMODE(status.st_mode):04o}); "
                       f"let its owner alone read it (chmod 600)")


def _version(path: str, status: os.stat_result) -> tuple:
    return (path, status.st_dev, status.st_ino, status.st_size, status.st_mtime_ns,
            status.st_ctime_ns)


def _password_of(data: bytes) -> str:
    if len(data) > MAX_BYTES:
        raise Unusable(f"is larger than {MAX_BYTES} bytes")
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        raise Unusable("is not UTF-8 text") from None
    # One line; its line end is no part of the password.
    password = text[:-1] if text.endswith("\n") else text
    password = password[:-1] if password.endswith("\r") else password
    if not password:
        raise Unusable("is empty")
    if "\n" in password or "\r" in password:
        raise Unusable("holds more than one line")
    return password
