"""The embedded workspace store used when no Zorvik platform is configured.

One JSON file in the Jupyter data directory holds the user's workspaces and
the one joined for this server:

    {"workspaces": [{"id": 1, "name": "Research"}, ...], "current": 1}

It is created with a few example workspaces on first use and always replaced
as a whole (temporary file, fsync, rename), so a crash leaves either the old
or the new file, never a torn one. A store file that is a symbolic link is
replaced at its target, so the link stays. Failures name no path (their
text reaches the client); the path goes to the log.
"""
import errno
import json
import operator
import os
import tempfile
from typing import Any, Dict, List, Optional

from jupyter_core.paths import jupyter_data_dir

from corvanix.zorvik import _errors, _settings
from corvanix.zorvik.schemas import WorkspaceInfo

FILE_NAME = "zorvik-workspaces.json"

EXAMPLE_WORKSPACES = [
    {"id": 1, "name": "Research"},
    {"id": 2, "name": "Data Engineering"},
    {"id": 3, "name": "Sandbox"},
]


class StoreError(Exception):
    """The store cannot be used."""


class StoreDamagedError(StoreError):
    """The store file exists but does not hold what we write there."""


def store_path() -> str:
    configured = _settings.current.store_path
    if configured:
        return os.path.abspath(os.path.expanduser(configured))
    # Read at each use: the data directory follows the environment.
    return os.path.join(jupyter_data_dir(), "corvanix", FILE_NAME)


def get_joined_workspaces() -> List[WorkspaceInfo]:
    data = _load()
    return [WorkspaceInfo(w["id"], w["name"], w["id"] == data["current"])
            for w in data["workspaces"]]


def set_joined_workspace(workspace_id: Optional[int]) -> None:
    if workspace_id is not None:
        # Exactly an int goes into the file (True would be written as true).
        workspace_id = int(operator.index(workspace_id))
    data = _load()
    if workspace_id is not None and all(w["id"] != workspace_id for w in data["workspaces"]):
        # Answered like the platform's own 404.
        raise _errors.platform_error(404, f"Workspace {workspace_id} does not exist.")
    if data["current"] != workspace_id:
        data["current"] = workspace_id
        _write(store_path(), data)


def _load() -> Dict[str, Any]:
    path = store_path()
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        data = {"workspaces": [dict(w) for w in EXAMPLE_WORKSPACES], "current": None}
        _write(path, data)
        return data
    except OSError as e:
        raise _failure(StoreError, path, f"could not be read ({_reason(e)})") from None
    try:
        data = json.loads(text)
    except (ValueError, RecursionError):
        raise _failure(StoreDamagedError, path, "is not valid JSON") from None
    if not _well_formed(data):
        raise _failure(StoreDamagedError, path, "does not hold a workspace list")
    return data


def _failure(kind: type, path: str, what: str) -> StoreError:
    _settings.current.log.error("The workspace store %s %s.", path, what)
    return kind(f"The workspace store {what}.")


def _reason(error: OSError) -> str:
    # strerror alone: str(error) would name the file.
    return error.strerror or type(error).__name__


def _well_formed(data: Any) -> bool:
    if not isinstance(data, dict) or not isinstance(data.get("workspaces"), list):
        return False
    for w in data["workspaces"]:
        if not (isinstance(w, dict) and _is_int(w.get("id")) and isinstance(w.get("name"), str)):
            return False
    current = data.get("current", None)
    data.setdefault("current", None)
    return current is None or _is_int(current)


def _is_int(value: Any) -> bool:
    return type(value) is int


def _write(path: str, data: Dict[str, Any]) -> None:
    try:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        _replace(os.path.realpath(path), data)
    except OSError as e:
        raise _failure(StoreError, path, f"could not be written ({_reason(e)})") from None


def _replace(target: str, data: Dict[str, Any]) -> None:
    directory = os.path.dirname(target)
    fd, tmp = tempfile.mkstemp(prefix=os.path.basename(target) + ".", suffix=".tmp",
                               dir=directory)
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            json.dump(data, f, indent=2)
            f.write("\n")
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, target)
    except BaseException:
        try:
            os.unlink(tmp)
        except FileNotFoundError:
            pass
        raise
    # The rename itself must reach the disk too ...
    dir_fd = os.open(directory, os.O_RDONLY)
    try:
        os.fsync(dir_fd)
    except OSError as e:
        # ... where the file system can sync a directory: some FUSE and
        # network mounts refuse, and the rename has happened all the same.
        if e.errno not in (errno.EINVAL, errno.ENOTSUP, errno.EOPNOTSUPP):
            raise
    finally:
        os.close(dir_fd)
