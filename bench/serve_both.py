"""One Jupyter server with both handlers: the native one on
{base_url}api/zorvik-bench/native and the plain one on
{base_url}api/zorvik-bench/plain, their sibling functions replaced by cheap
in-process stand-ins.

    python serve_both.py PORT TOKEN ROOT_DIR

Prints "READY <base_url>" once it listens; stops on SIGTERM or SIGINT.
"""
import sys

from jupyter_server.serverapp import ServerApp
from jupyter_server.utils import url_path_join
from tornado.ioloop import IOLoop

import cases

ROUTES = {"native": "api/zorvik-bench/native", "plain": "api/zorvik-bench/plain"}
WORKSPACES = 10


def main(port, token, root_dir):
    app = ServerApp()
    app.initialize(argv=[
        "--ip=127.0.0.1", f"--port={port}", "--ServerApp.port_retries=0", "--no-browser",
        "--allow-root",
        f"--IdentityProvider.token={token}", f"--ServerApp.root_dir={root_dir}",
        "--ServerApp.log_level=WARN",
    ])
    siblings, _ = cases.stand_ins(f"get_{WORKSPACES}")
    handlers = []
    for variant, module in cases.handler_modules().items():
        for name, value in siblings.items():
            setattr(module, name, value)
        handlers.append((url_path_join(app.base_url, ROUTES[variant]),
                         module.ZRVZorvikWorkspaceHandler))
    app.web_app.add_handlers(".*$", handlers)
    # Runs once the loop turns, by when the server listens.
    IOLoop.current().add_callback(print, "READY", app.base_url, flush=True)
    app.start()


if __name__ == "__main__":
    main(int(sys.argv[1]), sys.argv[2], sys.argv[3])
