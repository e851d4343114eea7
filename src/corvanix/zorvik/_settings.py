"""What the Zorvik functions run with: the server extension's options when
it has loaded, else the defaults (`validated` checks a set of them).

A URL or store path of None means "decided at each call": ZORVIK_URL and the
Jupyter data directory, as the environment says at that moment. `_platform`
turns the URL and the credentials' settings into where the calls go.
"""
import logging
from typing import NamedTuple, Optional

DEFAULT_DEADLINE = 5.0
DEFAULT_COOLDOWN = 30.0
DEFAULT_MAX_ANSWER_BYTES = 1024 * 1024
DEFAULT_MAX_STORE_BYTES = 4 * 1024 * 1024
DEFAULT_WORKERS = 8
DEFAULT_MAX_WAITING = 100


class Settings(NamedTuple):
    # The platform's URL, without user information.
    url: Optional[str] = None
    # Basic authentication's user name, and the file that holds its password.
    username: Optional[str] = None
    password_file: Optional[str] = None
    # Seconds for one platform call: connect, send and every read together.
    deadline: float = DEFAULT_DEADLINE
    # Seconds during which calls fail at once after a timeout or a connection failure.
    cooldown: float = DEFAULT_COOLDOWN
    # Bytes of an answer after decompression.
    max_answer_bytes: int = DEFAULT_MAX_ANSWER_BYTES
    # The certificate authorities an https platform's certificate must come
    # from (a file or directory); None: as the environment says (`_trust`).
    ca_bundle: Optional[str] = None
    store_path: Optional[str] = None
    # Bytes of the embedded store's file.
    max_store_bytes: int = DEFAULT_MAX_STORE_BYTES
    # Threads that make the platform calls and the store's reads for
    # requests (the writes have one of their own), and how many calls may
    # wait for one of them.
    workers: int = DEFAULT_WORKERS
    max_waiting: int = DEFAULT_MAX_WAITING
    log: logging.Logger = logging.getLogger("corvanix.zorvik")


def validated(**options) -> Settings:
    settings = Settings(**options)
    if not settings.deadline > 0:
        raise ValueError("the deadline must be more than 0 seconds")
    if not settings.cooldown >= 0:
        raise ValueError("the cool-down must be 0 seconds or more")
    if settings.max_answer_bytes < 1:
        raise ValueError("the answer size limit must be 1 byte or more")
    if settings.max_store_bytes < 1:
        raise ValueError("the store size limit must be 1 byte or more")
    if settings.workers < 1:
        raise ValueError("there must be 1 worker or more")
    if settings.max_waiting < 0:
        raise ValueError("the number of waiting calls must be 0 or more")
    return settings
