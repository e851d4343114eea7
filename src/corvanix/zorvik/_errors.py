"""The failures the Zorvik functions raise, and how their texts read back.

A failure that the handler answers with its own status and message is a
`requests` exception whose text is "<status>: <message>"; the handler hands
that text to `parse_zorvik_exception`, which gives the two back. A
connection failure is the exception: the handler answers it with a fixed
text of its own.

Every text here is our own: handlers put exception texts into their answers,
so nothing that came from a URL, a header or the library's own messages may
end up in one.
"""
import re
from typing import Tuple

import requests

# Ours only has to be free of the URL: the handler does not show it.
UNREACHABLE = "The Zorvik platform could not be reached."
UNUSABLE_CREDENTIALS = "The credentials for the Zorvik platform cannot be used."
STOPPING = "The server is stopping."

# Any other text, someone else's, is never echoed: it may carry a URL with
# credentials.
UNPARSED_STATUS = 502
UNPARSED_MESSAGE = "The Zorvik platform request failed."

_FORM = re.compile(r"\A([1-5][0-9][0-9]): (.+)\Z", re.DOTALL)


def invalid_url(setting: str) -> str:
    """The answer for a platform URL that cannot be used: the setting that
    holds it, never its value."""
    return f"{setting} is not a valid http(s) URL."


def busy(what: str) -> str:
    """The answer when too many requests wait for `what` already."""
    return f"{what} is busy: too many requests wait for it. Try again shortly."


def unusable_proxy(setting: str) -> str:
    return f"{setting} names a proxy that the server cannot use."


INVALID_URL = invalid_url("ZORVIK_URL")


def platform_error(status: int, message: str) -> requests.exceptions.HTTPError:
    """An HTTP failure: the platform's (or the store's) answer."""
    return requests.exceptions.HTTPError(_text(status, message))


def unreachable() -> requests.exceptions.ConnectionError:
    return requests.exceptions.ConnectionError(UNREACHABLE)


def bad_request(status: int, message: str) -> requests.exceptions.RequestException:
    """Any other request failure (bad URL, timeout, unreadable answer)."""
    return requests.exceptions.RequestException(_text(status, message))


def _text(status: int, message: str) -> str:
    return f"{status}: {message}"


def parse_zorvik_exception(error_str: str) -> Tuple[int, str]:
    """The status and message of the answer to a failed Zorvik request."""
    match = _FORM.match(error_str)
    if match is None:
        return UNPARSED_STATUS, UNPARSED_MESSAGE
    return int(match.group(1)), match.group(2)
