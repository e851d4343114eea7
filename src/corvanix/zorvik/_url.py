"""The platform URL: checked before any use, and split into the platform we
call and the user information, which travels apart from it.

A URL is refused when it is not http(s), has a query or a fragment, or its
user information holds characters that must be percent-encoded: an
unescaped "/" in a password would otherwise move the rest of the password
into the host and path, where logs and requests would show it. Texts of a
refusal never repeat any part of the URL.
"""
import re
from typing import NamedTuple, Optional, Tuple
from urllib.parse import unquote, urlsplit

# RFC 3986 userinfo: unreserved, sub-delims, ":" and percent-escapes.
_USERINFO = re.compile(r"(?:[A-Za-z0-9\-._~!$&'()*+,;=:]|%[0-9A-Fa-f]{2})*")


class RefusedURL(ValueError):
    """The URL is not used. The text names the problem, nothing of the URL."""


class Platform(NamedTuple):
    # scheme://host[:port]/path without user information or trailing "/":
    # safe to log, and what the endpoint paths are appended to.
    base: str


class UserInfo(NamedTuple):
    user: str
    password: str
    # The password as the URL spells it, percent-escapes and all.
    raw_password: str


def parse(url: str) -> Tuple[Platform, Optional[UserInfo]]:
    if any(c.isspace() or ord(c) < 0x20 or ord(c) == 0x7F for c in url):
        raise RefusedURL("it holds spaces or control characters")
    scheme, sep, rest = url.partition("://")
    if not sep or scheme.lower() not in ("http", "https"):
        raise RefusedURL("it is not an http:// or https:// URL")
    end = min([i for i in map(rest.find, "/?#") if i >= 0] or [len(rest)])
    authority, tail = rest[:end], rest[end:]
    userinfo, at, hostport = authority.rpartition("@")
    if "@" in tail:
        raise RefusedURL("its user information holds an unescaped '/', '?' or '#' "
                         "(percent-encode them)")
    if at and not _USERINFO.fullmatch(userinfo):
        raise RefusedURL("its user information holds characters that must be percent-encoded")
    if "?" in tail or "#" in tail:
        raise RefusedURL("it has a query or a fragment")
    try:
        parts = urlsplit(f"{scheme}://{hostport}")
        host = parts.hostname
        parts.port  # noqa: B018 (raises for a port that is not a number in range)
    except ValueError:
        raise RefusedURL("its host or port is malformed") from None
    if not host:
        raise RefusedURL("it names no host")
    platform = Platform(f"{scheme.lower()}://{hostport}{tail.rstrip('/')}")
    if not at:
        return platform, None
    raw_user, _, raw_password = userinfo.partition(":")
    return platform, UserInfo(unquote(raw_user), unquote(raw_password), raw_password)
