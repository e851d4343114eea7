"""Where the platform calls go, and with which credentials.

The URL is the `url` option or, while that is unset, ZORVIK_URL as the
environment holds it at the call; each value is parsed once. The `url`
option takes no user information: the server shows its options in its log.
Credentials come from ZORVIK_URL's user information, or from the `username`
option and the file that `password_file` names; never from both.

A refused setting is logged once, when it is first refused (and again if it
is refused anew after it worked); the calls fail with 502 meanwhile.
"""
import functools
import os
import threading
from typing import Callable, NamedTuple, Optional, Tuple, TypeVar, Union

from corvanix.zorvik import _credentials, _errors, _password_file, _settings, _url

# The server extension's names of the settings, as operators give them.
_ENVIRONMENT = "ZORVIK_URL"
_URL = "ZorvikWorkspacesApp.url"
_USERNAME = "ZorvikWorkspacesApp.username"
_PASSWORD_FILE = "ZorvikWorkspacesApp.password_file"
_UNTIL = "; requests answer 502 until it is corrected."
_USER_INFORMATION = (
    f"it holds user information, which the server shows in its log; give the password in "
    f"the file named by {_PASSWORD_FILE} (and the user in {_USERNAME}), or the whole URL "
    f"in {_ENVIRONMENT}")


class Refused(Exception):
    """The settings give no platform to call. The text is the log's: the
    setting and the problem, nothing of a URL or a password; `answer` is
    the failure's text for clients."""

    def __init__(self, text: str, answer: str) -> None:
        super().__init__(text)
        self.answer = answer


class Target(NamedTuple):
    platform: _url.Platform
    credentials: Optional[_credentials.Credentials]


_R = TypeVar("_R")


class Targets:
    """Where one service's calls go: its settings resolved at each call,
    with the password file as last read, the refusal last logged and the
    URL and credentials last made (each is parsed, and each pair of
    credentials made, once: the last value is all a server uses)."""

    def __init__(self, settings: _settings.Settings) -> None:
        self.settings = settings
        self._password_file = _password_file.PasswordFile()
        # Until the settings work again.
        self._reported: Optional[str] = None
        self._reported_lock = threading.Lock()
        self._parse = functools.lru_cache(maxsize=1)(_parse)
        self._credentials_of = functools.lru_cache(maxsize=1)(_credentials.basic)

    def current(self) -> Optional[Target]:
        """Where the next call goes; None for the embedded store. Raises Refused."""
        target = self._logging_refusal(self._resolve)
        self._reported = None
        return target

    def place(self) -> Optional[_url.Platform]:
        """The platform the next call goes to, from its URL alone (no file is
        read: cheap enough for the event loop); None for the embedded store.
        Raises Refused for a URL that cannot be used."""
        located = self._logging_refusal(self._locate)
        return None if located is None else located[0]

    def _logging_refusal(self, resolve: Callable[[], _R]) -> _R:
        try:
            return resolve()
        except Refused as e:
            with self._reported_lock:  # once, whichever thread is refused first
                first = str(e) != self._reported
                self._reported = str(e)
            if first:
                self.settings.log.error("%s", e)
            raise

    def _locate(self) -> Optional[Tuple[_url.Platform, Optional[_url.UserInfo]]]:
        """The platform and the user information of the URL; None without one."""
        settings = self.settings
        from_option = settings.url is not None
        url = (settings.url if from_option else os.environ.get(_ENVIRONMENT, "")).strip()
        if not url:
            return None
        parsed = self._parse(from_option, url)
        if isinstance(parsed, str):
            raise Refused(parsed, _errors.invalid_url(url_setting(settings)))
        return parsed

    def _resolve(self) -> Optional[Target]:
        located = self._locate()
        if located is None:
            return None
        settings = self.settings
        platform, userinfo = located
        if userinfo is not None:
            if settings.username is not None or settings.password_file is not None:
                raise Refused(f"{_ENVIRONMENT} holds user information and {_USERNAME} or "
                              f"{_PASSWORD_FILE} gives credentials too: give them in one place"
                              + _UNTIL, _errors.UNUSABLE_CREDENTIALS)
            return Target(platform, self._credentials_of(*userinfo))
        if settings.username is None and settings.password_file is None:
            return Target(platform, None)
        password = ""
        if settings.password_file is not None:
            path = os.path.abspath(os.path.expanduser(settings.password_file))
            try:
                password = self._password_file.read(path)
            except _password_file.Unusable as e:
                raise Refused(f"The Zorvik password file {path} ({_PASSWORD_FILE}) {e}" + _UNTIL,
                              _errors.UNUSABLE_CREDENTIALS) from None
        return Target(platform, self._credentials_of(settings.username or "", password))


def url_setting(settings: _settings.Settings) -> str:
    """The name of the setting the platform URL comes from."""
    return _URL if settings.url is not None else _ENVIRONMENT


def _parse(from_option: bool,
           url: str) -> Union[Tuple[_url.Platform, Optional[_url.UserInfo]], str]:
    """The platform and user information of `url`, or the text of its refusal."""
    try:
        platform, userinfo = _url.parse(url)
    except _url.RefusedURL as e:
        problem = str(e)
    else:
        if not from_option or userinfo is None:
            return platform, userinfo
        problem = _USER_INFORMATION
    where = _URL if from_option else _ENVIRONMENT
    return f"The Zorvik platform URL ({where}) is refused: {problem}" + _UNTIL

