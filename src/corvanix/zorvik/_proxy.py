"""The proxy that carries the platform calls.

`requests` takes it from the server's environment at each call, as curl
does: HTTPS_PROXY for an https platform, HTTP_PROXY for an http one,
ALL_PROXY for either (lower-case names first), unless NO_PROXY names the
platform's host. Here we only name it: by its address (scheme, host, port;
never user information) and the variable that set it.
"""
import importlib.util
import os
from typing import NamedTuple, Optional
from urllib.parse import urlsplit

import requests.utils


class Proxy(NamedTuple):
    address: str
    # The environment variable that names it.
    setting: str
    # Why the server cannot use it; None when it can.
    problem: Optional[str]

    @property
    def usable(self) -> bool:
        return self.problem is None


def for_url(url: str) -> Optional[Proxy]:
    """The proxy a call to `url` goes through, as the library chooses it."""
    value = requests.utils.select_proxy(url, requests.utils.get_environ_proxies(url))
    if not value:
        return None
    scheme = urlsplit(url).scheme.lower()
    names = (f"{scheme}_proxy", f"{scheme.upper()}_PROXY", "all_proxy", "ALL_PROXY")
    setting = next((name for name in names if os.environ.get(name) == value), names[1])
    if "://" not in value:
        value = "http://" + value  # as the library reads it
    parts = urlsplit(value)
    proxy_scheme = parts.scheme.lower()
    try:
        port = parts.port
    except ValueError:
        port = None
    address = f"{proxy_scheme}://{parts.hostname or '(no host)'}" + (f":{port}" if port else "")
    return Proxy(address, setting, _problem(proxy_scheme))


def _problem(scheme: str) -> Optional[str]:
    if scheme in ("http", "https"):
        return None
    if scheme.startswith("socks"):
        if importlib.util.find_spec("socks") is None:
            return "needs SOCKS support, which is not installed (pip install 'requests[socks]')"
        return None
    return f"has the scheme {scheme}, which the server cannot use"
