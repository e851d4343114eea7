"""GET: listing the joined workspaces."""
import sys
import traceback

import pytest
import requests

from handler_double import make_double_class
from helpers import MODULE_NAME, SOURCE_FILE, assert_no_leaks, line, run_scenario, sanitizer_loaded

GET = MODULE_NAME + ".ZRVZorvikWorkspaceHandler.get"


class Workspace:
    def __init__(self, n):
        self.n = n

    def to_dict(self):
        return {"id": self.n, "name": f"w{self.n}"}


class MyList(list):
    pass


class MyConnectionError(requests.exceptions.ConnectionError):
    pass


@pytest.fixture
def Double(wh):
    return make_double_class(wh.ZRVZorvikWorkspaceHandler)


@pytest.fixture
def fetch(wh, monkeypatch):
    """Sets what the module global get_joined_workspaces does."""
    def install(result=None, raises=None):
        def get_joined_workspaces():
            if raises is not None:
                # a fresh instance each time: a re-raised one keeps growing its traceback
                raise type(raises)(*raises.args)
            return result
        monkeypatch.setattr(wh, "get_joined_workspaces", get_joined_workspaces)
    return install


@pytest.fixture
def parse_calls(wh, monkeypatch):
    calls = []

    def parse_zorvik_exception(*args, **kwargs):
        calls.append((args, kwargs))
        return 404, "no such thing"

    monkeypatch.setattr(wh, "parse_zorvik_exception", parse_zorvik_exception)
    return calls


def entries(exc):
    return [(f.name, f.lineno) for f in traceback.extract_tb(exc.__traceback__)
            if f.filename == SOURCE_FILE]


@pytest.mark.parametrize("outcome, status, body", [
    (dict(result=[]), 200, []),
    (dict(result=[Workspace(1), Workspace(2)]), 200, [{"id": 1, "name": "w1"}, {"id": 2, "name": "w2"}]),
    (dict(result=(Workspace(1),)), 500, {"error": "Expected list, got tuple"}),
    (dict(result=MyList()), 500, {"error": "Expected list, got MyList"}),
    (dict(raises=requests.exceptions.ConnectionError("refused")), 502, {"error": "Zorvik URL is invalid."}),
    (dict(raises=MyConnectionError("refused")), 502, {"error": "Zorvik URL is invalid."}),
    (dict(raises=requests.exceptions.HTTPError("404: gone")), 404, {"error": "no such thing"}),
    (dict(raises=ValueError("bad value")), 500, {"error": "bad value"}),
    (dict(raises=ValueError()), 500, {"error": ""}),
])
def test_outcomes(Double, fetch, parse_calls, outcome, status, body):
    fetch(**outcome)
    h = Double()
    assert h.get() is None
    assert h.answer.status == status and h.answer.body == body
    assert [c[0] for c in h.calls] == ["set_header", "set_header", "set_status", "finish"]
    if status == 404:
        assert parse_calls == [((), {"error_str": "404: gone"})]
    else:
        assert parse_calls == []


def test_none_from_the_fetch_raises(Double, fetch):
    fetch(result=None)
    with pytest.raises(TypeError, match="^'NoneType' object is not iterable$") as info:
        Double().get()
    assert entries(info.value)[-1] == (GET, line("get.workspaces"))


def test_base_exception_leaves_unanswered(Double, fetch):
    fetch(raises=KeyboardInterrupt())
    h = Double()
    with pytest.raises(KeyboardInterrupt) as info:
        h.get()
    assert entries(info.value) == [(GET, line("get.fetch"))]
    assert h.calls == []


class TestRequestFailure:
    @pytest.mark.parametrize("returned, message", [
        ((1, 2, 3), "too many values to unpack (expected 2)"),
        ((1,), "need more than 1 value to unpack"),
        ([], "need more than 0 values to unpack"),
        (iter([1]), "need more than 1 value to unpack"),
        (iter([1, 2, 3]), "too many values to unpack (expected 2)"),
    ])
    def test_bad_parse_results(self, wh, Double, fetch, monkeypatch, returned, message):
        fetch(raises=requests.exceptions.Timeout("slow"))
        monkeypatch.setattr(wh, "parse_zorvik_exception", lambda error_str: returned)
        h = Double()
        with pytest.raises(ValueError) as info:
            h.get()
        assert str(info.value) == message
        assert isinstance(info.value.__context__, requests.exceptions.Timeout)
        assert entries(info.value)[-1] == (GET, line("get.parse"))
        assert h.calls == []

    @pytest.mark.parametrize("returned", [[418, "teapot"], iter([418, "teapot"]), (418, "teapot")])
    def test_any_two_item_result(self, wh, Double, fetch, monkeypatch, returned):
        fetch(raises=requests.exceptions.Timeout("slow"))
        monkeypatch.setattr(wh, "parse_zorvik_exception", lambda error_str: returned)
        h = Double()
        h.get()
        assert (h.answer.status, h.answer.body) == (418, {"error": "teapot"})

    def test_status_that_int_refuses_fails_in_the_writer(self, wh, Double, fetch, monkeypatch):
        fetch(raises=requests.exceptions.Timeout("slow"))
        monkeypatch.setattr(wh, "parse_zorvik_exception", lambda error_str: "xy")
        h = Double()
        with pytest.raises(ValueError) as info:
            h.get()
        writer = MODULE_NAME + ".ZRVZorvikWorkspaceHandler._finish_with_result"
        assert entries(info.value) == [(GET, line("get.request_answer")), (writer, line("_finish_with_result.status"))]
        assert [c[0] for c in h.calls] == ["set_header", "set_header"]

    def test_iterator_error_passes_through(self, wh, Double, fetch, monkeypatch):
        def items():
            yield 1
            raise LookupError("broken iterator")

        fetch(raises=requests.exceptions.Timeout("slow"))
        monkeypatch.setattr(wh, "parse_zorvik_exception", lambda error_str: items())
        with pytest.raises(LookupError, match="broken iterator"):
            Double().get()

    def test_exception_text_through_str(self, Double, fetch, parse_calls):
        class Odd(requests.exceptions.RequestException):
            def __str__(self):
                return "odd text"

        fetch(raises=Odd())
        Double().get()
        assert parse_calls == [((), {"error_str": "odd text"})]


class TestClauseEvaluation:
    def test_missing_requests_global(self, wh, Double, fetch, monkeypatch):
        fetch(raises=ValueError("original"))
        monkeypatch.delattr(wh, "requests")
        with pytest.raises(NameError, match="^name 'requests' is not defined$") as info:
            Double().get()
        assert entries(info.value)[-1] == (GET, line("get.connection_clause"))

    def test_clause_classes_are_read_at_each_request(self, wh, Double, fetch, monkeypatch):
        class Fake:
            class exceptions:
                ConnectionError = KeyError
                RequestException = OSError

        monkeypatch.setattr(wh, "requests", Fake)
        fetch(raises=KeyError("k"))
        h = Double()
        h.get()
        assert h.answer.status == 502

    def test_missing_parse_global(self, wh, Double, fetch, monkeypatch):
        fetch(raises=requests.exceptions.HTTPError("500: x"))
        monkeypatch.delattr(wh, "parse_zorvik_exception")
        with pytest.raises(NameError, match="parse_zorvik_exception") as info:
            Double().get()
        assert entries(info.value)[-1] == (GET, line("get.parse"))


class TestConversion:
    def test_workspace_without_to_dict(self, Double, fetch):
        fetch(result=[object()])
        h = Double()
        with pytest.raises(AttributeError) as info:
            h.get()
        assert entries(info.value)[-1] == (GET, line("get.workspaces"))
        assert h.calls == []

    def test_list_growing_and_shrinking_during_the_walk(self, Double, fetch):
        joined = []

        class Growing:
            def to_dict(self):
                if len(joined) < 4:
                    joined.append(Growing())
                return len(joined)

        class Shrinking:
            def to_dict(self):
                joined.clear()
                return "gone"

        joined.append(Growing())
        fetch(result=joined)
        h = Double()
        h.get()
        assert h.answer.body == [2, 3, 4, 4]

        joined[:] = [Shrinking(), Workspace(1), Workspace(2)]
        h = Double()
        h.get()
        assert h.answer.body == ["gone"]

    def test_to_dict_results_are_unchecked(self, Double, fetch):
        class Plain:
            def to_dict(self):
                return "text"

        fetch(result=[Plain()])
        h = Double()
        h.get()
        assert h.answer.body == ["text"]


@pytest.mark.parametrize("raised", [ValueError("inner"), KeyboardInterrupt(), None])
def test_handled_exception_is_restored(Double, fetch, raised):
    fetch(result=[], raises=raised)
    h = Double()
    seen = []
    original_finish = h.finish

    def finish(text):
        seen.append(sys.exc_info()[1])
        return original_finish(text)

    h.finish = finish
    outer = KeyError("outer")
    try:
        raise outer
    except KeyError:
        try:
            h.get()
        except KeyboardInterrupt:
            pass
        assert sys.exc_info()[1] is outer
    assert sys.exc_info() == (None, None, None)
    if isinstance(raised, ValueError):
        # the answer is written inside the except clause
        assert [(type(e), e.args) for e in seen] == [(ValueError, ("inner",))]
    elif raised is None:
        assert seen == [outer]


def test_argument_errors(wh, Double):
    f = wh.ZRVZorvikWorkspaceHandler.get.__wrapped__
    h = Double()
    for call, count in [(lambda: f(), 0), (lambda: f(h, 1), 2)]:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == f"get() takes exactly 1 positional argument ({count} given)"
        assert entries(info.value) == [(GET, line("get"))]
    with pytest.raises(TypeError, match=r"^get\(\) got multiple values for keyword argument 'self'$"):
        f(h, self=h)
    with pytest.raises(TypeError, match=r"^get\(\) got an unexpected keyword argument 'x'$"):
        f(h, x=1)
    f(self=h)
    assert h.answer.status == 200
    assert len(h.calls) == 4


def test_rebound_global_is_used_by_the_next_call(wh, Double, fetch):
    fetch(result=[])
    h = Double()
    h.get()
    fetch(result=[Workspace(7)])
    h2 = Double()
    h2.get()
    assert h2.answer.body == [{"id": 7, "name": "w7"}]


def answer_after(h, change):
    """Makes `change`, then the next request on `h`; its answer."""
    change()
    h.reset()
    h.get()
    return h.answer


def test_a_changed_to_dict_is_called_at_the_next_request(Double, fetch):
    # The look-up of to_dict is remembered per type for objects without
    # attributes of their own; any change of the type or a base shows at once.
    class Base:
        __slots__ = ()

        def to_dict(self):
            return {"from": "base"}

    class Slotted(Base):
        __slots__ = ("n",)

        def __init__(self, n):
            self.n = n

    class Other:
        __slots__ = ()

        def to_dict(self):
            return {"from": "other"}

    fetch(result=[Slotted(1), Slotted(2)])
    h = Double()

    def body_after(change):
        return answer_after(h, change).body

    assert body_after(lambda: None) == [{"from": "base"}] * 2
    assert body_after(lambda: setattr(Base, "to_dict", lambda self: {"base": "changed"})) == [{"base": "changed"}] * 2
    assert body_after(lambda: setattr(Slotted, "to_dict", lambda self: {"n": self.n})) == [{"n": 1}, {"n": 2}]
    assert_no_leaks(lambda: body_after(lambda: None))
    # other types between them, and an object with an attribute of its own
    own = Workspace(3)
    fetch(result=[Slotted(1), Other(), own, Slotted(2)])
    assert body_after(lambda: setattr(own, "to_dict", lambda: {"own": True})) == [
        {"n": 1}, {"from": "other"}, {"own": True}, {"n": 2}]
    fetch(result=[Slotted(1)])
    delattr(Slotted, "to_dict")
    delattr(Base, "to_dict")
    h.reset()
    with pytest.raises(AttributeError, match="to_dict"):
        h.get()


class PlainMeta(type):
    pass


class MetaWithGetattr(type):
    # As the enum classes' metaclass up to 3.11: asked for missing names only.
    def __getattr__(cls, name):
        raise AttributeError(name)


@pytest.mark.parametrize("Meta", [PlainMeta, MetaWithGetattr])
def test_a_changed_status_class_is_seen_at_the_next_answer(wh, Double, fetch, monkeypatch, Meta):
    # A member read of the status class is remembered per class and
    # metaclass; a change of either shows at once.
    Meta = type("Meta", (Meta,), {})

    Status = Meta("Status", (), {"OK": 201})
    monkeypatch.setattr(wh, "HTTPStatus", Status)
    fetch(result=[])
    h = Double()

    def status_after(change):
        return answer_after(h, change).status

    assert status_after(lambda: None) == 201
    assert status_after(lambda: setattr(Status, "OK", 202)) == 202
    # a data descriptor of the metaclass comes first, a plain value after the class's own
    assert status_after(lambda: setattr(Meta, "OK", property(lambda cls: 203))) == 203
    assert status_after(lambda: setattr(Meta, "OK", 204)) == 202
    assert status_after(lambda: delattr(Status, "OK")) == 204
    assert_no_leaks(lambda: status_after(lambda: None))
    # back to a remembered member, then a metaclass that reads attributes its own way
    delattr(Meta, "OK")
    assert status_after(lambda: setattr(Status, "OK", 206)) == 206
    assert status_after(lambda: None) == 206
    reads = []

    def getattribute(cls, name):
        # the member as type reads it the first time, another value after
        reads.append(name)
        return type.__getattribute__(cls, name) if len(reads) == 1 else 205

    assert status_after(lambda: setattr(Meta, "__getattribute__", getattribute)) == 206
    assert status_after(lambda: None) == 205


@pytest.mark.parametrize("outcome", [
    dict(result=[Workspace(1), Workspace(2)]),
    dict(result=(1,)),
    dict(raises=requests.exceptions.ConnectionError("x")),
    dict(raises=requests.exceptions.HTTPError("404: x")),
    dict(raises=ValueError("x")),
    dict(result=None),
    dict(raises=KeyboardInterrupt()),
])
def test_no_leaks(Double, fetch, parse_calls, outcome):
    fetch(**outcome)
    h = Double()

    def once():
        h.reset()
        parse_calls.clear()
        try:
            h.get()
        except (TypeError, KeyboardInterrupt):
            pass

    assert_no_leaks(once)


# What the RecursionError says: from 3.14 the interpreter guards the C stack
# itself, and native recursion meets that guard before the depth count.
RECURSION_TEXT = ("Stack overflow (used " if sys.version_info >= (3, 14)
                  else "maximum recursion depth exceeded")


@pytest.mark.parametrize("bind", ["types.MethodType(get, h)", "functools.partial(get, h)"])
def test_sibling_calling_back_into_get_ends_in_recursion_error(bind):
    # The recursion runs through native code only; without the interpreter's
    # depth count it overflows the C stack and kills the process. It runs on
    # the main thread's stack, as a server's requests do, but for the
    # sanitizer's frames, several times the size of the real ones.
    run_scenario(f"""
import functools, threading, types
import {MODULE_NAME} as wh
from handler_double import make_double_class
h = make_double_class(wh.ZRVZorvikWorkspaceHandler)()
get = wh.ZRVZorvikWorkspaceHandler.get.__wrapped__
wh.get_joined_workspaces = {bind}
def recurse():
    try:
        get(h)
    except Exception:
        pass  # what the outermost call ends with depends on where the limit struck
if {sanitizer_loaded()}:
    threading.stack_size(512 * 1024 * 1024)
    worker = threading.Thread(target=recurse)
    worker.start()
    worker.join()
else:
    recurse()
bodies = [args[0] for name, args, _ in h.calls if name == "finish"]
assert any({RECURSION_TEXT!r} in body for body in bodies), bodies[:3]
""")
