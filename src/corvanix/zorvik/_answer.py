"""Reading a platform's answer within a size limit.

The body is read as a stream and inflated here, never by the library, so
that an answer costs at most about `limit` bytes of memory however far it
would inflate: a 300 KB gzip answer can grow to 150 MB.
"""
import zlib
from typing import Any

import requests

# Asked for in every request; anything else is not an answer we can read.
ACCEPT_ENCODING = "gzip, deflate"
_CHUNK = 16 * 1024
# zlib's format or gzip's, told apart by the header.
_ZLIB_OR_GZIP = 32 + zlib.MAX_WBITS


class TooLarge(Exception):
    pass


class Unreadable(Exception):
    """The text says what is wrong with the answer, in our words."""


def read(response: requests.Response, limit: int) -> bytes:
    encoding = response.headers.get("Content-Encoding", "").strip().lower()
    if encoding in ("", "identity"):
        inflater = None
        length = response.headers.get("Content-Length", "").strip()
        if length.isdigit() and int(length) > limit:
            raise TooLarge
    elif encoding in ("gzip", "x-gzip", "deflate"):
        inflater = zlib.decompressobj(_ZLIB_OR_GZIP)
    else:
        raise Unreadable("an unknown content encoding")
    body = bytearray()
    while True:
        chunk = response.raw.read(_CHUNK, decode_content=False)
        if not chunk:
            break
        if inflater is None:
            body += chunk
        else:
            _inflate_into(body, inflater, chunk, limit)
        if len(body) > limit:
            raise TooLarge
    if inflater is not None and not inflater.eof:
        raise Unreadable("a compressed body cut short")
    return bytes(body)


def _inflate_into(body: bytearray, inflater: Any, data: bytes, limit: int) -> None:
    try:
        while data:
            # Never more than one byte past the limit at a time.
            body += inflater.decompress(data, limit + 1 - len(body))
            if len(body) > limit:
                return
            data = inflater.unconsumed_tail
    except zlib.error:
        raise Unreadable("a corrupt compressed body") from None
