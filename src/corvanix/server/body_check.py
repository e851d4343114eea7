"""What the route tells a client about a POST body before the handler sees it.

The native `post` takes a body the way its source does: `true` becomes
workspace 1, `2.9` workspace 2, and a list or a string raises, which the
server answers 500 with a traceback in its log. A client's mistake is the
client's to mend, so the route answers those bodies 400 with a text that
says what is wrong. Bodies that are not JSON at all, and an object without
"workspace_id", go on to the handler, whose answers to them stay.
"""
import json
from typing import Optional

NOT_AN_OBJECT = "The request body must be a JSON object."
NOT_AN_ID = "workspace_id must be an integer or null."


def body_problem(body: bytes) -> Optional[str]:
    """The text to answer 400 with, or None when the handler takes the body."""
    if not body.strip():
        return NOT_AN_OBJECT
    try:
        data = json.loads(body.decode("utf-8"))
    except ValueError:  # not JSON, or not UTF-8: the server's own 400
        return None
    if not isinstance(data, dict):
        return NOT_AN_OBJECT
    value = data.get("workspace_id")
    # an absent member is None here too: the handler answers it; bool is an int subclass, and refused
    return None if value is None or type(value) is int else NOT_AN_ID
