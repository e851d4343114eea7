"""A small client of a remote Zorvik platform, used when a platform URL is set.

It speaks JSON over HTTP to two endpoints under the configured URL:

    GET {ZORVIK_URL}/api/workspaces
        200 with [{"id": <int>, "name": <str>, "current": <bool>}, ...]
    PUT {ZORVIK_URL}/api/workspaces/current   body {"workspace_id": <int or null>}
        any 2xx on success

A failing platform answers with a status of 400 or more and, ideally, a body
{"error": "<message>"}. Credentials (`_platform` says where they come from)
are sent as HTTP basic authentication.

The handler calls us on the server's event loop, so every call is bounded:
connect, send and every read together end within the deadline (504), an
answer may hold at most the size limit after decompression (502), and after
a timeout or a connection failure calls to that platform fail at once for
the cool-down. The settings come from `_settings`.

Every failure is raised as a `requests` exception with a text of our own:
the library's texts carry the URL, and with it any credentials; a
platform's message reaches the client only when it repeats no credential.
"""
import http.client
import json
from typing import Any, List, Optional, Tuple

import requests
import urllib3.exceptions

from corvanix.zorvik import (_answer, _cooldown, _credentials, _deadline, _errors, _settings,
                             _transport)
from corvanix.zorvik._platform import Target
from corvanix.zorvik.schemas import WorkspaceInfo

WORKSPACES_PATH = "/api/workspaces"
CURRENT_PATH = "/api/workspaces/current"

TIMED_OUT = "The Zorvik platform did not answer in time."
REQUEST_FAILED = "The request to the Zorvik platform failed."
BAD_ANSWER = "The Zorvik platform sent an answer that is not a workspace list."
TOO_LARGE = "The Zorvik platform sent an answer larger than the size limit."
MESSAGE_LIMIT = 300


def get_joined_workspaces(target: Target) -> List[WorkspaceInfo]:
    items = _json(_request(target, "GET", WORKSPACES_PATH))
    if not isinstance(items, list) or not all(_is_workspace(item) for item in items):
        raise _errors.bad_request(502, BAD_ANSWER)
    return [WorkspaceInfo(item["id"], item["name"], item.get("current") is True) for item in items]


def set_joined_workspace(target: Target, workspace_id: Optional[int]) -> None:
    _request(target, "PUT", CURRENT_PATH, {"workspace_id": workspace_id})


class _Auth(requests.auth.AuthBase):
    """Our own Authorization header, so that requests never looks up other
    credentials (a .netrc) that the message filter would not know."""

    def __init__(self, value: Optional[str]) -> None:
        self.value = value

    def __call__(self, request: requests.PreparedRequest) -> requests.PreparedRequest:
        if self.value is not None:
            request.headers["Authorization"] = self.value
        return request


def _request(target: Target, method: str, path: str, body: Any = None) -> bytes:
    """The body of the platform's 2xx answer; any other outcome raises."""
    settings = _settings.current
    platform = target.platform.base
    _cooldown.enter(platform, settings.cooldown)
    # The failure is raised outside the handlers so that it carries no
    # context: the library's exception (and its URL) stays behind.
    failure: Optional[Exception] = None
    # What starts a cool-down: (status, text); None when the platform answered.
    cooling: Optional[Tuple[int, str]] = None
    with _deadline.within(settings.deadline):
        try:
            status, content = _exchange(target, method, path, body, settings.max_answer_bytes)
        except (requests.exceptions.RequestException, urllib3.exceptions.HTTPError, OSError,
                ValueError) as e:
            failure, cooling = _failure_of_exchange(e)
        except _answer.TooLarge:
            failure = _errors.bad_request(502, TOO_LARGE)
        except _answer.Unreadable:
            failure = _errors.bad_request(502, BAD_ANSWER)
    if cooling is None:
        _cooldown.answered(platform)
    else:
        _cooldown.failed(platform, settings.cooldown, *cooling)
    if failure is not None:
        raise failure
    if not 200 <= status < 300:
        raise _errors.platform_error(*_failure_of(status, content, target.credentials))
    return content


def _exchange(target: Target, method: str, path: str, body: Any,
              limit: int) -> Tuple[int, bytes]:
    authorization = None if target.credentials is None else target.credentials.authorization
    response = _transport.session().request(
        method, target.platform.base + path,
        json=body if method != "GET" else None,
        headers={"Accept": "application/json", "Accept-Encoding": _answer.ACCEPT_ENCODING},
        auth=_Auth(authorization),
        # The connections bound every operation by the deadline; this is
        # only the library's own ceiling.
        timeout=_deadline.wait_limit(0),
        stream=True,
        # A redirect could carry the credentials to another place.
        allow_redirects=False)
    try:
        return response.status_code, _answer.read(response, limit)
    finally:
        # After a whole answer the connection is back in the pool already;
        # after a partial one this closes it.
        response.close()


def _failure_of_exchange(error: Exception) -> Tuple[Exception, Optional[Tuple[int, str]]]:
    """Our failure for a library's, and the (status, text) of the cool-down
    it starts, if any."""
    # (urllib3's NewConnectionError is a TimeoutError too: a refused connection.)
    if _deadline.passed() or isinstance(error, (requests.exceptions.Timeout,
                                                urllib3.exceptions.ReadTimeoutError)):
        return _errors.bad_request(504, TIMED_OUT), (504, TIMED_OUT)
    if isinstance(error, requests.exceptions.ConnectionError):
        # The handler answers these 502 with a fixed text of its own.
        return _errors.unreachable(), (502, _errors.UNREACHABLE)
    if isinstance(error, ValueError):  # requests' InvalidURL and its kin
        return _errors.bad_request(502, _errors.INVALID_URL), None
    return _errors.bad_request(502, REQUEST_FAILED), None


def _failure_of(status: int, content: bytes,
                credentials: Optional[_credentials.Credentials]) -> Tuple[int, str]:
    if not 400 <= status < 600:
        return 502, f"The Zorvik platform answered with the unexpected status {status}."
    try:
        message = json.loads(content).get("error")
    except (ValueError, RecursionError, AttributeError):
        message = None
    if (not isinstance(message, str) or not message.strip() or len(message) > MESSAGE_LIMIT
            or _credentials.holds_secret(message, credentials)):
        phrase = http.client.responses.get(status, "Error")
        message = f"The Zorvik platform answered {status} {phrase}."
    return status, message


def _json(content: bytes) -> Any:
    try:
        return json.loads(content)
    except (ValueError, RecursionError):
        # RecursionError: an answer nested deeper than the parser goes.
        raise _errors.bad_request(502, BAD_ANSWER) from None


def _is_workspace(item: Any) -> bool:
    return (isinstance(item, dict) and type(item.get("id")) is int
            and isinstance(item.get("name"), str))
