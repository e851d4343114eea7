"""The measured paths, the cheap handler double and the sibling stand-ins,
shared by the instruction counts and the timings.

A case is one (path, variant) pair: `case.run(n)` makes n requests. All
three variants of a path run against the same stand-ins, so the difference
between them is the handler's own work. Request methods are called
undecorated (`tornado.web.authenticated` is the framework's, the same for
native and plain, and absent from the floor).
"""
import importlib
import json
from http import HTTPStatus
from types import SimpleNamespace

import requests

from corvanix.zorvik.schemas import WorkspaceInfo

import floor

NATIVE_MODULE = "corvanix.server.handlers.zorvik.workspace_handler"
PLAIN_MODULE = "plain_workspace_handler"
VARIANTS = ("native", "plain", "floor")

# (path, label) in table order
PATHS = (
    ("get_0", "GET, 0 workspaces"),
    ("get_10", "GET, 10 workspaces"),
    ("get_100", "GET, 100 workspaces"),
    ("get_connection_error", "GET, connection error (502)"),
    ("get_request_failure", "GET, request failure (parse_zorvik_exception)"),
    ("post_success", "POST, success"),
    ("post_missing_field", "POST, missing field (400)"),
    ("writer", "writer alone"),
)


class CheapResponse:
    """The framework's side of a handler, doing as little as possible."""

    current_user = "bench"

    def __init__(self, body=None):  # no application or request
        self.json_body = body

    def set_header(self, name, value):
        pass

    def set_status(self, status_code):
        pass

    def finish(self, chunk=None):
        pass

    def get_json_body(self):
        return self.json_body


def handler_modules():
    return {"native": importlib.import_module(NATIVE_MODULE),
            "plain": importlib.import_module(PLAIN_MODULE)}


def raising(error):
    """A sibling function that raises `error`; its traceback is dropped
    first, so raising the one instance again does not grow it."""
    def sibling(*args, **kwargs):
        error.__traceback__ = None
        raise error
    return sibling


def stand_ins(path):
    """The sibling functions and the request body of a path."""
    count = int(path[len("get_"):]) if path[len("get_"):].isdigit() else 3
    joined = [WorkspaceInfo(i, f"Workspace {i}") for i in range(count)]
    parsed = (404, "Workspace 7 does not exist.")

    def get_joined_workspaces():
        return joined

    def set_joined_workspace(workspace_id):
        return None

    def parse_zorvik_exception(error_str):
        return parsed

    siblings = {
        "get_joined_workspaces": get_joined_workspaces,
        "set_joined_workspace": set_joined_workspace,
        "parse_zorvik_exception": parse_zorvik_exception,
    }
    if path == "get_connection_error":
        siblings["get_joined_workspaces"] = raising(
            requests.exceptions.ConnectionError("Connection refused"))
    elif path == "get_request_failure":
        siblings["get_joined_workspaces"] = raising(
            requests.exceptions.HTTPError("404: Workspace 7 does not exist."))
    body = {} if path == "post_missing_field" else {"workspace_id": 7}
    return siblings, body


def request_loop(method, handler, n):
    for _ in range(n):
        method(handler)


def writer_loop(method, handler, n, status_code, result):
    for _ in range(n):
        method(handler, status_code=status_code, result=result)


class Case:
    def __init__(self, path, variant, method, handler):
        self.path = path
        self.variant = variant
        self.method = method
        self.handler = handler
        self.status_code = HTTPStatus.OK
        self.result = {"success": True}

    def run(self, n):
        if self.path == "writer":
            writer_loop(self.method, self.handler, n, self.status_code, self.result)
        else:
            request_loop(self.method, self.handler, n)


def make_floor(path, handler, siblings):
    r = SimpleNamespace(set_header=handler.set_header, set_status=handler.set_status,
                        finish=handler.finish, dumps=json.dumps)
    fetch = siblings["get_joined_workspaces"]
    if path.startswith("get_") and path[4:].isdigit():
        return floor.get_list(r, fetch)
    if path == "get_connection_error":
        return floor.get_connection_error(r, fetch, requests.exceptions.ConnectionError)
    if path == "get_request_failure":
        return floor.get_request_failure(r, fetch, requests.exceptions.RequestException,
                                         siblings["parse_zorvik_exception"])
    if path == "post_success":
        return floor.post_success(r, handler.get_json_body, siblings["set_joined_workspace"])
    if path == "post_missing_field":
        return floor.post_missing_field(r, handler.get_json_body)
    if path == "writer":
        return floor.writer(r)
    raise ValueError(path)


def make_cases(path, modules):
    """One case per variant for `path`. Installs the path's stand-ins as the
    handler modules' globals, so make the cases of one path, run them, and
    only then make those of the next."""
    siblings, body = stand_ins(path)
    cases = {}
    for variant in ("native", "plain"):
        module = modules[variant]
        for name, value in siblings.items():
            setattr(module, name, value)
        handler_class = module.ZRVZorvikWorkspaceHandler
        double = type(f"{variant.title()}Double", (CheapResponse, handler_class), {})
        if path == "writer":
            method = handler_class._finish_with_result
        else:
            method = getattr(handler_class, path.split("_")[0]).__wrapped__
        cases[variant] = Case(path, variant, method, double(body))
    floor_handler = type("FloorDouble", (CheapResponse,), {})(body)
    cases["floor"] = Case(path, "floor", make_floor(path, floor_handler, siblings), floor_handler)
    return cases
