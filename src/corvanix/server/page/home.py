"""Where the page's way back leads: the server's home, under its base URL."""
from typing import Any, NamedTuple, Optional
from urllib.parse import unquote, urlsplit

from jupyter_server.utils import url_path_join

# JupyterLab's extension package, and where its page is when its app does not say.
LAB_PACKAGE = "jupyterlab"
LAB_PATH = "/lab"


class Home(NamedTuple):
    url: str
    name: str  # as the link says it: "Back to <name>"


def home(serverapp: Any, page_url: str) -> Optional[Home]:
    """JupyterLab's page where JupyterLab runs in this server, else the
    server's default page; None where that is the page itself (a server
    started with the page as its default has no other home)."""
    lab = _lab_url(serverapp)
    if lab is not None and not _same_page(lab, page_url):
        return Home(lab, "JupyterLab")
    if not _same_page(serverapp.default_url, page_url):
        return Home(serverapp.default_url, "the notebook server")
    return None


def _lab_url(serverapp: Any) -> Optional[str]:
    manager = getattr(serverapp, "extension_manager", None)
    package = manager.extensions.get(LAB_PACKAGE) if manager is not None else None
    if package is None or not package.enabled:
        return None
    for point in package.extension_points.values():
        if point.app is not None and point.linked:
            return url_path_join(serverapp.base_url, getattr(point.app, "app_url", LAB_PATH))
    return None


def _same_page(url: str, other: str) -> bool:
    # The server's default URL may carry a query or a trailing slash, and
    # spell the base URL's reserved characters either way.
    def path(u: str) -> str:
        return unquote(urlsplit(u).path).rstrip("/")
    return path(url) == path(other)
