"""Why a platform call failed: the words the log gives an operator, the
answer the client gets, and whether the platform counts as down.

The words are our own, or the system's (the resolver's, the kernel's, the
TLS verifier's, the HTTP parser's fixed texts): never bytes the platform
sent and never more of the URL than its base, so that neither a credential
nor a platform's echo of one reaches the log or an answer.
"""
import errno
import http.client
import re
import socket
import ssl
from typing import Callable, List, NamedTuple, Optional, Type, TypeVar

import requests
import urllib3.exceptions

from corvanix.zorvik import _errors, _proxy, _transport
from corvanix.zorvik._deadline import Deadline

TIMED_OUT = "The Zorvik platform did not answer in time."
CLOSED = "The Zorvik platform closed the connection without answering."
NOT_HTTP = "The Zorvik platform's answer is not valid HTTP."
CERTIFICATE = "The Zorvik platform's TLS certificate was not accepted."
TLS_FAILED = "The TLS connection to the Zorvik platform failed."
PROXY_REFUSED = "The proxy refused to carry the call to the Zorvik platform."
REQUEST_FAILED = "The request to the Zorvik platform failed."


class Cause(NamedTuple):
    # What happened, for the log: "connection refused".
    words: str
    status: int
    # The answer's text; None for a connection that could not be made, which
    # the handler answers with a fixed text of its own.
    answer: Optional[str]
    # The platform did not answer: a cool-down starts. Any answer ends one.
    down: bool = False
    # The family of the cause, one word of a closed set (the metrics' outcome).
    kind: str = "failed"

    def error(self) -> requests.exceptions.RequestException:
        if self.answer is None:
            return _errors.unreachable()
        return _errors.bad_request(self.status, self.answer)


class Failed(Exception):
    """Raised inside a call with the cause it failed of."""

    def __init__(self, cause: Cause) -> None:
        super().__init__(cause.words)
        self.cause = cause


def unreachable(words: str) -> Cause:
    return Cause(words, 502, None, down=True, kind="unreachable")


def invalid_url(setting: str, words: str) -> Cause:
    return Cause(words, 502, _errors.invalid_url(setting), kind="setting")


_E = TypeVar("_E", bound=BaseException)
_TUNNEL = re.compile(r"Tunnel connection failed: ([0-9]{3})")


def of_exchange(error: BaseException, platform: str, url_setting: str, deadline: Deadline,
                given: float) -> Cause:
    """The cause of an exception out of the HTTP library, in a call that was
    given `given` seconds of `deadline`."""
    chain = _chain(error)

    def first(kind: Type[_E]) -> Optional[_E]:
        return next((e for e in chain if isinstance(e, kind)), None)

    cause = _network_cause(chain, first, deadline, given)
    if cause is not None:
        if first(urllib3.exceptions.ProxyError) is not None:
            # Connecting to the proxy failed, not to the platform.
            proxy = _proxy.for_url(platform)
            if proxy is not None:
                cause = cause._replace(words=f"the proxy {proxy.address} ({proxy.setting}): "
                                             f"{cause.words}")
        return cause
    cause = _answer_cause(chain)
    if cause is not None:
        return cause
    if first(ValueError) is not None:
        # The library refused a URL: the proxy's, else the platform's.
        proxy = _proxy.for_url(platform)
        if proxy is not None and not proxy.usable:
            return Cause(f"the proxy in {proxy.setting} ({proxy.address}) {proxy.problem}", 502,
                         _errors.unusable_proxy(proxy.setting), kind="proxy")
        return invalid_url(url_setting, f"the HTTP library refuses the URL in {url_setting}")
    oserror = first(OSError)
    if oserror is not None and oserror.errno is not None:
        return unreachable(f"could not connect ({_reason(oserror)})")
    return Cause(f"the request failed ({type(error).__name__})", 502, REQUEST_FAILED)


def _network_cause(chain: List[BaseException], first: Callable[[type], Optional[BaseException]],
                   deadline: Deadline, given: float) -> Optional[Cause]:
    """Causes before any answer: TLS, the tunnel, name, connect, time."""
    certificate = first(ssl.SSLCertVerificationError)
    if certificate is not None:
        reason = certificate.verify_message or certificate.reason or "no reason given"
        return Cause(f"TLS certificate not accepted ({reason})", 502, CERTIFICATE, kind="tls")
    # http.client's "Tunnel connection failed: 407 Proxy Authentication
    # Required", whose phrase is the proxy's: its status alone is used.
    tunnel = next((m for m in (_TUNNEL.match(str(e)) for e in chain if type(e) is OSError) if m),
                  None)
    if tunnel is not None:
        status = int(tunnel.group(1))
        return Cause(f"the proxy refused the tunnel ({status} "
                     f"{http.client.responses.get(status, 'Error')})", 502, PROXY_REFUSED,
                     kind="proxy")
    if first(socket.gaierror) is not None:
        return unreachable(f"name not resolved ({_reason(first(socket.gaierror))})")
    if first(ConnectionRefusedError) is not None:
        return unreachable("connection refused")
    timed_out = (first(socket.timeout) or first(requests.exceptions.Timeout)
                 or first(urllib3.exceptions.ReadTimeoutError)
                 or next((e for e in chain if type(e) is urllib3.exceptions.ConnectTimeoutError),
                         None))
    if timed_out is not None or deadline.passed():
        phase = "while connecting" if _transport.connecting() else "waiting for the answer"
        # The platform was given the time the call had left when it began
        # (its worker makes none with too little): its silence for that long
        # is what starts the cool-down.
        return Cause(f"timed out after {given:.2g} s {phase}", 504, TIMED_OUT, down=True,
                     kind="timeout")
    tls = first(ssl.SSLError)
    if tls is not None:
        reason = (tls.reason or type(tls).__name__).replace("_", " ").lower()
        return Cause(f"TLS handshake failed ({reason})", 502, TLS_FAILED, kind="tls")
    if first(ConnectionResetError) is not None or first(BrokenPipeError) is not None:
        # RemoteDisconnected too: closed before a byte of the answer.
        return Cause("closed the connection without answering", 502, CLOSED, down=True,
                     kind="closed")
    return None


def _answer_cause(chain: List[BaseException]) -> Optional[Cause]:
    """An answer arrived that HTTP cannot read."""
    for test, what in _NOT_HTTP:
        found = next((e for e in chain if test(e)), None)
        if found is not None:
            return Cause(f"answer not valid HTTP ({what or found})", 502, NOT_HTTP, kind="not_http")
    return None


# Most specific first; what each means, or None where the parser's own fixed
# text says it (texts that may repeat the platform's bytes are not used).
_NOT_HTTP = (
    # "got more than 65536 bytes when reading header line"
    (lambda e: isinstance(e, http.client.LineTooLong), None),
    # "got more than 100 headers"
    (lambda e: type(e) is http.client.HTTPException, None),
    (lambda e: isinstance(e, urllib3.exceptions.InvalidChunkLength), "a malformed chunked body"),
    (lambda e: isinstance(e, http.client.IncompleteRead), "the answer was cut short"),
    (lambda e: isinstance(e, http.client.UnknownProtocol), "an unknown HTTP version"),
    (lambda e: isinstance(e, http.client.BadStatusLine), "no valid status line"),
    (lambda e: isinstance(e, urllib3.exceptions.ProtocolError), "the answer was cut short"),
)


def _reason(error: OSError) -> str:
    # strerror alone: str(error) may carry a host or path.
    if error.strerror:
        return error.strerror
    if error.errno is not None:
        return errno.errorcode.get(error.errno, str(error.errno))
    return type(error).__name__


def _chain(error: BaseException) -> List[BaseException]:
    """`error` and what it wraps: its cause and context, and the exceptions
    the HTTP library carries in its arguments or `reason`."""
    found: List[BaseException] = []
    todo = [error]
    while todo and len(found) < 16:
        e = todo.pop(0)
        if any(e is seen for seen in found):
            continue
        found.append(e)
        todo.extend(x for x in (e.__cause__, e.__context__, getattr(e, "reason", None), *e.args)
                    if isinstance(x, BaseException))
    return found
