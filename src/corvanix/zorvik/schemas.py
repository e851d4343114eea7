"""Shapes of the Zorvik platform's data."""
from typing import Any, Dict


class WorkspaceInfo:
    """One Zorvik workspace the user belongs to.

    `id` is the integer a client posts as "workspace_id"; `current` tells
    whether it is the workspace the user has joined for this server.
    """

    __slots__ = ("id", "name", "current")

    def __init__(self, id: int, name: str, current: bool = False) -> None:
        self.id = id
        self.name = name
        self.current = current

    def to_dict(self) -> Dict[str, Any]:
        return {"id": self.id, "name": self.name, "current": self.current}

    def __repr__(self) -> str:
        return f"WorkspaceInfo(id={self.id!r}, name={self.name!r}, current={self.current!r})"

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, WorkspaceInfo):
            return NotImplemented
        return (self.id, self.name, self.current) == (other.id, other.name, other.current)
