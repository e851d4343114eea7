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
(`_workers`); anywhere else they do the work inline. Failures are raised
as `requests` exceptions whose text has the form "<status>: <message>" (a
connection failure excepted), which `parse_zorvik_exception` turns back
into the answer's status and message (`_errors`).
"""
import asyncio
from typing import Any, Callable, List, Optional, TypeVar

from corvanix.zorvik import (_client, _cooldown, _errors, _metrics, _platform, _proxy, _settings,
                             _store, _workers)
from corvanix.zorvik._deadline import LEAST_CALL, Deadline
from corvanix.zorvik._errors import parse_zorvik_exception
from corvanix.zorvik._platform import Refused
from corvanix.zorvik._settings import (DEFAULT_COOLDOWN, DEFAULT_DEADLINE,
                                       DEFAULT_MAX_ANSWER_BYTES, DEFAULT_MAX_STORE_BYTES,
                                       DEFAULT_MAX_WAITING, DEFAULT_WORKERS)
from corvanix.zorvik._store import store_path
from corvanix.zorvik.schemas import WorkspaceInfo

__all__ = ["get_joined_workspaces", "set_joined_workspace", "parse_zorvik_exception",
           "WorkspaceInfo", "configure", "platform_base", "log_proxy", "store_path", "stop",
           "Refused", "DEFAULT_DEADLINE", "DEFAULT_COOLDOWN", "DEFAULT_MAX_ANSWER_BYTES",
           "DEFAULT_MAX_STORE_BYTES", "DEFAULT_WORKERS", "DEFAULT_MAX_WAITING"]

# The server's /metrics reads these at each scrape.
_metrics.watch(_workers.waiting, _workers.busy, _cooldown.active)


def configure(**options) -> None:
    """Sets what the functions run with (the server extension does, at load).

    Options: url, username, password_file, deadline, cooldown,
    max_answer_bytes, ca_bundle, store_path, max_store_bytes, workers,
    max_waiting, log; one left out gets its default (see `_settings.Settings`).
    """
    _settings.configure(**options)


async def stop() -> None:
    """Answers the requests that wait for a worker with 503 (their calls are
    never made), lets the calls the workers have end, each answered with its
    own outcome (by its deadline), and lets the workers end (the server
    stops). On the event loop's thread."""
    running = _workers.stop()
    if running:
        await asyncio.wait(running)
        # The requests, woken first, write their answers now.
        await asyncio.sleep(0)


def platform_base() -> Optional[str]:
    """The base URL of the platform the calls go to (scheme, host, port and
    path: nothing secret), or None for the embedded store.

    Raises Refused, after logging why, when the settings give no platform
    that can be called.
    """
    target = _platform.current()
    return None if target is None else target.platform.base


def log_proxy() -> None:
    """Logs the proxy that will carry the platform calls, if any (its scheme,
    host and port), with a warning when the server cannot use it or when an
    http platform's credentials would cross it in clear."""
    target = _platform.current()
    proxy = None if target is None else _proxy.for_url(target.platform.base)
    if proxy is None:
        return
    log = _settings.current.log
    log.info("Zorvik platform calls go through the proxy %s (%s).", proxy.address, proxy.setting)
    if not proxy.usable:
        log.warning("The proxy in %s (%s) %s: requests answer 502 until it is changed.",
                    proxy.setting, proxy.address, proxy.problem)
    elif target.platform.base.startswith("http:") and target.credentials is not None:
        log.warning("The Zorvik platform's credentials cross the proxy %s (%s) in clear text: "
                    "give the platform an https URL, or name its host in NO_PROXY.",
                    proxy.address, proxy.setting)


def get_joined_workspaces() -> List[WorkspaceInfo]:
    return _run("list", _store.get_joined_workspaces, _client.get_joined_workspaces)


def set_joined_workspace(workspace_id: Optional[int]) -> None:
    _run("join", _store.set_joined_workspace, _client.set_joined_workspace, workspace_id,
         ordered_by=_store.changing)


_T = TypeVar("_T")


def _run(operation: str, on_store: Callable[..., _T], on_platform: Callable[..., _T], *args: Any,
         ordered_by: Optional[_store.WriteLock] = None) -> _T:
    platform = _checked(_platform.place)  # reads no file
    try:
        if platform is None:
            # The request's, from the moment it asks.
            deadline = Deadline(_settings.current.deadline)
            return _workers.run(on_store, deadline, *args, ordered_by=ordered_by,
                                deadline=deadline)
        deadline = Deadline(_settings.current.deadline, least=LEAST_CALL)
        return _workers.run(_call_platform, on_platform, deadline, *args, deadline=deadline)
    except _workers.Busy:
        _metrics.refused(operation, platform is None, "busy")
        raise (_store.busy() if platform is None else _client.busy(platform.base)) from None
    except (_workers.Late, _store.Late) as late:
        # A call that ran counts itself (the store's, a write that did not
        # get the lock in time, too).
        if isinstance(late, _workers.Late) and not late.started:
            _metrics.refused(operation, platform is None, "timeout")
        if platform is None:
            raise _store.late() from None
        raise _client.late(platform.base, late, deadline) from None  # type: ignore[arg-type]
    except _workers.Stopping:
        raise _errors.bad_request(503, _errors.STOPPING) from None


def _call_platform(call: Callable[..., _T], deadline: Deadline, *args: Any) -> _T:
    # The credentials may come from a file: read here, in the worker.
    return call(_checked(_platform.current), deadline, *args)


def _checked(resolve: Callable[[], _T]) -> _T:
    try:
        return resolve()
    except Refused as e:
        raise _errors.bad_request(502, e.answer) from None
