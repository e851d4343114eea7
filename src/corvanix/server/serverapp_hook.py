"""What this package adds to a Jupyter server before it reads its command line.

A server prints `--help-all` while parsing its command line, before it loads
any extension, and at debug level it logs its whole configuration as soon as
it has read it. So, when `jupyter_server.serverapp` is imported (and only
then), the extension's options class joins `ServerApp.classes` (listed by
`--help-all`, typed on the command line) and log records get passwords in
URLs masked (`log_redaction`).

Installed at interpreter start by corvanix-serverapp-hook.pth, which imports
this module alone: it puts one finder on sys.meta_path, which ignores every
other module and leaves after its one use. Nothing of jupyter_server or of
the native module is imported early.
"""
import sys

_TARGET = "jupyter_server.serverapp"


def _extend(serverapp) -> None:
    # A broken installation must not stop the server from starting.
    try:
        from corvanix.server import log_redaction

        log_redaction.install()
        # Fails (and only the listing is missing) when the server module is
        # being imported by jupyter_server's extension module itself, as
        # extension-first applications do: ours needs that one complete.
        from corvanix.server.extension import ZorvikWorkspacesApp
    except Exception:
        return
    app = serverapp.ServerApp
    if ZorvikWorkspacesApp not in app.classes:
        app.classes = [*app.classes, ZorvikWorkspacesApp]


class _ThenExtend:
    """The module's own loader, then `_extend`."""

    def __init__(self, loader) -> None:
        self._loader = loader

    def create_module(self, spec):
        return self._loader.create_module(spec)

    def exec_module(self, module) -> None:
        # The module keeps its own loader (tracebacks read sources through it).
        module.__spec__.loader = module.__loader__ = self._loader
        self._loader.exec_module(module)
        _extend(module)


class _Finder:
    def find_spec(self, fullname, path=None, target=None):
        if fullname != _TARGET:
            return None
        sys.meta_path[:] = [f for f in sys.meta_path if f is not self]
        for finder in sys.meta_path:
            find_spec = getattr(finder, "find_spec", None)
            spec = find_spec(fullname, path, target) if find_spec else None
            if spec is not None:
                if spec.loader is not None and hasattr(spec.loader, "exec_module"):
                    spec.loader = _ThenExtend(spec.loader)
                return spec
        return None


if _TARGET in sys.modules:
    _extend(sys.modules[_TARGET])
elif not any(isinstance(f, _Finder) for f in sys.meta_path):
    sys.meta_path.insert(0, _Finder())
