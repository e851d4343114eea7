"""Shapes of the Zorvik platform's data."""
from typing import Any, Dict


class WorkspaceInfo:
    """One Zorvik workspace: its integer id and a display name."""

    __slots__ = ("id", "name")

    def __init__(self, id: int, name: str) -> None:
        self.id = id
        self.name = name

    def to_dict(self) -> Dict[str, Any]:
        return {"id": self.id, "name": self.name}

    def __repr__(self) -> str:
        return f"WorkspaceInfo(id={self.id!r}, name={self.name!r})"

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, WorkspaceInfo):
            return NotImplemented
        return (self.id, self.name) == (other.id, other.name)
