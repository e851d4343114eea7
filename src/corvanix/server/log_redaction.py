"""Passwords in URLs never reach a log record of the server.

At debug level the server and every extension log their whole configuration
("Config changed: {...}"), which holds a platform URL with its password
when one was given on the command line or in a config file. A record factory
masks the user information of such URLs in each record's message and
arguments (configurations included) before any handler formats it.
"""
import logging
import re
from typing import Any

_MASK = "***"
# In free text: from "://" to the last "@" before a quote or white space.
_IN_TEXT = re.compile(r"://[^\s'\"]*@")


def mask(value: str) -> str:
    """`value` with what lies between "://" and its last "@" masked."""
    start = value.find("://")
    at = value.rfind("@")
    if start < 0 or at < start:
        return value
    if value.find(" ", start) < 0:  # one URL: exact, whatever its password holds
        return value[:start + 3] + _MASK + value[at:]
    return _IN_TEXT.sub("://" + _MASK + "@", value)


def _masked(value: Any, depth: int = 0) -> Any:
    if isinstance(value, str):
        return mask(value) if "@" in value else value
    if depth > 8:
        return value
    if isinstance(value, dict):  # a traitlets Config too: its repr is a dict's
        return {k: _masked(v, depth + 1) for k, v in value.items()}
    if type(value) in (list, tuple):
        return type(value)(_masked(v, depth + 1) for v in value)
    return value


def install() -> None:
    previous = logging.getLogRecordFactory()
    if getattr(previous, "masks_url_passwords", False):
        return

    def factory(*args: Any, **kwargs: Any) -> logging.LogRecord:
        record = previous(*args, **kwargs)
        if isinstance(record.msg, str) and "@" in record.msg:
            record.msg = mask(record.msg)
        if record.args:
            record.args = _masked(record.args)
        return record

    factory.masks_url_passwords = True  # type: ignore[attr-defined]
    logging.setLogRecordFactory(factory)
