"""Helpers shared by the server's handlers."""
import re
from typing import Tuple

# "<status>: <message>", the form in which the Zorvik client reports failures.
_ZORVIK_ERROR = re.compile(r"\A([1-5][0-9][0-9]): (.+)\Z", re.DOTALL)

UNPARSED_STATUS = 502
UNPARSED_MESSAGE = "The Zorvik platform request failed."


def parse_zorvik_exception(error_str: str) -> Tuple[int, str]:
    """The status and message of the answer to a failed Zorvik request.

    A text that is not in the client's own form is never echoed (it may
    carry a URL with credentials): it gets a fixed status and message.
    """
    match = _ZORVIK_ERROR.match(error_str)
    if match is None:
        return UNPARSED_STATUS, UNPARSED_MESSAGE
    return int(match.group(1)), match.group(2)
