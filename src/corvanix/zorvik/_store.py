"""The embedded workspace store used when no Zorvik platform is configured.

One JSON file in the Jupyter data directory holds the user's workspaces and
the one joined for this server:

    {"workspaces": [{"id": 1, "name": "Research"}, ...], "current": 1}

It is created with a few example workspaces on first use and always replaced
as a whole (temporary file, fsync, rename), so a crash leaves either the old
or the new file, never a torn one; the new file keeps the old one's mode and
group. Temporary files left by a writer that died are removed before the
next write. A store file that is a symbolic link is replaced at its target,
so the link stays. Anything at the path that is not a regular file (a FIFO,
a device, a directory), and a file over the size limit, is refused without
waiting on it or reading it. Failures name no path (their text reaches the
client); the path goes to the log.

The handler's worker threads use it at once, and other servers of the
user may too: writers take the write lock (`_store_lock`: this process's
threads and other processes alike), readers take none, so the file always
holds the last change made (and answered). Every call ends by the request's
deadline, and a write whose request is answered 504 leaves the file as it
was: a write that cannot have the lock in time, or has less than
LEAST_WRITE of the deadline left, is not begun; one whose deadline passes
before the file is replaced (a slow disk's sync) does not replace it. Once
the server stops, no write begins. The change is answered once the file is
replaced; the sync of its directory, which makes the rename last, follows.
"""
import errno
import json
import operator
import os
import re
import stat
import tempfile
import threading
from typing import Any, Dict, List, Optional, Set

import requests
from jupyter_core.paths import jupyter_data_dir

from corvanix.zorvik import _errors, _metrics, _settings, _workers
from corvanix.zorvik._deadline import Deadline
from corvanix.zorvik._store_lock import WriteLock
from corvanix.zorvik.schemas import WorkspaceInfo

FILE_NAME = "zorvik-workspaces.json"

EXAMPLE_WORKSPACES = [
    {"id": 1, "name": "Research"},
    {"id": 2, "name": "Data Engineering"},
    {"id": 3, "name": "Sandbox"},
]


BUSY = _errors.busy("The workspace store")
TIMED_OUT = "The workspace store did not answer in time."


class StoreError(Exception):
    """The store cannot be used."""


class StoreDamagedError(StoreError):
    """The store file exists but does not hold what we write there."""


class Late(Exception):
    """The write lock was not free within the deadline, too little of it was
    left to begin a write, or it passed before the file was replaced; the
    file is as it was (`started`: whether the write had begun)."""

    def __init__(self, started: bool = False) -> None:
        super().__init__("started" if started else "not begun")
        self.started = started


class Store:
    """One service's store: its settings, its write lock and the temporary
    files it writes now."""

    def __init__(self, settings: _settings.Settings) -> None:
        self.settings = settings
        # Held while the file is changed: reads need it not (a change
        # replaces the file whole), a read that finds no file does, to
        # create it only once. The workers hold it until a change is
        # answered, so that answers come in the order of the changes.
        self.changing = WriteLock(self.path, self._lock_failure)
        # The temporary files this process is writing now, never taken for
        # a dead writer's.
        self._writing: Set[str] = set()
        self._writing_lock = threading.Lock()
        # Set on the loop's thread when the server stops: no write begins then.
        self.stopped = False

    def path(self) -> str:
        configured = self.settings.store_path
        if configured:
            return os.path.abspath(os.path.expanduser(configured))
        # Read at each use: the data directory follows the environment.
        return os.path.join(jupyter_data_dir(), "corvanix", FILE_NAME)

    def get_joined_workspaces(self, deadline: Deadline) -> List[WorkspaceInfo]:
        with _metrics.StoreOperation("read"):
            data = self._load(deadline)
        return [WorkspaceInfo(w["id"], w["name"], w["id"] == data["current"])
                for w in data["workspaces"]]

    def set_joined_workspace(self, deadline: Deadline, workspace_id: Optional[int]) -> None:
        """Raises Late (the file unchanged) and, once stopped, Stopping."""
        if workspace_id is not None:
            # Exactly an int goes into the file (True would be written as true).
            workspace_id = int(operator.index(workspace_id))
        self._lock(deadline)
        try:
            if self.stopped:
                raise _workers.Stopping
            if not deadline.enough_left():
                raise Late  # it could end after its request was answered
            # Read under the lock: what another process wrote last included.
            with _metrics.StoreOperation("write") as operation:
                data = self._load(deadline)
                if workspace_id is not None and all(w["id"] != workspace_id
                                                    for w in data["workspaces"]):
                    operation.outcome = "not_found"
                    # Answered like the platform's own 404.
                    raise _errors.platform_error(404,
                                                 f"Workspace {workspace_id} does not exist.")
                if data["current"] == workspace_id:
                    return None
                data["current"] = workspace_id
                try:
                    directory = self._write(self.path(), data, deadline)
                except Late:
                    operation.outcome = "timeout"
                    raise
                # Answered once it lasts: a crash of the machine after a 200
                # must not undo the change.
                self.sync(directory)
        finally:
            self.changing.release()

    def sync(self, directory: str) -> None:
        """Makes the replacement of the file in `directory` last (a sync of
        the directory). A failure is logged, not raised: the change is there
        for every reader from the rename on."""
        try:
            _sync_directory(directory)
        except OSError as e:
            self.settings.log.error("The workspace store's directory %s could not be synced "
                                    "(%s): a crash of the machine may undo the last change.",
                                    directory, _reason(e))

    def late(self) -> requests.exceptions.RequestException:
        """The failure of a request whose store call did not end by its deadline."""
        # On the loop: the path, which may take a look at the disk, is left out.
        self.settings.log.warning("A request to the workspace store did not end within its "
                                  "deadline of %g s.", self.settings.deadline)
        return _errors.bad_request(504, TIMED_OUT)

    def busy(self) -> requests.exceptions.RequestException:
        """The failure of a request refused because too many wait for the store."""
        # On the loop: the path, which may take a look at the disk, is left out.
        self.settings.log.warning("A request to the workspace store was refused: %d wait "
                                  "for it already.", self.settings.max_waiting)
        return _errors.bad_request(503, BUSY)

    def _lock_failure(self, path: str, error: OSError) -> StoreError:
        return self._failure(StoreError, path, f"could not be locked ({_reason(error)})")

    def _lock(self, deadline: Deadline) -> None:
        if not self.changing.acquire(timeout=max(deadline.left(), 0)):
            raise Late

    def _load(self, deadline: Deadline) -> Dict[str, Any]:
        path = self.path()
        text = self._read_or_none(path)
        if text is None:
            self._lock(deadline)
            try:
                text = self._read_or_none(path)  # made meanwhile?
                if text is None:
                    data = {"workspaces": [dict(w) for w in EXAMPLE_WORKSPACES],
                            "current": None}
                    directory = self._write(path, data, deadline)
                    try:
                        _sync_directory(directory)
                    except OSError as e:
                        raise self._failure(StoreError, path,
                                            f"could not be written ({_reason(e)})") from None
                    return data
            finally:
                self.changing.release()
        try:
            data = json.loads(text)
        except (ValueError, RecursionError):
            raise self._failure(StoreDamagedError, path, "is not valid JSON") from None
        if not _well_formed(data):
            raise self._failure(StoreDamagedError, path, "does not hold a workspace list")
        return data

    def _read_or_none(self, path: str) -> Optional[bytes]:
        """The file's content; None when there is none."""
        try:
            return self._read(path)
        except FileNotFoundError:
            return None
        except OSError as e:
            raise self._failure(StoreError, path, f"could not be read ({_reason(e)})") from None

    def _read(self, path: str) -> bytes:
        limit = self.settings.max_store_bytes
        too_large = f"is larger than the size limit of {limit} bytes"
        # Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
        try:
            status = os.fstat(fd)
            if not stat.S_ISREG(status.st_mode):
                raise self._failure(StoreError, path, "is not a regular file")
            if status.st_size > limit:
                raise self._failure(StoreError, path, too_large)
            # As large as it is, and a byte more to see whether it grew since
            # (then up to one byte more than the limit).
            content = os.pread(fd, status.st_size + 1, 0)
            if len(content) > status.st_size:
                content += os.pread(fd, limit + 1 - len(content), len(content))
        finally:
            os.close(fd)
        if len(content) > limit:
            raise self._failure(StoreError, path, too_large)
        return content

    def _failure(self, kind: type, path: str, what: str) -> StoreError:
        self.settings.log.error("The workspace store %s %s.", path, what)
        return kind(f"The workspace store {what}.")

    def _write(self, path: str, data: Dict[str, Any], deadline: Deadline) -> str:
        """Replaces the file, unless `deadline` passed before it could be;
        gives the directory to sync."""
        try:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            return self._replace(os.path.realpath(path), data, deadline)
        except OSError as e:
            raise self._failure(StoreError, path,
                                f"could not be written ({_reason(e)})") from None

    def _replace(self, target: str, data: Dict[str, Any], deadline: Deadline) -> str:
        directory, name = os.path.split(target)
        self._remove_stale_temporaries(directory, name)
        try:
            old = os.stat(target)
        except FileNotFoundError:
            old = None
        with self._writing_lock:  # never seen stale by another thread's write
            fd, tmp = tempfile.mkstemp(prefix=f"{name}.{os.getpid()}.", suffix=".tmp",
                                       dir=directory)
            self._writing.add(tmp)
        try:
            with os.fdopen(fd, "w", encoding="utf-8") as f:
                if old is not None:
                    _keep_owner_and_mode(f.fileno(), old)
                json.dump(data, f, indent=2)
                f.write("\n")
                f.flush()
                os.fsync(f.fileno())
            if deadline.passed():
                # Its request is answered 504 (or is about to be): the file
                # must stay as it was. Past this, the change stands.
                raise Late(started=True)
            os.replace(tmp, target)
        except BaseException:
            try:
                os.unlink(tmp)
            except FileNotFoundError:
                pass
            raise
        finally:
            with self._writing_lock:
                self._writing.discard(tmp)
        return directory

    def _remove_stale_temporaries(self, directory: str, name: str) -> None:
        """Removes the temporary files of the store whose writer is gone."""
        with os.scandir(directory) as entries:
            for entry in entries:
                match = (_TEMPORARY.match(entry.name, len(name)) if entry.name.startswith(name)
                         else None)
                if (match is None or entry.is_dir(follow_symlinks=False)
                        or not self._stale(entry.path, int(match.group(1)))):
                    continue
                try:
                    os.unlink(entry.path)
                except OSError:
                    pass  # removed by another writer first, or not ours to remove

    def _stale(self, path: str, pid: int) -> bool:
        if pid == os.getpid():
            # Ours: stale unless being written now (one of an earlier process
            # with our number is stale too).
            with self._writing_lock:
                return path not in self._writing
        try:
            os.kill(pid, 0)
        except (ProcessLookupError, OverflowError):
            return True  # no such process (a number too large cannot be one)
        except PermissionError:
            pass  # someone else's live process
        return False


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


# Temporary files: "<store file name>.<writer's process id>.<random>.tmp".
_TEMPORARY = re.compile(r"\.([0-9]+)\.[^.]+\.tmp\Z")


def _keep_owner_and_mode(fd: int, old: os.stat_result) -> None:
    try:
        # The group first: a change of group may clear the set-group-ID bit.
        os.fchown(fd, -1, old.st_gid)
    except PermissionError:
        pass  # not a group of ours: the file gets our group, as any new file would
    os.fchmod(fd, stat.S_IMODE(old.st_mode))


def _sync_directory(directory: str) -> None:
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
