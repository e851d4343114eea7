"""Fault injection: resource errors from every collaborator, calls at the edge
of the recursion limit, and module globals that are gone or hollow. The
interpreter must survive all of it, every failure must come out as a clear
Python exception, and the invariants of invariants.check_call must hold."""
import sys
import types

import pytest
import requests

from helpers import assert_no_leaks, line
from invariants import call_method, check_call, check_outcome, make_counting_double, method_entries


class Workspace:
    def to_dict(self):
        return {"id": 1}


def memory_error():
    return MemoryError()


def recursion_error():
    return RecursionError("maximum recursion depth exceeded")


def runaway_recursion():
    """The real thing: a RecursionError raised by the interpreter itself."""
    def down(n):
        return down(n + 1)
    try:
        down(0)
    except RecursionError as e:
        return e
    raise AssertionError("no recursion limit")


RESOURCE_ERRORS = [memory_error, recursion_error, runaway_recursion]


@pytest.fixture(scope="module")
def Double(wh):
    return make_counting_double(wh)


@pytest.fixture
def siblings(wh, monkeypatch):
    """Well-behaved siblings; tests replace one of them."""
    monkeypatch.setattr(wh, "get_joined_workspaces", lambda: [Workspace()])
    monkeypatch.setattr(wh, "set_joined_workspace", lambda workspace_id: None)
    monkeypatch.setattr(wh, "parse_zorvik_exception", lambda error_str: (404, "parsed"))
    return wh


def raising(make):
    def sibling(*args, **kwargs):
        raise make()
    return sibling


@pytest.mark.parametrize("make", RESOURCE_ERRORS)
@pytest.mark.parametrize("method, sibling", [
    ("get", "get_joined_workspaces"), ("post", "set_joined_workspace")])
def test_resource_errors_from_the_fetch_or_set_are_answered(
        Double, siblings, monkeypatch, method, sibling, make):
    # Both derive from Exception: the `except Exception` clause answers 500.
    monkeypatch.setattr(siblings, sibling, raising(make))
    h = Double({"workspace_id": 1})
    assert check_call(h, method, handled=True) == "answered"
    assert h.answer.status == 500 and h.answer.body == {"error": str(make())}
    assert_no_leaks(lambda: Double({"workspace_id": 1}).__getattribute__(method)(), repeat=100)


@pytest.mark.parametrize("make", RESOURCE_ERRORS)
@pytest.mark.parametrize("method, sibling", [
    ("get", "get_joined_workspaces"), ("post", "set_joined_workspace")])
def test_resource_errors_from_parse_leave_the_method(
        Double, siblings, monkeypatch, method, sibling, make):
    monkeypatch.setattr(siblings, sibling, raising(lambda: requests.exceptions.HTTPError("x")))
    monkeypatch.setattr(siblings, "parse_zorvik_exception", raising(make))
    raised = check_call(Double({"workspace_id": 1}), method)
    assert type(raised) is type(make()) and method_entries(raised, method) == [line(method + ".parse")]
    assert isinstance(raised.__context__, requests.exceptions.HTTPError)


@pytest.mark.parametrize("make", RESOURCE_ERRORS)
def test_resource_error_from_to_dict_leaves_get(Double, siblings, monkeypatch, make):
    class Failing:
        def to_dict(self):
            raise make()

    monkeypatch.setattr(siblings, "get_joined_workspaces", lambda: [Workspace(), Failing()])
    raised = check_call(Double(), "get")
    assert type(raised) is type(make()) and method_entries(raised, "get") == [line("get.workspaces")]


@pytest.mark.parametrize("make", RESOURCE_ERRORS)
@pytest.mark.parametrize("method, double_method, index", [
    (method, double_method, index)
    for method in ("get", "post")
    for double_method, index in (("set_header", 0), ("set_header", 1), ("set_status", 0),
                                 ("finish", 0), ("get_json_body", 0))
    if (method, double_method) != ("get", "get_json_body")])  # get reads no body
def test_resource_errors_from_the_handler_double(Double, siblings, method, double_method, index, make):
    raised = check_call(Double({"workspace_id": 1}, fault=(double_method, index, make)), method,
                        handled=True)
    assert type(raised) is type(make())
    expected_line = "post.body" if double_method == "get_json_body" else method + ".answer"
    assert method_entries(raised, method) == [line(expected_line)]


def at_depth(depth, fn):
    """Calls fn() with the stack `depth` frames deeper than here."""
    if depth <= 0:
        return fn()
    return at_depth(depth - 1, fn)


@pytest.mark.parametrize("method, failing", [
    ("get", None), ("get", "get_joined_workspaces"), ("post", None), ("post", "set_joined_workspace")])
def test_calls_at_the_edge_of_the_recursion_limit(Double, siblings, monkeypatch, method, failing):
    """Every depth from comfortably inside the limit to past it: each call
    is answered or raises RecursionError, and the interpreter stays sound."""
    if failing is not None:
        monkeypatch.setattr(siblings, failing, raising(lambda: ValueError("sibling failed")))

    def depth_here():
        frame, n = sys._getframe(), 0
        while frame is not None:
            frame, n = frame.f_back, n + 1
        return n

    room = sys.getrecursionlimit() - depth_here()
    outcomes = set()
    for depth in range(room - 60, room + 5):
        h = Double({"workspace_id": 1})
        try:
            result, raised = at_depth(depth, lambda: call_method(h, method))
        except RecursionError:
            outcomes.add("no room to call")
            continue
        if isinstance(raised, RecursionError) and not h.calls and not method_entries(raised, method):
            outcomes.add("refused before the method ran")  # by the framework's wrapper
            continue
        outcome = check_outcome(h, method, result, raised)
        if isinstance(outcome, BaseException):
            assert isinstance(outcome, RecursionError), repr(outcome)
            outcome = "RecursionError"
        outcomes.add(outcome)
    # Deep enough to fail, shallow enough to answer.
    assert "answered" in outcomes and outcomes - {"answered"}
    h = Double({"workspace_id": 1})
    assert check_call(h, method) == "answered"
    assert h.answer.status == (500 if failing else 200)


def test_a_recursive_to_dict_is_answered_by_nobody(Double, siblings, monkeypatch):
    class Recursive:
        def to_dict(self):
            return self.to_dict()

    monkeypatch.setattr(siblings, "get_joined_workspaces", lambda: [Recursive()])
    raised = check_call(Double(), "get")
    assert isinstance(raised, RecursionError) and method_entries(raised, "get") == [line("get.workspaces")]


def test_a_result_too_deep_to_serialise(Double, siblings, monkeypatch):
    deep = []
    # Deeper than the native recursion limit too: from 3.12 the serialiser's
    # guard counts native levels, which have a limit of their own.
    for _ in range(max(sys.getrecursionlimit() * 2, 100_000)):
        deep = [deep]

    class Deep:
        def to_dict(self):
            return deep

    monkeypatch.setattr(siblings, "get_joined_workspaces", lambda: [Deep()])
    h = Double()
    raised = check_call(h, "get")
    assert isinstance(raised, RecursionError) and method_entries(raised, "get") == [line("get.answer")]
    assert [c[0] for c in h.calls] == ["set_header"]  # only the content type was set


# ------------------------------------------------------- hollow module globals

def failing_fetch():
    raise ValueError("fetch failed")


def connection_failure(*args, **kwargs):
    raise requests.exceptions.ConnectionError("down")


@pytest.mark.parametrize("method, sibling, behaviour, answer_line", [
    ("get", None, None, "get.answer"),
    ("get", "get_joined_workspaces", connection_failure, "get.connection_answer"),
    ("get", "get_joined_workspaces", failing_fetch, "get.exception_answer"),
    ("post", None, None, "post.answer"),
    ("post", "set_joined_workspace", connection_failure, "post.connection_answer"),
    ("post", "set_joined_workspace", failing_fetch, "post.exception_answer"),
])
@pytest.mark.parametrize("hollow", ["json deleted", "HTTPStatus without members"])
def test_hollow_globals(Double, siblings, monkeypatch, method, sibling, behaviour, answer_line,
                        hollow):
    if sibling is not None:
        monkeypatch.setattr(siblings, sibling, behaviour)
    if hollow == "json deleted":
        monkeypatch.delattr(siblings, "json")
        expected, text, writer = NameError, "name 'json' is not defined", ["set_header"]
    else:
        monkeypatch.setattr(siblings, "HTTPStatus", types.SimpleNamespace())
        expected, text, writer = AttributeError, "object has no attribute", []
    h = Double({"workspace_id": 1})
    raised = check_call(h, method, handled=True)
    assert type(raised) is expected and text in str(raised)
    assert [c[0] for c in h.calls if c[0] != "get_json_body"] == writer
    # the writer's own entry, then the method's at the answer's line
    assert method_entries(raised, method) == [line(answer_line)]
    assert_no_leaks(lambda: check_call(Double({"workspace_id": 1}), method), repeat=400)


def test_missing_field_answer_with_hollow_globals(Double, siblings, monkeypatch):
    monkeypatch.setattr(siblings, "HTTPStatus", types.SimpleNamespace())
    raised = check_call(Double({}), "post")
    assert isinstance(raised, AttributeError) and method_entries(raised, "post") == [line("post.missing_status")]
    assert isinstance(raised.__context__, KeyError)
