"""The failures the Zorvik functions raise.

Every text here is our own: handlers put exception texts into their answers,
so nothing that came from a URL, a header or the library's own messages may
end up in one.
"""
import requests

# A connection failure is answered with a fixed text by the handlers; ours
# only has to be free of the URL.
UNREACHABLE = "The Zorvik platform could not be reached."


def platform_error(status: int, message: str) -> requests.exceptions.HTTPError:
    """An HTTP failure in the "<status>: <message>" form the handlers parse."""
    return requests.exceptions.HTTPError(f"{status}: {message}")


def unreachable() -> requests.exceptions.ConnectionError:
    return requests.exceptions.ConnectionError(UNREACHABLE)


def bad_request(status: int, message: str) -> requests.exceptions.RequestException:
    """Any other request failure (bad URL, timeout, unreadable answer)."""
    return requests.exceptions.RequestException(f"{status}: {message}")
