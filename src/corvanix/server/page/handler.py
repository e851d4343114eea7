"""The handler that serves the Zorvik workspaces page, and where its files live.

The page is the server's kind of extension page: a Jinja template from the
extension's template path, its script and stylesheet from the extension's
static path (served under {base_url}static/corvanix/), authenticated like the
server's own pages.
"""
import os

from jupyter_server.base.handlers import JupyterHandler
from jupyter_server.extension.handler import ExtensionHandlerJinjaMixin, ExtensionHandlerMixin
from jupyter_server.utils import url_path_join
from tornado import web

from corvanix.server.page.home import home

ROUTE = "zorvik/workspaces"
TEMPLATE = "zorvik-workspaces.html"

_HERE = os.path.dirname(os.path.abspath(__file__))
TEMPLATE_DIR = os.path.join(_HERE, "templates")
STATIC_DIR = os.path.join(_HERE, "static")

# The page runs its own script and stylesheet and talks to its own server,
# nothing else: no inline code, so markup in a workspace name could not run
# even if it reached the document as markup. Appended to the server's policy,
# whose directives come first and so win where an operator set the same ones.
_PAGE_POLICY = "; ".join([
    "default-src 'none'",
    "script-src 'self'",
    "style-src 'self'",
    "connect-src 'self'",
    "img-src 'self'",
    "base-uri 'none'",
    "form-action 'none'",
])


class WorkspacesPageHandler(ExtensionHandlerJinjaMixin, ExtensionHandlerMixin, JupyterHandler):
    """GET: the page. An anonymous browser is sent to the login page."""

    def initialize(self, name: str, api_route: str) -> None:
        super().initialize(name)
        self.api_route = api_route

    @property
    def content_security_policy(self) -> str:
        return f"{super().content_security_policy}; {_PAGE_POLICY}"

    @web.authenticated
    def get(self) -> None:
        # The template namespace carries the XSRF token (and sets its cookie):
        # the script sends it back with its POSTs.
        page_url = url_path_join(self.base_url, ROUTE)
        self.finish(self.render_template(
            TEMPLATE, api_url=url_path_join(self.base_url, self.api_route),
            home=home(self.serverapp, page_url)))
