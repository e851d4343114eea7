"""The Jupyter server extension that serves the Zorvik workspace handler.

Enabled on install by etc/jupyter/jupyter_server_config.d/corvanix.json; the
handler answers on {base_url}api/zorvik/workspaces.
"""
from typing import Any, Dict, List
from urllib.parse import urlsplit

from jupyter_server.extension.application import ExtensionApp
from jupyter_server.utils import url_path_join

ROUTE = "api/zorvik/workspaces"


class ZorvikWorkspacesApp(ExtensionApp):
    """The server's side of the Zorvik workspaces: their API route."""

    name = "corvanix"
    description = "The Zorvik workspaces a notebook server's user has joined."
    # Loaded by a running server, never started as a command of its own.
    load_other_extensions = True

    def initialize_handlers(self) -> None:
        # Imported here so that listing extensions does not load the native module.
        from corvanix.server.handlers.zorvik.workspace_handler import ZRVZorvikWorkspaceHandler

        # The server puts its base URL in front of every pattern.
        self.handlers.append((ROUTE, ZRVZorvikWorkspaceHandler))

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
