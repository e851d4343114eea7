"""The Zorvik functions' service: what they run with and what they keep
between calls, in one object.

A service holds the settings, the platforms' cool-downs and the log's
account of their failures, where the calls go (with the password file as
last read), the embedded store (with its write lock), the connections to
the platform and the workers. The server extension builds one when the
server loads it and stops it when the server stops; `configure` builds one
for any other caller. The module-level functions serve with the current one.
"""
import asyncio
from typing import Any, Callable, List, Optional, TypeVar

from corvanix.zorvik import (_client, _cooldown, _errors, _log, _metrics, _platform, _proxy,
                             _settings, _store, _transport, _workers)
from corvanix.zorvik._deadline import LEAST_CALL, LEAST_WRITE, Deadline
from corvanix.zorvik._platform import Refused
from corvanix.zorvik.schemas import WorkspaceInfo

_T = TypeVar("_T")


class Service:
    def __init__(self, settings: _settings.Settings) -> None:
        self.settings = settings
        self.cooldowns = _cooldown.Cooldowns(settings.cooldown)
        self.failures = _log.FailureLog(settings.log, settings.cooldown)
        self.targets = _platform.Targets(settings)
        self.store = _store.Store(settings)
        self.transport = _transport.Transport(settings.workers)
        self.workers = _workers.Workers(settings.workers, settings.max_waiting)

    def get_joined_workspaces(self) -> List[WorkspaceInfo]:
        return self._run("list", self.store.get_joined_workspaces, _client.get_joined_workspaces)

    def set_joined_workspace(self, workspace_id: Optional[int]) -> None:
        self._run("join", self.store.set_joined_workspace, _client.set_joined_workspace,
                  workspace_id, ordered_by=self.store.changing)

    async def stop(self) -> None:
        """Answers the requests that wait for a worker with 503 (their calls
        are never made), lets the calls the workers have end, each answered
        with its own outcome (by its deadline), and lets the workers end;
        later calls answer 503. On the event loop's thread."""
        # No store write begins from now on, not even one a worker has.
        self.store.stopped = True
        running = self.workers.stop()
        if running:
            await asyncio.wait(running)
            # The requests, woken first, write their answers now.
            await asyncio.sleep(0)
        self.transport.close()

    def close(self) -> None:
        """Lets another service take over: what the workers have still ends
        as it would have; idle connections close."""
        self.workers.close()
        self.transport.close()

    def platform_base(self) -> Optional[str]:
        """The base URL of the platform the calls go to (scheme, host, port
        and path: nothing secret), or None for the embedded store.

        Raises Refused, after logging why, when the settings give no
        platform that can be called.
        """
        target = self.targets.current()
        return None if target is None else target.platform.base

    def log_proxy(self) -> None:
        """Logs the proxy that will carry the platform calls, if any (its
        scheme, host and port), with a warning when the server cannot use it
        or when an http platform's credentials would cross it in clear."""
        target = self.targets.current()
        proxy = None if target is None else _proxy.for_url(target.platform.base)
        if proxy is None:
            return
        log = self.settings.log
        log.info("Zorvik platform calls go through the proxy %s (%s).", proxy.address,
                 proxy.setting)
        if not proxy.usable:
            log.warning("The proxy in %s (%s) %s: requests answer 502 until it is changed.",
                        proxy.setting, proxy.address, proxy.problem)
        elif target.platform.base.startswith("http:") and target.credentials is not None:
            log.warning("The Zorvik platform's credentials cross the proxy %s (%s) in clear "
                        "text: give the platform an https URL, or name its host in NO_PROXY.",
                        proxy.address, proxy.setting)

    def _run(self, operation: str, on_store: Callable[..., _T], on_platform: Callable[..., _T],
             *args: Any, ordered_by: Optional[_store.WriteLock] = None) -> _T:
        platform = self._checked(self.targets.place)  # reads no file
        try:
            if platform is None:
                # The request's, from the moment it asks.
                deadline = Deadline(self.settings.deadline,
                                    least=0.0 if ordered_by is None else LEAST_WRITE)
                return self.workers.run(on_store, deadline, *args, ordered_by=ordered_by,
                                        deadline=deadline)
            deadline = Deadline(self.settings.deadline, least=LEAST_CALL)
            return self.workers.run(self._call_platform, on_platform, deadline, *args,
                                    deadline=deadline)
        except _workers.Busy:
            _metrics.refused(operation, platform is None, "busy")
            raise (self.store.busy() if platform is None
                   else _client.busy(self, platform.base)) from None
        except (_workers.Late, _store.Late) as late:
            # A call that began counts itself.
            if not late.started:
                _metrics.refused(operation, platform is None, "timeout")
            if platform is None:
                raise self.store.late() from None
            raise _client.late(self, platform.base, late,  # type: ignore[arg-type]
                               deadline) from None
        except _workers.Stopping:
            raise _errors.bad_request(503, _errors.STOPPING) from None

    def _call_platform(self, call: Callable[..., _T], deadline: Deadline, *args: Any) -> _T:
        # The credentials may come from a file: read here, in the worker.
        return call(self, self._checked(self.targets.current), deadline, *args)

    @staticmethod
    def _checked(resolve: Callable[[], _T]) -> _T:
        try:
            return resolve()
        except Refused as e:
            raise _errors.bad_request(502, e.answer) from None


# The one the module-level functions serve with (set on the loop's thread).
_current: Optional[Service] = None


def current() -> Service:
    """The current service; one with the default settings until one is built."""
    service = _current
    return service if service is not None else start(_settings.Settings())


def start(settings: _settings.Settings) -> Service:
    """A service with `settings`, the current one from now on."""
    global _current
    old, service = _current, Service(settings)
    _current = service
    if old is not None:
        old.close()
    return service


# The server's /metrics reads these at each scrape.
def _waiting() -> int:
    service = _current
    return 0 if service is None else service.workers.waiting


def _busy() -> int:
    service = _current
    return 0 if service is None else service.workers.busy


def _cooling() -> int:
    service = _current
    return 0 if service is None else service.cooldowns.active()


_metrics.watch(_waiting, _busy, _cooling)
