"""POST: setting the joined workspace."""
import math
import sys
import traceback

import pytest
import requests

from handler_double import make_double_class
from helpers import MODULE_NAME, SOURCE_FILE, assert_no_leaks, line

POST = MODULE_NAME + ".ZRVZorvikWorkspaceHandler.post"
MISSING = "workspace_id is required in the body of the request."


@pytest.fixture
def Double(wh):
    return make_double_class(wh.ZRVZorvikWorkspaceHandler)


@pytest.fixture
def joined(wh, monkeypatch):
    """Records calls of the module global set_joined_workspace; `.raises` makes it fail."""
    class Recorder:
        raises = None

        def __init__(self):
            self.calls = []

        def __call__(self, *args, **kwargs):
            self.calls.append((args, kwargs))
            if self.raises is not None:
                # a fresh instance each time: a re-raised one keeps growing its traceback
                raise type(self.raises)(*self.raises.args)
            return "ignored"

    recorder = Recorder()
    monkeypatch.setattr(wh, "set_joined_workspace", recorder)
    monkeypatch.setattr(wh, "parse_zorvik_exception", lambda error_str: (409, "parsed: " + error_str))
    return recorder


def entries(exc):
    return [(f.name, f.lineno) for f in traceback.extract_tb(exc.__traceback__)
            if f.filename == SOURCE_FILE]


class DictSub(dict):
    pass


@pytest.mark.parametrize("value, passed", [
    (7, 7), (None, None), (True, 1), (3.9, 3), (2 ** 80, 2 ** 80), (-1, -1),
])
def test_success_and_conversion(Double, joined, value, passed):
    h = Double({"workspace_id": value})
    assert h.post() is None
    assert joined.calls == [((), {"workspace_id": passed})]
    assert type(joined.calls[0][1]["workspace_id"]) is type(passed)
    assert (h.answer.status, h.answer.body) == (200, {"success": True})
    assert h.answer.headers["Content-Length"] == "17"
    assert h.calls[0][0] == "get_json_body"


def test_missing_member(Double, joined):
    h = Double({"other": 1})
    h.post()
    assert (h.answer.status, h.answer.body) == (400, {"message": MISSING})
    assert h.answer.headers["Content-Length"] == "67"
    assert joined.calls == []


@pytest.mark.parametrize("body, exc_type, message, failed_line", [
    ({"workspace_id": "7"}, TypeError, "Expected int, got str", "post.workspace_id"),
    ({"workspace_id": [1]}, TypeError, "Expected int, got list", "post.workspace_id"),
    ({"workspace_id": math.nan}, ValueError, "cannot convert float NaN to integer", "post.workspace_id"),
    ({"workspace_id": math.inf}, OverflowError, "cannot convert float infinity to integer", "post.workspace_id"),
    ([1, 2], TypeError, "Expected dict, got list", "post.body"),
    ("text", TypeError, "Expected dict, got str", "post.body"),
    (DictSub(workspace_id=1), TypeError, "Expected dict, got DictSub", "post.body"),
    (None, TypeError, "'NoneType' object is not subscriptable", "post.workspace_id"),
])
def test_bodies_that_leave_post(Double, joined, body, exc_type, message, failed_line):
    h = Double(body)
    with pytest.raises(exc_type) as info:
        h.post()
    assert str(info.value) == message
    assert entries(info.value) == [(POST, line(failed_line))]
    assert joined.calls == [] and [c[0] for c in h.calls] == ["get_json_body"]


def test_failing_get_json_body(Double, joined):
    h = Double()

    def broken():
        raise RuntimeError("bad body")

    h.get_json_body = broken
    with pytest.raises(RuntimeError) as info:
        h.post()
    assert entries(info.value) == [(POST, line("post.body"))]


class TestKeyErrorHandler:
    def test_key_error_from_conversion_is_answered_with_its_argument(self, Double, joined):
        class Weird:
            def __int__(self):
                raise KeyError("from __int__")

        h = Double({"workspace_id": Weird()})
        h.post()
        assert (h.answer.status, h.answer.body) == (
            400, {"message": "from __int__" + MISSING[len("workspace_id"):]})

    def test_key_error_without_arguments(self, Double, joined):
        class NoArgs:
            def __int__(self):
                raise KeyError()

        h = Double({"workspace_id": NoArgs()})
        with pytest.raises(IndexError) as info:
            h.post()
        assert entries(info.value)[-1] == (POST, line("post.missing_body"))
        assert isinstance(info.value.__context__, KeyError)
        assert h.calls == [("get_json_body", (), {})]

    @pytest.mark.parametrize("arg, text", [
        (5, "5"), (("a", 1), "('a', 1)"), (None, "None"), ("\u00e9", "\u00e9"),
    ])
    def test_text_is_format_of_the_first_argument(self, Double, joined, arg, text):
        class Raising:
            def __int__(self):
                raise KeyError(arg)

        h = Double({"workspace_id": Raising()})
        h.post()
        assert h.answer.body == {"message": text + MISSING[len("workspace_id"):]}

    def test_interned_key_text_is_not_changed_in_place(self, Double, joined):
        key = sys.intern("workspace_id")
        h = Double({})
        h.post()
        assert key == "workspace_id" and sys.intern("workspace_id") is key
        assert h.answer.body == {"message": MISSING}

    def test_handled_exception_seen_by_the_writer(self, Double, joined):
        seen = []
        h = Double({})
        original = h.finish

        def finish(text):
            seen.append(sys.exc_info()[0])
            return original(text)

        h.finish = finish
        h.post()
        assert seen == [KeyError]
        assert sys.exc_info() == (None, None, None)


class ProxyFailure(requests.exceptions.ProxyError):  # a ConnectionError subclass
    pass


@pytest.mark.parametrize("raised, status, body", [
    (requests.exceptions.ConnectionError("refused at http://user:pw@host"), 502, {"error": "Zorvik URL is invalid."}),
    (ProxyFailure("proxy down"), 502, {"error": "Zorvik URL is invalid."}),
    (requests.exceptions.HTTPError("404: nope"), 409, {"error": "parsed: 404: nope"}),
    (ValueError("bad"), 500, {"error": "bad"}),
    (ValueError(), 500, {"error": ""}),
])
def test_sibling_failures_are_answered(Double, joined, raised, status, body):
    joined.raises = raised
    h = Double({"workspace_id": 3})
    assert h.post() is None
    assert (h.answer.status, h.answer.body) == (status, body)


def test_base_exception_leaves_unanswered(Double, joined):
    joined.raises = SystemExit(3)
    h = Double({"workspace_id": 3})
    with pytest.raises(SystemExit) as info:
        h.post()
    assert entries(info.value) == [(POST, line("post.set_joined"))]
    assert [c[0] for c in h.calls] == ["get_json_body"]


@pytest.mark.parametrize("returned, message", [
    ((1, 2, 3), "too many values to unpack (expected 2)"),
    ((1,), "need more than 1 value to unpack"),
    ((), "need more than 0 values to unpack"),
])
def test_bad_parse_results(wh, Double, joined, monkeypatch, returned, message):
    joined.raises = requests.exceptions.Timeout("slow")
    monkeypatch.setattr(wh, "parse_zorvik_exception", lambda error_str: returned)
    with pytest.raises(ValueError) as info:
        Double({"workspace_id": 1}).post()
    assert str(info.value) == message
    assert entries(info.value)[-1] == (POST, line("post.parse"))
    assert isinstance(info.value.__context__, requests.exceptions.Timeout)


def test_missing_requests_global_drops_the_sibling_error(wh, Double, joined, monkeypatch):
    joined.raises = ValueError("dropped")
    monkeypatch.delattr(wh, "requests")
    with pytest.raises(NameError, match="^name 'requests' is not defined$") as info:
        Double({"workspace_id": 1}).post()
    assert entries(info.value)[-1] == (POST, line("post.connection_clause"))


def test_failure_in_the_success_answer(Double, joined):
    h = Double({"workspace_id": 1})
    h.set_status = None
    with pytest.raises(TypeError) as info:
        h.post()
    writer = MODULE_NAME + ".ZRVZorvikWorkspaceHandler._finish_with_result"
    assert entries(info.value) == [(POST, line("post.answer")), (writer, line("_finish_with_result.status"))]


def test_exc_info_restored_around_post(Double, joined):
    joined.raises = ValueError("x")
    outer = KeyError("outer")
    try:
        raise outer
    except KeyError:
        Double({"workspace_id": 1}).post()
        Double({}).post()
        assert sys.exc_info()[1] is outer
    assert sys.exc_info() == (None, None, None)


def test_argument_errors(wh, Double):
    f = wh.ZRVZorvikWorkspaceHandler.post.__wrapped__
    h = Double({"workspace_id": 1})
    with pytest.raises(TypeError) as info:
        f(h, h)
    assert str(info.value) == "post() takes exactly 1 positional argument (2 given)"
    assert entries(info.value) == [(POST, line("post"))]
    assert h.calls == []


@pytest.mark.parametrize("body, raised", [
    ({"workspace_id": 1}, None),
    ({}, None),
    ({"workspace_id": 1}, requests.exceptions.ConnectionError("x")),
    ({"workspace_id": 1}, requests.exceptions.HTTPError("404: x")),
    ({"workspace_id": 1}, ValueError("x")),
    ({"workspace_id": "1"}, None),
    ([], None),
])
def test_no_leaks(Double, joined, body, raised):
    joined.raises = raised
    h = Double(body)

    def once():
        h.reset()
        joined.calls.clear()
        try:
            h.post()
        except TypeError:
            pass

    assert_no_leaks(once)
