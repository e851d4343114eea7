"""What the client sends to prove who it is, and the forms of it that no
message may repeat."""
import base64
from typing import NamedTuple, Optional, Tuple
from urllib.parse import quote, unquote


class Credentials(NamedTuple):
    # The Authorization header's value.
    authorization: str
    # Case-folded forms of the credentials that no message may repeat.
    secrets: Tuple[str, ...]


def basic(user: str, password: str, *spellings: str) -> Credentials:
    """Basic authentication; `spellings` are further forms of the password
    (as a URL wrote it) to keep out of messages."""
    token = _base64(f"{user}:{password}")
    secrets = []
    if password:
        # A user name alone is no secret; with a password every form is,
        # the password's own base64 among them (a platform may echo it).
        alone = _base64(password)
        secrets += [password, quote(password, safe=""), f"{user}:{password}", token,
                    token.rstrip("="), alone, alone.rstrip("="), *spellings]
    return Credentials("Basic " + token, tuple({s.casefold() for s in secrets if s}))


def _base64(text: str) -> str:
    try:
        # What requests sends for basic authentication ...
        raw = text.encode("latin-1")
    except UnicodeEncodeError:
        # ... which cannot encode every password; UTF-8 then (RFC 7617).
        raw = text.encode("utf-8")
    return base64.b64encode(raw).decode("ascii")


def holds_secret(text: str, credentials: Optional[Credentials]) -> bool:
    """Whether `text` repeats a credential, in any letter case, raw or percent-decoded."""
    if credentials is None or not credentials.secrets:
        return False
    folded = text.casefold()
    decoded = unquote(text).casefold()
    return any(s in folded or s in decoded for s in credentials.secrets)
