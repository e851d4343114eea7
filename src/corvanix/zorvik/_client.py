"""A small client of a remote Zorvik platform, used when a platform URL is set.

It speaks JSON over HTTP to two endpoints under the configured URL:

    GET {ZORVIK_URL}/api/workspaces
        200 with [{"id": <int>, "name": <str>, "current": <bool>}, ...]
    PUT {ZORVIK_URL}/api/workspaces/current   body {"workspace_id": <int or null>}
        any 2xx on success

A failing platform answers with a status of 400 or more and, ideally, a body
{"error": "<message>"}. Those about the client's request (400, 404, 409,
422) are passed on; any other is the platform's problem or ours with it
(401 and 403 refuse our credentials) and answers 502 naming it.
Credentials (`_platform` says where they come from) are sent as HTTP basic
authentication, trusting the authorities `_trust` names.

The handler calls us on the server's event loop, so every call is bounded:
connect, send and every read together end within the deadline (504), an
answer may hold at most the size limit after decompression (502), and after
a call the platform did not answer (`_cause`) calls to that platform fail at
once for the cool-down. Each failure is named in the server's log (`_log`).
The settings and what the calls keep between them (the cool-downs, the
log's episodes, the connections) are the service's (`_service`).

Every failure is raised as a `requests` exception with a text of our own:
the library's texts carry the URL, and with it any credentials; a
platform's message reaches the client only when it repeats no credential.
"""
import http.client
import json
import time
from typing import TYPE_CHECKING, Any, Callable, List, Optional, Tuple, TypeVar

import requests
import urllib3.exceptions

from corvanix.zorvik import (_answer, _cause, _credentials, _errors, _metrics, _platform,
                             _transport, _trust, _workers)
from corvanix.zorvik._cause import Cause
from corvanix.zorvik._deadline import Deadline
from corvanix.zorvik._platform import Target
from corvanix.zorvik.schemas import WorkspaceInfo

if TYPE_CHECKING:
    from corvanix.zorvik._service import Service

WORKSPACES_PATH = "/api/workspaces"
CURRENT_PATH = "/api/workspaces/current"

TIMED_OUT = _cause.TIMED_OUT
BAD_ANSWER = "The Zorvik platform sent an answer that is not a workspace list."
TOO_LARGE = "The Zorvik platform sent an answer larger than the size limit."
BUSY = _errors.busy("The Zorvik platform")
MESSAGE_LIMIT = 300
# The platform's statuses that describe the client's request: passed on.
PASSED_ON = frozenset({400, 404, 409, 422})
# The metrics' name of what a call does.
OPERATIONS = {"GET": "list", "PUT": "join"}

_T = TypeVar("_T")


def get_joined_workspaces(service: "Service", target: Target,
                          deadline: Deadline) -> List[WorkspaceInfo]:
    return _request(service, target, deadline, "GET", WORKSPACES_PATH, read=_workspaces)


def set_joined_workspace(service: "Service", target: Target, deadline: Deadline,
                         workspace_id: Optional[int]) -> None:
    _request(service, target, deadline, "PUT", CURRENT_PATH, {"workspace_id": workspace_id},
             read=lambda _: None)


def busy(service: "Service", platform: str) -> requests.exceptions.RequestException:
    """The failure of a request refused because too many wait for a worker."""
    return _logged(service, platform, Cause(
        f"{service.settings.max_waiting} requests wait for a free worker", 503, BUSY,
        kind="busy"))


def late(service: "Service", platform: str, late: "_workers.Late",
         deadline: Deadline) -> requests.exceptions.RequestException:
    """The failure of a request whose call did not end by the deadline, or
    was not made: no worker was free in time, or too little of the deadline
    was left when one was. Unless it began, the platform was not asked, and
    no cool-down starts."""
    if late.started:
        # Its worker logs how the call ends, when it does.
        return _errors.bad_request(504, TIMED_OUT)
    if late.left is None:
        words = f"timed out after {deadline.seconds:g} s waiting for a free worker"
    else:
        words = (f"call not made: {max(late.left, 0):.2g} s of the {deadline.seconds:g} s "
                 f"deadline left when a worker was free")
    return _logged(service, platform, Cause(words, 504, TIMED_OUT, kind="timeout"))


def _logged(service: "Service", platform: str,
            cause: Cause) -> requests.exceptions.RequestException:
    service.failures.failed(platform, cause)
    return cause.error()


def _workspaces(content: bytes) -> List[WorkspaceInfo]:
    try:
        items = json.loads(content)
    except (ValueError, RecursionError):
        # RecursionError: an answer nested deeper than the parser goes.
        items = None
    if not isinstance(items, list) or not all(_is_workspace(item) for item in items):
        raise _cause.Failed(Cause("answer is not a workspace list", 502, BAD_ANSWER,
                                  kind="bad_answer"))
    return [WorkspaceInfo(item["id"], item["name"], item.get("current") is True) for item in items]


class _Auth(requests.auth.AuthBase):
    """Our own Authorization header, so that requests never looks up other
    credentials (a .netrc) that the message filter would not know."""

    def __init__(self, value: Optional[str]) -> None:
        self.value = value

    def __call__(self, request: requests.PreparedRequest) -> requests.PreparedRequest:
        if self.value is not None:
            request.headers["Authorization"] = self.value
        return request


def _request(service: "Service", target: Target, deadline: Deadline, method: str, path: str,
             body: Any = None, *, read: Callable[[bytes], _T]) -> _T:
    """What `read` makes of the body of the platform's 2xx answer; any other
    outcome raises."""
    platform = target.platform.base
    operation = OPERATIONS[method]
    fast = service.cooldowns.enter(platform)
    if fast is not None:
        service.failures.repeated(platform)
        _metrics.platform_call(operation, _metrics.COOLING_DOWN)
        raise fast
    cause: Optional[Cause] = None
    started = time.monotonic()
    try:
        status, content = _exchange(service, target, deadline, method, path, body)
        if 200 <= status < 300:
            result = read(content)
        elif status not in PASSED_ON:
            raise _cause.Failed(_status_cause(status, content, target.credentials))
    except _cause.Failed as failed:
        cause = failed.cause
    _metrics.platform_call(operation, cause.kind if cause is not None else
                           _metrics.ANSWERED if 200 <= status < 300 else _metrics.PASSED_ON,
                           time.monotonic() - started)
    if cause is not None and cause.down:
        service.cooldowns.failed(platform, cause.status, cause.answer or _errors.UNREACHABLE)
    else:
        service.cooldowns.answered(platform)
    if cause is not None:
        service.failures.failed(platform, cause)
        # Raised here, outside the handlers, so that it carries no context:
        # the library's exception (and its URL) stays behind.
        raise cause.error()
    service.failures.answered(platform)
    if not 200 <= status < 300:
        # The platform's answer about the client's request.
        raise _errors.platform_error(status, _message(content, target.credentials)
                                     or f"The Zorvik platform answered {_phrase(status)}.")
    return result


def _exchange(service: "Service", target: Target, deadline: Deadline, method: str, path: str,
              body: Any) -> Tuple[int, bytes]:
    """The status and body of the platform's answer. Raises _cause.Failed."""
    settings = service.settings
    url = target.platform.base + path
    authorization = None if target.credentials is None else target.credentials.authorization
    given = deadline.left()
    try:
        with _transport.bounded_by(deadline):
            response = service.transport.request(
                method, url,
                json=body if method != "GET" else None,
                headers={"Accept": "application/json",
                         "Accept-Encoding": _answer.ACCEPT_ENCODING},
                auth=_Auth(authorization),
                verify=_trust.verify(settings) if url.startswith("https:") else True,
                stream=True,
                # A redirect could carry the credentials to another place.
                allow_redirects=False)
            try:
                return response.status_code, _answer.read(response, settings.max_answer_bytes)
            finally:
                # After a whole answer the connection is back in the pool
                # already; after a partial one this closes it.
                response.close()
    except (requests.exceptions.RequestException, urllib3.exceptions.HTTPError, OSError,
            ValueError) as e:
        raise _cause.Failed(_cause.of_exchange(e, target.platform.base,
                                               _platform.url_setting(settings), deadline,
                                               given)) from None
    except _answer.TooLarge:
        raise _cause.Failed(Cause(
            f"answer larger than the size limit of {settings.max_answer_bytes} bytes", 502,
            TOO_LARGE, kind="too_large")) from None
    except _answer.Unreadable as e:
        raise _cause.Failed(Cause(f"answer not readable ({e})", 502, BAD_ANSWER,
                                  kind="bad_answer")) from None


def _status_cause(status: int, content: bytes,
                  credentials: Optional[_credentials.Credentials]) -> Cause:
    if not 400 <= status < 600:
        answer = f"The Zorvik platform answered with the unexpected status {status}."
    else:
        message = _message(content, credentials)
        answer = f"The Zorvik platform answered {_phrase(status)}" + (
            f": {message}" if message else ".")
    return Cause(f"answered status {status}", 502, answer, kind="status")


def _phrase(status: int) -> str:
    return f"{status} {http.client.responses.get(status, 'Error')}"


def _message(content: bytes, credentials: Optional[_credentials.Credentials]) -> Optional[str]:
    """The platform's {"error": ...} text, unless it could give a secret away."""
    try:
        message = json.loads(content).get("error")
    except (ValueError, RecursionError, AttributeError):
        return None
    if (not isinstance(message, str) or not message.strip() or len(message) > MESSAGE_LIMIT
            or _credentials.holds_secret(message, credentials)):
        return None
    return message


def _is_workspace(item: Any) -> bool:
    return (isinstance(item, dict) and type(item.get("id")) is int
            and isinstance(item.get("name"), str))
