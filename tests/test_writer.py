"""The result writer `_finish_with_result`."""
import json
import traceback
import types
from http import HTTPStatus

import pytest

from handler_double import make_double_class
from helpers import MODULE_NAME, SOURCE_FILE, assert_no_leaks, line

WRITER = MODULE_NAME + ".ZRVZorvikWorkspaceHandler._finish_with_result"


@pytest.fixture
def Double(wh):
    return make_double_class(wh.ZRVZorvikWorkspaceHandler)


def last_entry(exc):
    """The innermost traceback entry of the module's own."""
    ours = [f for f in traceback.extract_tb(exc.__traceback__) if f.filename == SOURCE_FILE]
    return ours[-1].name, ours[-1].lineno


def test_four_calls_in_order_with_their_keyword_names(Double):
    h = Double()
    assert h._finish_with_result(status_code=HTTPStatus.OK, result=[]) is None
    assert h.calls == [
        ("set_header", (), {"name": "Content-Type", "value": "application/json"}),
        ("set_header", (), {"name": "Content-Length", "value": "2"}),
        ("set_status", (), {"status_code": 200}),
        ("finish", ("[]",), {}),
    ]
    assert h.keyword_order == [
        ("set_header", ["name", "value"]),
        ("set_header", ["name", "value"]),
        ("set_status", ["status_code"]),
        ("finish", []),
    ]
    assert type(h.calls[2][2]["status_code"]) is int


@pytest.mark.parametrize("result, length", [
    ([], "2"),
    ({"error": "Zorvik URL is invalid."}, "35"),
    ({"success": True}, "17"),
    ({"error": "\u00e9"}, "19"),
    ({"message": "workspace_id is required in the body of the request."}, "67"),
    ([{"id": n, "name": "w" * n} for n in range(40)], None),
])
def test_length_header_is_the_body_length_as_text(Double, result, length):
    h = Double()
    h._finish_with_result(status_code=200, result=result)
    body = h.calls[3][1][0]
    header = h.answer.headers["Content-Length"]
    assert type(header) is str
    assert header == str(len(body.encode("utf-8")))
    if length is not None:
        assert header == length
    assert body == json.dumps(result)


@pytest.mark.parametrize("status, expected", [
    (HTTPStatus.BAD_GATEWAY, 502), (404, 404), ("404", 404), (404.9, 404), (True, 1),
])
def test_status_is_passed_as_a_plain_int(Double, status, expected):
    h = Double()
    h._finish_with_result(status_code=status, result={})
    assert h.answer.status == expected and type(h.answer.status) is int


def test_keywords_in_any_order_equal_positional(Double):
    by_keyword, by_position = Double(), Double()
    by_keyword._finish_with_result(result={"a": 1}, status_code=201)
    by_position._finish_with_result(201, {"a": 1})
    assert by_keyword.calls == by_position.calls


class TestFailures:
    def test_status_none_fails_after_both_headers(self, Double):
        h = Double()
        with pytest.raises(TypeError) as info:
            h._finish_with_result(status_code=None, result=[])
        assert [c[0] for c in h.calls] == ["set_header", "set_header"]
        assert last_entry(info.value) == (WRITER, line("_finish_with_result.status"))

    def test_unserialisable_result_fails_after_the_type_header(self, Double):
        h = Double()
        with pytest.raises(TypeError) as info:
            h._finish_with_result(status_code=200, result={1, 2})
        assert [c[2]["name"] for c in h.calls] == ["Content-Type"]
        assert last_entry(info.value) == (WRITER, line("_finish_with_result.content_length"))

    def test_failing_set_header(self, Double):
        h = Double()

        def broken(**kwargs):
            raise RuntimeError("header refused")

        h.set_header = broken  # found on the instance at the moment of the call
        with pytest.raises(RuntimeError, match="header refused") as info:
            h._finish_with_result(status_code=200, result=[])
        assert last_entry(info.value) == (WRITER, line("_finish_with_result.content_type"))

    def test_failing_finish(self, Double):
        h = Double()
        h.finish = None
        with pytest.raises(TypeError) as info:
            h._finish_with_result(status_code=200, result=[])
        assert [c[0] for c in h.calls] == ["set_header", "set_header", "set_status"]
        assert last_entry(info.value) == (WRITER, line("_finish_with_result.finish"))

    @pytest.mark.parametrize("call, count", [
        (lambda f, h: f(h, 200), 2),
        (lambda f, h: f(h, result={}), 1),
        (lambda f, h: f(h, status_code=200), 2),
        (lambda f, h: f(h, 200, {}, 5), 4),
        (lambda f, h: f(h, 200, {}, 5, x=1), 4),
    ])
    def test_positional_count_messages(self, wh, Double, call, count):
        h = Double()
        f = wh.ZRVZorvikWorkspaceHandler._finish_with_result
        with pytest.raises(TypeError) as info:
            call(f, h)
        assert str(info.value) == (
            f"_finish_with_result() takes exactly 3 positional arguments ({count} given)")
        assert last_entry(info.value) == (WRITER, line("_finish_with_result"))
        assert h.calls == []


class TestGlobalJson:
    def test_missing_json_global(self, wh, Double, monkeypatch):
        monkeypatch.delattr(wh, "json")
        h = Double()
        with pytest.raises(NameError, match="^name 'json' is not defined$") as info:
            h._finish_with_result(status_code=200, result=[])
        assert last_entry(info.value) == (WRITER, line("_finish_with_result.content_length"))

    def test_json_is_looked_up_at_each_use(self, wh, Double, monkeypatch):
        texts = iter(["[1, 2, 3]", "[]"])
        monkeypatch.setattr(wh, "json", types.SimpleNamespace(dumps=lambda result: next(texts)))
        h = Double()
        h._finish_with_result(status_code=200, result=[])
        assert h.answer.headers["Content-Length"] == "9"
        assert h.calls[3] == ("finish", ("[]",), {})


def test_repeated_answers_leak_nothing(Double):
    h = Double()

    def answer():
        h.reset()
        h._finish_with_result(status_code=HTTPStatus.OK, result=[{"id": 1, "name": "x"}])

    def failing():
        h.reset()
        try:
            h._finish_with_result(status_code=None, result=[])
        except TypeError:
            pass

    answer()
    assert_no_leaks(answer)
    assert_no_leaks(failing)
