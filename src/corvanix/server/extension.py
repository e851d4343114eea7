"""The Jupyter server extension that serves the Zorvik workspace handler.

Enabled on install by etc/jupyter/jupyter_server_config.d/corvanix.json; the
handler answers on {base_url}api/zorvik/workspaces, and the page for people
in a browser is {base_url}zorvik/workspaces.
"""
from typing import Any, Dict, List
from urllib.parse import urlsplit

from jupyter_server.extension.application import ExtensionApp, ExtensionAppJinjaMixin
from jupyter_server.utils import url_path_join
from traitlets import default

from corvanix.server.page import handler as page

ROUTE = "api/zorvik/workspaces"


class ZorvikWorkspacesApp(ExtensionAppJinjaMixin, ExtensionApp):
    """The server's side of the Zorvik workspaces: their API route and their page."""

    name = "corvanix"
    description = "The Zorvik workspaces a notebook server's user has joined."
    # Loaded by a running server, never started as a command of its own.
    load_other_extensions = True

    def initialize_handlers(self) -> None:
        # Imported here so that listing extensions does not load the native module.
        from corvanix.server.handlers.zorvik.workspace_handler import ZRVZorvikWorkspaceHandler

        # The server puts its base URL in front of every pattern.
        self.handlers.append((ROUTE, ZRVZorvikWorkspaceHandler))
        self.handlers.append((page.ROUTE, page.WorkspacesPageHandler, {"api_route": ROUTE}))
        self.log.info("Zorvik workspaces page on %s",
                      url_path_join(self.serverapp.base_url, page.ROUTE))

    # The page's template and its script and stylesheet, installed with the package.
    @default("template_paths")
    def _default_template_paths(self) -> List[str]:
        return [page.TEMPLATE_DIR]

    @default("static_paths")
    def _default_static_paths(self) -> List[str]:
        return [page.STATIC_DIR]

    def initialize_settings(self) -> None:
        from corvanix.zorvik import _store, platform_url

        url = platform_url()
        source = (f"the Zorvik platform at {_without_credentials(url)}" if url
                  else f"the embedded store {_store.store_path()}")
        self.log.info("Zorvik workspaces on %s, from %s",
                      url_path_join(self.serverapp.base_url, ROUTE), source)


def _jupyter_server_extension_points() -> List[Dict[str, Any]]:
    return [{"module": __name__, "app": ZorvikWorkspacesApp}]


def _without_credentials(url: str) -> str:
    try:
        parts = urlsplit(url)
        host = parts.hostname or ""
        port = f":{parts.port}" if parts.port else ""
    except ValueError:
        return "(a malformed ZORVIK_URL)"
    return f"{parts.scheme}://{host}{port}{parts.path}"
