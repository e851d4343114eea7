"""The Zorvik platform as the server's handlers use it.

`get_joined_workspaces()` lists the workspaces the user has joined and
`set_joined_workspace(workspace_id=...)` makes one of them the current one.
Failures are raised as `requests` exceptions whose text has the form
"<status>: <message>", which `corvanix.server.misc.functions.
parse_zorvik_exception` turns back into the answer's status and message.
"""
from typing import List, Optional

import requests

from corvanix.zorvik.schemas import WorkspaceInfo

__all__ = ["get_joined_workspaces", "set_joined_workspace", "WorkspaceInfo"]


class _MemoryStore:
    """The user's workspaces, kept in the server process."""

    def __init__(self) -> None:
        self.workspaces = [
            WorkspaceInfo(1, "Research"),
            WorkspaceInfo(2, "Data Engineering"),
            WorkspaceInfo(3, "Sandbox"),
        ]
        self.joined_id: Optional[int] = None

    def set_joined(self, workspace_id: Optional[int]) -> None:
        if workspace_id is not None and all(w.id != workspace_id for w in self.workspaces):
            raise requests.exceptions.HTTPError(f"404: Workspace {workspace_id} does not exist.")
        self.joined_id = workspace_id


_store = _MemoryStore()


def get_joined_workspaces() -> List[WorkspaceInfo]:
    return list(_store.workspaces)


def set_joined_workspace(workspace_id: Optional[int]) -> None:
    _store.set_joined(workspace_id)
