"""The Jupyter server extension that serves the Zorvik workspace handler.

Enabled on install by etc/jupyter/jupyter_server_config.d/corvanix.json; the
handler answers on {base_url}api/zorvik/workspaces.
"""
from typing import Any, Dict, List
from urllib.parse import urlsplit

from jupyter_server.utils import url_path_join

ROUTE = "api/zorvik/workspaces"


def _jupyter_server_extension_points() -> List[Dict[str, str]]:
    return [{"module": __name__}]


def _load_jupyter_server_extension(serverapp: Any) -> None:
    # Imported here so that listing extensions does not load the native module.
    from corvanix.server.handlers.zorvik.workspace_handler import ZRVZorvikWorkspaceHandler
    from corvanix.zorvik import _store, platform_url

    web_app = serverapp.web_app
    route = url_path_join(web_app.settings["base_url"], ROUTE)
    web_app.add_handlers(".*$", [(route, ZRVZorvikWorkspaceHandler)])
    url = platform_url()
    source = (f"the Zorvik platform at {_without_credentials(url)}" if url
              else f"the embedded store {_store.store_path()}")
    serverapp.log.info("Zorvik workspaces on %s, from %s", route, source)


def _without_credentials(url: str) -> str:
    try:
        parts = urlsplit(url)
        host = parts.hostname or ""
        port = f":{parts.port}" if parts.port else ""
    except ValueError:
        return "(a malformed ZORVIK_URL)"
    return f"{parts.scheme}://{host}{port}{parts.path}"
