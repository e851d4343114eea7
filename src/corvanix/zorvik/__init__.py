"""The Zorvik platform as the server's handlers use it.

`get_joined_workspaces()` lists the workspaces of the user, the joined one
marked "current"; `set_joined_workspace(workspace_id=...)` makes one of them
the joined one (None leaves it).

With a platform URL (the server extension's option, else ZORVIK_URL) they
talk to that platform (`_client`); without one they use an embedded store in
the Jupyter data directory (`_store`). What the extension does not set is
read from the environment at each call. Failures are raised as `requests`
exceptions whose text has the form "<status>: <message>" (a connection
failure excepted), which `corvanix.server.misc.functions.
parse_zorvik_exception` turns back into the answer's status and message.
"""
import os
from typing import List, Optional

from corvanix.zorvik import _client, _settings, _store
from corvanix.zorvik.schemas import WorkspaceInfo

__all__ = ["get_joined_workspaces", "set_joined_workspace", "WorkspaceInfo", "platform_url",
           "configure"]


def configure(**options) -> None:
    """Sets what the functions run with (the server extension does, at load).

    Options: url, deadline, cooldown, max_answer_bytes, store_path, log; one
    left out gets its default (see `_settings.Settings`).
    """
    _settings.configure(**options)


def platform_url() -> Optional[str]:
    """The configured platform, or None for the embedded store."""
    url = _settings.current.url
    if url is None:
        url = os.environ.get("ZORVIK_URL", "")
    return url.strip() or None


def get_joined_workspaces() -> List[WorkspaceInfo]:
    url = platform_url()
    if url is None:
        return _store.get_joined_workspaces()
    return _client.get_joined_workspaces(url)


def set_joined_workspace(workspace_id: Optional[int]) -> None:
    url = platform_url()
    if url is None:
        _store.set_joined_workspace(workspace_id)
    else:
        _client.set_joined_workspace(url, workspace_id)
