"""The Zorvik platform as the server's handlers use it.

`get_joined_workspaces()` lists the workspaces of the user, the joined one
marked "current"; `set_joined_workspace(workspace_id=...)` makes one of them
the joined one (None leaves it).

With a platform URL (the server extension's option, else ZORVIK_URL) they
talk to that platform (`_client`); without one they use an embedded store in
the Jupyter data directory (`_store`). What the extension does not set is
read from the environment at each call. Inside a request that runs
cooperatively they hand the platform call, or the store's read and write,
to worker threads and let the event loop serve other requests meanwhile
(`_workers`); anywhere else they do the work inline. What they run with,
and keep between calls, is the current service's (`_service`), which the
server extension builds when the server loads it. Failures are raised
as `requests` exceptions whose text has the form "<status>: <message>" (a
connection failure excepted), which `parse_zorvik_exception` turns back
into the answer's status and message (`_errors`).
"""
from typing import List, Optional

from corvanix.zorvik import _service, _settings
from corvanix.zorvik._errors import parse_zorvik_exception
from corvanix.zorvik._platform import Refused
from corvanix.zorvik._service import Service
from corvanix.zorvik._settings import (DEFAULT_COOLDOWN, DEFAULT_DEADLINE,
                                       DEFAULT_MAX_ANSWER_BYTES, DEFAULT_MAX_STORE_BYTES,
                                       DEFAULT_MAX_WAITING, DEFAULT_WORKERS)
from corvanix.zorvik.schemas import WorkspaceInfo

__all__ = ["get_joined_workspaces", "set_joined_workspace", "parse_zorvik_exception",
           "WorkspaceInfo", "configure", "platform_base", "log_proxy", "store_path", "stop",
           "Service", "Refused", "DEFAULT_DEADLINE", "DEFAULT_COOLDOWN",
           "DEFAULT_MAX_ANSWER_BYTES", "DEFAULT_MAX_STORE_BYTES", "DEFAULT_WORKERS",
           "DEFAULT_MAX_WAITING"]


def configure(**options) -> Service:
    """Builds the service the functions run with from now on (the server
    extension does, at load), and gives it.

    Options: url, username, password_file, deadline, cooldown,
    max_answer_bytes, ca_bundle, store_path, max_store_bytes, workers,
    max_waiting, log; one left out gets its default (see `_settings.Settings`).
    """
    return _service.start(_settings.validated(**options))


async def stop() -> None:
    """Stops the current service (`Service.stop`). On the event loop's thread."""
    await _service.current().stop()


def platform_base() -> Optional[str]:
    """The base URL of the platform the calls go to, or None for the
    embedded store (`Service.platform_base`)."""
    return _service.current().platform_base()


def log_proxy() -> None:
    """Logs the proxy that will carry the platform calls (`Service.log_proxy`)."""
    _service.current().log_proxy()


def store_path() -> str:
    """The embedded store's file, as the settings and the environment say now."""
    return _service.current().store.path()


def get_joined_workspaces() -> List[WorkspaceInfo]:
    return _service.current().get_joined_workspaces()


def set_joined_workspace(workspace_id: Optional[int]) -> None:
    _service.current().set_joined_workspace(workspace_id)
