"""The platform URL: checked before any use, and split into the address we
call and the credentials we send apart from it.

A URL is refused when it is not http(s), has a query or a fragment, or its
user information holds characters that must be percent-encoded: an
unescaped "/" in a password would otherwise move the rest of the password
into the host and path, where logs and requests would show it. Texts of a
refusal never repeat any part of the URL.
"""
import base64
import functools
import re
from typing import NamedTuple, Optional, Tuple
from urllib.parse import quote, unquote, urlsplit

# RFC 3986 userinfo: unreserved, sub-delims, ":" and percent-escapes.
_USERINFO = re.compile(r"(?:[A-Za-z0-9\-._~!$&'()*+,;=:]|%[0-9A-Fa-f]{2})*")


class RefusedURL(ValueError):
    """The URL is not used. The text names the problem, nothing of the URL."""


class Platform(NamedTuple):
    # scheme://host[:port]/path without user information or trailing "/":
    # safe to log, and what the endpoint paths are appended to.
    base: str
    authorization: Optional[str]
    # Case-folded forms of the credentials that no message may repeat.
    secrets: Tuple[str, ...]


@functools.lru_cache(maxsize=16)
def parse(url: str) -> Platform:
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
    base = f"{scheme.lower()}://{hostport}{tail.rstrip('/')}"
    if not at:
        return Platform(base, None, (url.casefold(),))
    raw_user, _, raw_password = userinfo.partition(":")
    user, password = unquote(raw_user), unquote(raw_password)
    token = _basic_token(user, password)
    secrets = [url]
    if password:
        # A user name alone is no secret; with a password every form is.
        secrets += [raw_password, password, quote(password, safe=""), f"{user}:{password}",
                    token, token.rstrip("=")]
    return Platform(base, "Basic " + token, tuple({s.casefold() for s in secrets if s}))


def _basic_token(user: str, password: str) -> str:
    pair = f"{user}:{password}"
    try:
        # What requests sends for basic authentication ...
        raw = pair.encode("latin-1")
    except UnicodeEncodeError:
        # ... which cannot encode every password; UTF-8 then (RFC 7617).
        raw = pair.encode("utf-8")
    return base64.b64encode(raw).decode("ascii")


def holds_secret(text: str, platform: Platform) -> bool:
    """Whether `text` repeats a credential, in any letter case, raw or percent-decoded."""
    folded = text.casefold()
    decoded = unquote(text).casefold()
    return any(s in folded or s in decoded for s in platform.secrets)
