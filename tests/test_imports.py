"""The module body's import statements (lines 19 to 29)."""
from helpers import FAILED_AT, HOOKS, MODULE_NAME, line, run_scenario



def test_imported_names_are_bound(wh):
    import http
    import json
    import typing

    import requests
    import tornado
    from jupyter_server.base.handlers import APIHandler

    import corvanix.zorvik
    import corvanix.zorvik.schemas
    from corvanix.server.misc.functions import parse_zorvik_exception

    assert wh.json is json and wh.HTTPStatus is http.HTTPStatus
    assert (wh.Any, wh.Dict, wh.List, wh.Union) == (typing.Any, typing.Dict, typing.List, typing.Union)
    assert wh.requests is requests and wh.tornado is tornado and wh.APIHandler is APIHandler
    assert wh.get_joined_workspaces is corvanix.zorvik.get_joined_workspaces
    assert wh.set_joined_workspace is corvanix.zorvik.set_joined_workspace
    assert wh.WorkspaceInfo is corvanix.zorvik.schemas.WorkspaceInfo
    assert wh.parse_zorvik_exception is parse_zorvik_exception


def test_none_in_sys_modules_fails_the_import_as_python_does():
    run_scenario(FAILED_AT + f"""
import sys
sys.modules["requests"] = None
try:
    import {MODULE_NAME}
except ImportError as e:
    assert str(e) == "import of requests halted; None in sys.modules", e
    assert failed_at(e) == {line("import requests")}
else:
    raise AssertionError("import succeeded")
""")


def test_failed_import_keeps_earlier_globals_and_a_retry_starts_over():
    # Loaded under another name, as a loader that does not register the
    # module would: the failed load must not leave it in sys.modules.
    run_scenario(HOOKS + FAILED_AT + f"""
sys.modules["requests"] = None
m = create(types.SimpleNamespace(name="elsewhere"))
try:
    execute(m)
except ImportError as e:
    assert failed_at(e) == {line("import requests")}
else:
    raise AssertionError("import succeeded")
import http, json, typing
g = vars(m)
assert g["json"] is json and g["HTTPStatus"] is http.HTTPStatus
assert (g["Any"], g["Dict"], g["List"], g["Union"]) == (typing.Any, typing.Dict, typing.List, typing.Union)
assert "requests" not in g and "__test__" not in g
assert "{MODULE_NAME}" not in sys.modules
del sys.modules["requests"]
import {MODULE_NAME} as again
assert again is not m and again.__test__ == {{}}
""")


def test_module_already_in_sys_modules_is_used_without_importing():
    run_scenario("""
        import http, sys
        import requests, jupyter_server.base.handlers  # they use the real HTTPStatus
        http.HTTPStatus = marker = object()
        # the import system completes a from-import of a package here
        bootstrap = sys.modules["_frozen_importlib"]
        handled = []
        original = bootstrap._handle_fromlist
        def recording(module, fromlist, *args, **kwargs):
            handled.append(module.__name__)
            return original(module, fromlist, *args, **kwargs)
        bootstrap._handle_fromlist = recording
        import corvanix.server.handlers.zorvik.workspace_handler as m
        assert m.HTTPStatus is marker
        assert "http" not in handled, handled
        __import__("http", fromlist=["HTTPStatus"])  # the import system's way
        assert handled[-1] == "http"
        bootstrap._handle_fromlist = original
    """)


def test_name_found_only_as_a_submodule_entry():
    run_scenario("""
        import sys
        import corvanix.zorvik as zorvik
        del zorvik.set_joined_workspace
        sys.modules["corvanix.zorvik.set_joined_workspace"] = marker = object()
        import corvanix.server.handlers.zorvik.workspace_handler as m
        assert m.set_joined_workspace is marker
        assert m.get_joined_workspaces is zorvik.get_joined_workspaces
    """)


def test_missing_name_fails_at_its_statement():
    run_scenario(HOOKS + FAILED_AT + f"""
import corvanix.zorvik as zorvik
del zorvik.set_joined_workspace
m = create(types.SimpleNamespace(name="missing"))
try:
    execute(m)
except ImportError as e:
    assert str(e) == "cannot import name set_joined_workspace", e
    assert failed_at(e) == {line("from corvanix.zorvik import")}
else:
    raise AssertionError("import succeeded")
assert vars(m)["get_joined_workspaces"] is zorvik.get_joined_workspaces
assert "set_joined_workspace" not in vars(m)
""")
