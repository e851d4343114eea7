"""Calls: the fast protocol, the guarded call slot, the direct entry points
of built-ins and function objects, and method calls by name."""
import inspect
import sys
import types

import pytest

from helpers import assert_no_leaks, raises_with


def record(*args, **kwargs):
    return args, kwargs


BINDING_STATIC = 1
BINDING_NATIVE_METHOD = 4

INST = object()  # an instance handed to a method of a native class
F = object()  # stands for the function object in expected results


def make(testmod, kind, flags=0):
    """A function object of the echoing definition `kind` (see
    tests/native/testmod_function.cpp)."""
    return testmod.make_function(kind, "Q." + kind, flags=flags)


class NoFastEntry:
    """Instances are called through the type's call slot only."""

    def __call__(self, *args, **kwargs):
        return "slot", args, kwargs


class Target:
    def __init__(self, tag):
        self.tag = tag

    def keywords(self, *, name, value):
        return self.tag, name, value

    def positional(self, *args):
        return (self.tag,) + args


def test_vectorcall_fast_entry_and_call_slot(testmod):
    assert testmod.vectorcall(record, (1, 2, 3), ("k",)) == ((1, 2), {"k": 3})
    assert testmod.vectorcall(NoFastEntry(), (1, 2), ("k",)) == ("slot", (1,), {"k": 2})
    e = raises_with(lambda: testmod.vectorcall(5, (), None), TypeError)
    assert str(e) == "'int' object is not callable"


def test_call_object(testmod):
    assert testmod.call_object(record, (1,), {"k": 2}) == ((1,), {"k": 2})
    assert testmod.call_object(NoFastEntry(), ()) == ("slot", (), {})
    e = raises_with(lambda: testmod.call_object(5, ()), TypeError)
    assert str(e) == "'int' object is not callable"


def overflow(call, frames):
    """Runs `call()` below `frames` Python frames; the RecursionError or None."""
    def nested(n):
        return nested(n - 1) if n else call()

    try:
        nested(frames)
    except RecursionError as e:
        return e
    return None


def frames_to_overflow(call):
    """The fewest Python frames in front of `call()` (from here) that make it
    overflow, and the error raised then."""
    for n in range(sys.getrecursionlimit()):
        error = overflow(call, n)
        if error is not None:
            return n, error
    raise AssertionError("no overflow")


@pytest.fixture
def low_recursion_limit():
    saved = sys.getrecursionlimit()
    sys.setrecursionlimit(len(inspect.stack(0)) + 200)
    yield
    sys.setrecursionlimit(saved)


# From 3.12 the interpreter's guard for native calls counts native levels
# apart from Python frames (its own calls guard the same way), so there the
# guard adds no Python-frame level and the overflow is the frames' own.
GUARD_COUNTS_FRAMES = sys.version_info < (3, 12)


def test_recursion_guard(testmod, low_recursion_limit):
    # A function object's fast entry counts one level, as the interpreter's
    # built-in functions do; the call slot adds its own on top, and the
    # common call's direct entry point runs under a guard of its own instead.
    function = make(testmod, "o")
    fast_entry_frames = frames_to_overflow(lambda: testmod.vectorcall(function, (1,)))[0]
    for guarded, levels in [
        (lambda: testmod.call_object(function, (1,)), 2),
        (lambda: testmod.call_fast_dict(function, 1), 1),
    ]:
        frames, e = frames_to_overflow(guarded)
        if GUARD_COUNTS_FRAMES:
            assert frames == fast_entry_frames - (levels - 1)
            assert str(e) == "maximum recursion depth exceeded while calling a Python object"
        else:
            assert frames == fast_entry_frames


def test_call_fast_dict_paths(testmod):
    items = [1]
    assert testmod.call_fast_dict(record, k=1) == ((), {"k": 1})  # no values, a dict
    assert testmod.call_fast_dict(items.copy) == [1]  # METH_NOARGS, direct
    assert testmod.call_fast_dict(items.append, 2) is None  # METH_O, direct
    assert items == [1, 2]
    assert testmod.call_fast_dict(record, 1, 2) == ((1, 2), {})  # fast entry
    assert testmod.call_fast_dict(NoFastEntry()) == ("slot", (), {})  # call slot, empty tuple
    assert testmod.call_fast_dict(NoFastEntry(), 1, 2, k=3) == ("slot", (1, 2), {"k": 3})
    assert testmod.call_fast_dict(dict, [(1, 2)], k=3) == {1: 2, "k": 3}
    assert testmod.call_fast_dict(len, [1, 2, 3]) == 3
    e = raises_with(lambda: testmod.call_fast_dict(items.append, 1, 2), TypeError)
    assert "takes exactly one argument (2 given)" in str(e)


# (kind, binding flags, values, expected with F standing for the function or
# a TypeError's message). The direct entry hands the definition m_self, the
# function itself. A method of a native class
# ((flags & 5) == 4) takes its instance from the values, so only its own fast
# entry may be used: with a single value that value becomes the instance.
@pytest.mark.parametrize(
    "kind, flags, args, expected",
    [
        ("o", 0, ("x",), ("o", F, "x")),
        ("o", BINDING_STATIC, ("x",), ("o", F, "x")),
        ("o", BINDING_STATIC | BINDING_NATIVE_METHOD, ("x",), ("o", F, "x")),
        ("o", BINDING_NATIVE_METHOD, ("x",), "o() takes exactly one argument (0 given)"),
        ("o", BINDING_NATIVE_METHOD, (INST, "x"), ("o", INST, "x")),
        ("noargs", 0, (), ("noargs", F, None)),
        ("noargs", BINDING_NATIVE_METHOD, (), "noargs() needs an argument"),
        ("noargs", BINDING_NATIVE_METHOD, (INST,), ("noargs", INST, None)),
        ("o", 0, ("x", "y"), "o() takes exactly one argument (2 given)"),
    ],
)
def test_call_fast_dict_honours_binding_flags(
    testmod, low_recursion_limit, kind, flags, args, expected
):
    function = make(testmod, kind, flags)
    call = lambda: testmod.call_fast_dict(function, *args)
    if isinstance(expected, str):
        assert str(raises_with(call, TypeError)) == expected
        return
    assert call() == tuple(function if item is F else item for item in expected)
    # The direct entry under the common call's guard and the function's own fast
    # entry each count one level: whichever path is taken, the frames are
    # those of a fastcall definition reached by the same call.
    fastcall = make(testmod, "fastcall_keywords")
    fast_entry_frames = frames_to_overflow(lambda: testmod.call_fast_dict(fastcall, *args))[0]
    assert frames_to_overflow(call)[0] == fast_entry_frames


def test_direct_call_passes_our_functions_self_even_when_static(testmod):
    # A built-in's static definition gets null first; ours always gets m_self.
    function = make(testmod, "o_static")
    assert testmod.call_fast_dict(function, "x") == ("o", function, "x")


def test_call_method_keywords(testmod):
    assert testmod.call_method_keywords(Target("a"), "keywords", name=1, value=2) == ("a", 1, 2)
    # The bound method's own instance is used, not the object it was found on.
    obj = Target("a")
    obj.keywords = types.MethodType(Target.keywords, Target("b"))
    assert testmod.call_method_keywords(obj, "keywords", value=2, name=1) == ("b", 1, 2)
    d = {}
    testmod.call_method_keywords(d, "update", k=1)  # a built-in method, no bound method
    assert d == {"k": 1}
    e = raises_with(lambda: testmod.call_method_keywords(Target("a"), "keywords", name=1), TypeError)
    assert "value" in str(e)
    raises_with(lambda: testmod.call_method_keywords(Target("a"), "missing", name=1), AttributeError)


def test_call_method_by_name(testmod):
    assert testmod.call_method_by_name(Target("a"), "positional", 1, 2) == ("a", 1, 2)
    obj = Target("a")
    obj.positional = types.MethodType(Target.positional, Target("b"))
    assert testmod.call_method_by_name(obj, "positional") == ("b",)
    many = tuple(range(12))  # more values than the short cut's room
    assert testmod.call_method_by_name(Target("a"), "positional", *many) == ("a",) + many
    items = []
    testmod.call_method_by_name(items, "append", 7)
    assert items == [7]
    raises_with(lambda: testmod.call_method_by_name(Target("a"), "missing"), AttributeError)


def test_calls_do_not_leak(testmod):
    target = Target("a")
    bound_elsewhere = Target("c")
    bound_elsewhere.positional = types.MethodType(Target.positional, target)
    native_method = make(testmod, "o", BINDING_NATIVE_METHOD)
    plain = make(testmod, "o")
    static = make(testmod, "o_static", BINDING_STATIC)

    def calls():
        testmod.vectorcall(record, (1, [2]), ("k",))
        testmod.call_object(record, ([1],), {"k": [2]})
        testmod.call_fast_dict(NoFastEntry(), [1], k=[2])
        testmod.call_fast_dict(dict, [(1, 2)])
        testmod.call_method_keywords(target, "keywords", name=[1], value=[2])
        testmod.call_method_by_name(bound_elsewhere, "positional", [1])
        testmod.call_fast_dict(native_method, INST, [1])
        testmod.call_fast_dict(plain, [1])
        testmod.call_fast_dict(static, [1])
        raises_with(lambda: testmod.call_method_keywords(target, "keywords", name=[1]), TypeError)
        raises_with(lambda: testmod.call_method_by_name(target, "missing", [1]), AttributeError)
        raises_with(lambda: testmod.call_object(5, ([1],)), TypeError)

    assert_no_leaks(calls)
