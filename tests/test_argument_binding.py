"""Argument binding of the method wrappers, around stand-in bodies that hand
back what they were given."""
import sys

import pytest

from helpers import (MODULE_NAME, SOURCE_FILE, assert_no_leaks, last_entry, line,
                     raises_with)

CLASS = MODULE_NAME + ".ZRVZorvikWorkspaceHandler."
H, S, R = object(), object(), object()  # handler, status, result stand-ins


class Key(str):
    """A str-subclass keyword, compared with ==."""


class HashedKey(str):
    """A str subclass with its own hash: lands beside the equal str in a dict."""

    def __hash__(self):
        return 1


class RaisingKey(str):
    def __eq__(self, other):
        raise LookupError("no comparison")

    __hash__ = str.__hash__


def count_message(name, expected, given):
    plural = "" if expected == 1 else "s"
    return f"{name}() takes exactly {expected} positional argument{plural} ({given} given)"


def multiple(name, key):
    return f"{name}() got multiple values for keyword argument '{key}'"


def unexpected(name, key):
    return f"{name}() got an unexpected keyword argument '{key}'"


# (method, signature name, def line)
METHODS = {
    "finish": ("bind_finish_with_result", "_finish_with_result", line("_finish_with_result")),
    "get": ("bind_get", "get", line("get")),
    "post": ("bind_post", "post", line("post")),
}

BOUND = [
    ("finish", (H, S, R), {}, (H, S, R)),
    ("finish", (H,), {"result": R, "status_code": S}, (H, S, R)),
    ("finish", (), {"self": H, "status_code": S, "result": R}, (H, S, R)),
    ("finish", (H, S), {"result": R}, (H, S, R)),
    ("finish", (H,), {"status" + "_code": S, "res" + "ult": R}, (H, S, R)),  # not interned
    ("finish", (H,), {Key("status_code"): S, Key("result"): R}, (H, S, R)),
    ("get", (H,), {}, (H,)),
    ("get", (), {"self": H}, (H,)),
    ("get", (), {"se" + "lf": H}, (H,)),
    ("post", (), {Key("self"): H}, (H,)),
]


@pytest.mark.parametrize("method, args, kwargs, expected", BOUND)
def test_arguments_are_bound(testmod, method, args, kwargs, expected):
    wrapper = getattr(testmod, METHODS[method][0])
    assert wrapper(*args, **kwargs) == expected


FAILING = [
    ("get", (), {}, count_message("get", 1, 0)),
    ("get", (H, H), {}, count_message("get", 1, 2)),
    ("post", (H, H), {}, count_message("post", 1, 2)),
    ("post", (), {"x": 1}, unexpected("post", "x")),  # keywords are matched before the count
    ("get", (H,), {"self": H}, multiple("get", "self")),
    ("get", (H,), {"x": 1}, unexpected("get", "x")),
    ("get", (H,), {"sélf": 1}, unexpected("get", "sélf")),
    ("finish", (H, S), {}, count_message("_finish_with_result", 3, 2)),
    ("finish", (H,), {"result": R}, count_message("_finish_with_result", 3, 1)),
    ("finish", (H,), {"status_code": S}, count_message("_finish_with_result", 3, 2)),
    ("finish", (H, S, R, 5), {}, count_message("_finish_with_result", 3, 4)),
    ("finish", (H, S, R, 5), {"x": 1}, count_message("_finish_with_result", 3, 4)),
    ("finish", (H, S), {"status_code": S}, multiple("_finish_with_result", "status_code")),
    ("finish", (H,), {Key("self"): H}, multiple("_finish_with_result", "self")),
    ("finish", (H,), {Key("other"): 1}, unexpected("_finish_with_result", "other")),
    ("finish", (H,), {"status_code": S, HashedKey("status_code"): S},
     multiple("_finish_with_result", "status_code")),
]


@pytest.mark.parametrize("method, args, kwargs, message", FAILING)
def test_binding_errors(testmod, method, args, kwargs, message):
    wrapper_name, _, def_line = METHODS[method]
    wrapper = getattr(testmod, wrapper_name)
    calls = testmod.standin_body_calls()
    e = raises_with(lambda: wrapper(*args, **kwargs), TypeError)
    assert str(e) == message
    assert testmod.standin_body_calls() == calls  # the body never ran
    entry = last_entry(e)
    assert entry.tb_lineno == def_line
    assert entry.tb_frame.f_code.co_name == CLASS + METHODS[method][1]
    assert entry.tb_frame.f_code.co_filename == SOURCE_FILE
    assert entry.tb_frame.f_back is None or entry.tb_frame.f_back.f_code.co_name != CLASS


# From 3.9 a call with ** refuses keys that are not str itself, before the
# callee runs.
INTERPRETER_REFUSES_KEYS = sys.version_info >= (3, 9)


def test_keys_that_are_not_str(testmod):
    calls = testmod.standin_body_calls()
    e = raises_with(lambda: testmod.bind_get(H, **{1: 2}), TypeError)
    if INTERPRETER_REFUSES_KEYS:
        assert str(e) == "keywords must be strings"
    else:
        assert str(e) == "get() keywords must be strings"
        assert last_entry(e).tb_lineno == METHODS["get"][2]
    assert testmod.standin_body_calls() == calls


def test_exactly_one_entry_per_failure_and_code_reused_per_line(testmod):
    first = raises_with(lambda: testmod.bind_finish_with_result(H), TypeError)
    second = raises_with(lambda: testmod.bind_finish_with_result(H, x=1), TypeError)
    for e in (first, second):
        tb, entries = e.__traceback__, []
        while tb is not None:
            entries.append(tb.tb_frame.f_code.co_name)
            tb = tb.tb_next
        assert entries.count(CLASS + "_finish_with_result") == 1
    assert last_entry(first).tb_frame.f_code is last_entry(second).tb_frame.f_code


def test_comparison_error_of_a_str_subclass_key_passes_on(testmod):
    e = raises_with(lambda: testmod.bind_get(H, **{RaisingKey("x"): 1}), LookupError)
    assert str(e) == "no comparison"
    tb, lines = e.__traceback__, []
    while tb is not None:
        if tb.tb_frame.f_code.co_name == CLASS + "get":
            lines.append(tb.tb_lineno)
        tb = tb.tb_next
    assert lines == [line("get")]


@pytest.mark.parametrize(
    "values, names, message",
    [
        ((H, S, R), ("status_code", "status_code"), multiple("_finish_with_result", "status_code")),
        ((H, S, R), ("result", "result"), multiple("_finish_with_result", "result")),
        ((H, S), (b"status_code",), "_finish_with_result() keywords must be strings"),
        ((H, S), (), count_message("_finish_with_result", 3, 2)),  # an empty names tuple
    ],
)
def test_names_tuples_only_native_callers_pass(testmod, values, names, message):
    # The fast call hands the names tuple to the wrapper as it is.
    e = raises_with(lambda: testmod.vectorcall(testmod.bind_finish_with_result, values, names),
                    TypeError)
    assert str(e) == message
    assert last_entry(e).tb_lineno == line("_finish_with_result")


def test_binding_does_not_leak(testmod):
    big = [0] * 10

    def calls():
        testmod.bind_finish_with_result(big, status_code=big, result=big)
        for args, kwargs in [((big, big), {}), ((big,), {"result": big}),
                             ((big,), {"status_code": big, HashedKey("status_code"): big}),
                             ((big, big, big, big), {}), ((big,), {"result": big, "x": big}),
                             ((big,), {Key("self"): big}), ((big,), {1: big})]:
            raises_with(lambda: testmod.bind_finish_with_result(*args, **kwargs), TypeError)
        raises_with(lambda: testmod.vectorcall(testmod.bind_finish_with_result, (big, big, big),
                                                ("result", "result")), TypeError)

    assert_no_leaks(calls)
