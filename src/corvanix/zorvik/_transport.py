"""One kept-alive connection pool per service for the platform calls, on
connections whose every socket operation ends by the call's deadline. The
worker threads share it: it keeps a connection for each of them.

`requests` bounds each socket operation on its own, so a platform sending a
byte per second holds a call for as long as it likes. Here the connect (and
TLS handshake), every send and every receive first set the socket's timeout
to what is left of the request's deadline, and fail once nothing is.
urllib3 lets a call hand its connection nothing of its own, so the deadline
is the thread's while the call runs (`bounded_by`, around the request and
the reading of its answer), and only the connections read it there.

Only a kept-alive connection that the platform closed before a byte of the
answer is asked again, on a new connection: an answer that arrived, however
broken, and a connection that could not be made are not.
"""
import contextlib
import http.client
import io
import os
import socket
import threading
from http.cookiejar import DefaultCookiePolicy
from typing import Any, Iterator, Optional

import requests
import requests.adapters
from urllib3.connection import HTTPConnection, HTTPSConnection
from urllib3.connectionpool import HTTPConnectionPool, HTTPSConnectionPool
from urllib3.exceptions import ProtocolError
from urllib3.util.retry import Retry

from corvanix.zorvik import _deadline

# The call on this thread: its deadline; connecting now; a new connection
# made for it.
_attempt = threading.local()


@contextlib.contextmanager
def bounded_by(deadline: _deadline.Deadline) -> Iterator[None]:
    """Every socket operation of the calls on this thread meanwhile ends by
    `deadline`."""
    _attempt.deadline = deadline
    try:
        yield
    finally:
        _attempt.deadline = None


def _deadline_now() -> Optional[_deadline.Deadline]:
    return getattr(_attempt, "deadline", None)


def _bound(sock: socket.socket) -> None:
    deadline = _deadline_now()
    if deadline is not None:
        deadline.bound(sock)


def connecting() -> bool:
    """Whether the call on this thread is connecting (TCP, TLS, a proxy's tunnel)."""
    return getattr(_attempt, "connecting", False)


class _DeadlineReader(io.RawIOBase):
    """The socket's reading side, each receive bounded by the deadline."""

    def __init__(self, sock: socket.socket) -> None:
        self._sock = sock
        # Unbuffered: the socket's own reader, which the socket counts as a user.
        self._raw = sock.makefile("rb", buffering=0)

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: Any) -> Optional[int]:
        _bound(self._sock)
        return self._raw.readinto(buffer)

    def close(self) -> None:
        if not self.closed:
            self._raw.close()
        super().close()


class _DeadlineSocket:
    """What http.client's response asks of the socket: a reader."""

    __slots__ = ("_sock",)

    def __init__(self, sock: socket.socket) -> None:
        self._sock = sock

    def makefile(self, mode: str, *args: Any, **kwargs: Any) -> io.BufferedReader:
        return io.BufferedReader(_DeadlineReader(self._sock))


class _DeadlineResponse(http.client.HTTPResponse):
    def __init__(self, sock: socket.socket, *args: Any, **kwargs: Any) -> None:
        super().__init__(_DeadlineSocket(sock), *args, **kwargs)  # type: ignore[arg-type]


class _DeadlineConnection:
    """Connect, TLS handshake and sends of a connection, bounded by the deadline."""

    response_class = _DeadlineResponse

    def connect(self) -> None:
        _attempt.connecting = _attempt.connected = True
        try:
            super().connect()  # type: ignore[misc]
        finally:
            _attempt.connecting = False

    def _new_conn(self) -> socket.socket:
        deadline = _deadline_now()
        if deadline is not None:
            self.timeout = deadline.wait_limit()
        sock = super()._new_conn()  # type: ignore[misc]
        # The TLS handshake that may follow waits for what is left.
        _bound(sock)
        return sock

    def send(self, data: Any) -> None:
        if self.sock is not None:
            _bound(self.sock)
        super().send(data)  # type: ignore[misc]


class _HTTPConnection(_DeadlineConnection, HTTPConnection):
    pass


class _HTTPSConnection(_DeadlineConnection, HTTPSConnection):
    pass


class _HTTPPool(HTTPConnectionPool):
    ConnectionCls = _HTTPConnection


class _HTTPSPool(HTTPSConnectionPool):
    ConnectionCls = _HTTPSConnection


_POOLS = {"http": _HTTPPool, "https": _HTTPSPool}


class _RetryADroppedConnection(Retry):
    """One retry, for a kept-alive connection that the platform closed while
    idle (it fails only at its next use, before any byte of the answer);
    none for anything else, nor once time is up."""

    def increment(self, *args: Any, **kwargs: Any) -> Retry:
        error = kwargs.get("error")
        if error is not None and not _dropped_while_idle(error):
            raise error
        return super().increment(*args, **kwargs)


def _dropped_while_idle(error: Exception) -> bool:
    deadline = _deadline_now()
    if getattr(_attempt, "connected", True) or deadline is None or deadline.passed():
        return False
    # urllib3's ProtocolError("Connection aborted.", <the error>); http.client's
    # RemoteDisconnected (nothing read) is a ConnectionResetError.
    return isinstance(error, ProtocolError) and any(
        isinstance(arg, (ConnectionResetError, BrokenPipeError)) for arg in error.args)


class _Adapter(requests.adapters.HTTPAdapter):
    def __init__(self, connections: int) -> None:
        self._proxy_lock = threading.Lock()
        super().__init__(pool_maxsize=connections, max_retries=_RetryADroppedConnection(
            total=1, connect=0, read=1, redirect=0, status=0, other=0, backoff_factor=0,
            raise_on_redirect=False, raise_on_status=False,
            # No answer is asked again: a platform's Retry-After would make the
            # library sleep that long, outside any socket timeout.
            respect_retry_after_header=False))

    def init_poolmanager(self, *args: Any, **kwargs: Any) -> None:
        super().init_poolmanager(*args, **kwargs)
        self.poolmanager.pool_classes_by_scheme = _POOLS

    def proxy_manager_for(self, proxy: str, **kwargs: Any) -> Any:
        with self._proxy_lock:  # one manager for each proxy, whichever worker asks first
            manager = super().proxy_manager_for(proxy, **kwargs)
        if not proxy.lower().startswith("socks"):  # SOCKS has pools of its own
            manager.pool_classes_by_scheme = _POOLS
        return manager


class Transport:
    """The connections of one service's platform calls."""

    def __init__(self, workers: int) -> None:
        self._workers = workers
        self._lock = threading.Lock()
        self._session: Optional[requests.Session] = None
        # The process it was made in.
        self._made_in = 0

    def request(self, method: str, url: str, **kwargs: Any) -> requests.Response:
        """Within `bounded_by`."""
        deadline = _deadline_now()
        assert deadline is not None, "a platform call without a deadline"
        _attempt.connecting = _attempt.connected = False
        # The connections bound every operation; this is only the library's own ceiling.
        return self._session_now().request(method, url, timeout=deadline.wait_limit(), **kwargs)

    def _session_now(self) -> requests.Session:
        """The session; a forked child makes its own, never sharing sockets."""
        pid = os.getpid()
        with self._lock:
            if self._session is None or self._made_in != pid:
                s = requests.Session()
                s.mount("http://", _Adapter(self._workers))
                s.mount("https://", _Adapter(self._workers))
                # Each call stands alone, as before the pool: no cookies carried over.
                s.cookies.set_policy(DefaultCookiePolicy(allowed_domains=[]))
                self._session, self._made_in = s, pid
            return self._session

    def close(self) -> None:
        """Drops the connections: the next call connects anew."""
        with self._lock:
            if self._session is not None and self._made_in == os.getpid():
                self._session.close()
            self._session = None
