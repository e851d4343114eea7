"""Calling function objects: the fast-call entry chosen by the call
convention, and the call slot with an argument tuple and a keyword dict."""
import sys

import pytest

from helpers import assert_no_leaks, raises_with

BINDING_STATIC = 1
BINDING_NATIVE_METHOD = 4


class Instance:
    pass


INST = Instance()


class Key(str):
    pass


def make(testmod, kind, flags=0, **kwargs):
    return testmod.make_function(kind, "Q." + kind, flags=flags, **kwargs)


# (kind, flags, call, expected result with F standing for the function)
F = object()
CALLS = [
    ("noargs", 0, lambda f: f(), ("noargs", F, None)),
    ("noargs", BINDING_NATIVE_METHOD, lambda f: f(INST), ("noargs", INST, None)),
    ("o", 0, lambda f: f(1), ("o", F, 1)),
    ("o", BINDING_NATIVE_METHOD, lambda f: f(INST, 1), ("o", INST, 1)),
    ("o_static", 0, lambda f: f(1), ("o", F, 1)),
    ("varargs_keywords", 0, lambda f: f(1, k=2), ("varargs", F, (1,), {"k": 2})),
    ("varargs_keywords", 0, lambda f: f(), ("varargs", F, (), None)),
    ("varargs_keywords", BINDING_NATIVE_METHOD, lambda f: f(INST, 1),
     ("varargs", INST, (1,), None)),
    # Static wins over the native-method flag: the instance stays an argument.
    ("varargs_keywords", BINDING_STATIC | BINDING_NATIVE_METHOD, lambda f: f(INST),
     ("varargs", F, (INST,), None)),
    ("fastcall_keywords", 0, lambda f: f(1, 2, b=3, a=4),
     ("fastcall", F, (1, 2), ("b", "a"), (3, 4))),
    ("fastcall_keywords", 0, lambda f: f(), ("fastcall", F, (), None, ())),
    ("fastcall_keywords", BINDING_NATIVE_METHOD, lambda f: f(INST, 1, a=2),
     ("fastcall", INST, (1,), ("a",), (2,))),
    ("fastcall_keywords", BINDING_STATIC | BINDING_NATIVE_METHOD, lambda f: f(INST),
     ("fastcall", F, (INST,), None, ())),
    ("fastcall_keywords_method", 0, lambda f: f(1, a=2),
     ("method", F, None, (1,), ("a",), (2,))),
    ("fastcall_keywords_method", BINDING_NATIVE_METHOD, lambda f: f(INST, a=2),
     ("method", INST, None, (), ("a",), (2,))),
]


def _expected(expected, f):
    return tuple(f if item is F else item for item in expected)


@pytest.mark.parametrize("kind,flags,call,expected", CALLS)
def test_dispatch_by_convention(testmod, kind, flags, call, expected):
    f = make(testmod, kind, flags)
    assert call(f) == _expected(expected, f)
    assert_no_leaks(lambda: call(f))


def test_defining_class_reaches_the_entry(testmod):
    f = make(testmod, "fastcall_keywords_method", defining_class=Instance)
    assert f(1) == ("method", f, Instance, (1,), None, ())


ERRORS = [
    ("noargs", 0, lambda f: f(1), "noargs() takes no arguments (1 given)"),
    ("noargs", 0, lambda f: f(a=1), "noargs() takes no keyword arguments"),
    ("noargs", 0, lambda f: f(1, a=1), "noargs() takes no keyword arguments"),
    ("noargs", BINDING_NATIVE_METHOD, lambda f: f(), "noargs() needs an argument"),
    # The instance check comes first.
    ("noargs", BINDING_NATIVE_METHOD, lambda f: f(a=1), "noargs() needs an argument"),
    ("noargs", BINDING_NATIVE_METHOD, lambda f: f(INST, 2), "noargs() takes no arguments (1 given)"),
    ("o", 0, lambda f: f(), "o() takes exactly one argument (0 given)"),
    ("o", 0, lambda f: f(1, 2), "o() takes exactly one argument (2 given)"),
    ("o", 0, lambda f: f(x=1), "o() takes no keyword arguments"),
    ("o", BINDING_NATIVE_METHOD, lambda f: f(INST), "o() takes exactly one argument (0 given)"),
    ("fastcall_keywords", BINDING_NATIVE_METHOD, lambda f: f(a=1),
     "fastcall_keywords() needs an argument"),
    ("fastcall_keywords_method", BINDING_NATIVE_METHOD, lambda f: f(),
     "fastcall_keywords_method() needs an argument"),
    # The call slot's own unbound-method check names the qualified name.
    ("varargs_keywords", BINDING_NATIVE_METHOD, lambda f: f(k=1),
     "unbound method Q.varargs_keywords() needs an argument"),
    # Through the call slot, keywords reach the fast entry's own checks.
    ("noargs", 0, lambda f: type(f).__call__(f, 1, a=2), "noargs() takes no keyword arguments"),
    ("o", 0, lambda f: f.__call__(1, a=2), "o() takes no keyword arguments"),
]


@pytest.mark.parametrize("kind,flags,call,message", ERRORS)
def test_call_errors(testmod, kind, flags, call, message):
    f = make(testmod, kind, flags)
    assert str(raises_with(lambda: call(f), TypeError)) == message
    assert_no_leaks(lambda: raises_with(lambda: call(f), TypeError))


@pytest.mark.parametrize("kind", ["varargs", "fastcall", "noargs_o"])
def test_bad_call_flags(testmod, kind):
    with pytest.raises(SystemError, match="^Bad call flags for CyFunction$"):
        make(testmod, kind)
    assert_no_leaks(lambda: raises_with(lambda: make(testmod, kind), SystemError))


# -- the call slot ---------------------------------------------------------

SLOT_CALLS = [
    ("fastcall_keywords", 0, (1,), {"b": 2, "a": 3}, ("fastcall", F, (1,), ("b", "a"), (2, 3))),
    ("fastcall_keywords", 0, (1,), {}, ("fastcall", F, (1,), None, ())),
    ("fastcall_keywords", BINDING_NATIVE_METHOD, (INST, 1), {"a": 2},
     ("fastcall", INST, (1,), ("a",), (2,))),
    ("fastcall_keywords_method", 0, (), {"a": 2}, ("method", F, None, (), ("a",), (2,))),
    ("noargs", 0, (), {}, ("noargs", F, None)),
    ("o", BINDING_NATIVE_METHOD, (INST, 5), {}, ("o", INST, 5)),
    ("fastcall_keywords", 0, (), {Key("k"): 1}, ("fastcall", F, (), ("k",), (1,))),
    ("varargs_keywords", 0, (1,), {"k": 2}, ("varargs", F, (1,), {"k": 2})),
    ("varargs_keywords", BINDING_NATIVE_METHOD, (INST, 1), {"k": 2},
     ("varargs", INST, (1,), {"k": 2})),
]


@pytest.mark.parametrize("kind,flags,args,kwargs,expected", SLOT_CALLS)
@pytest.mark.parametrize("via", ["type_call", "method_wrapper", "native"])
def test_call_slot(testmod, kind, flags, args, kwargs, expected, via):
    f = make(testmod, kind, flags)
    call = {
        "type_call": lambda: type(f).__call__(f, *args, **kwargs),
        "method_wrapper": lambda: f.__call__(*args, **kwargs),
        "native": lambda: testmod.call_slot(f, args, kwargs),
    }[via]
    assert call() == _expected(expected, f)
    assert_no_leaks(call)
    # The values the slot takes for the call are released again (counts,
    # not memory: the values here are shared constants).
    watched = [*args, *kwargs.values()]
    counts = [sys.getrefcount(v) for v in watched]
    for _ in range(20):
        call()
    assert [sys.getrefcount(v) for v in watched] == counts


@pytest.mark.parametrize("kwargs", [{1: "one"}, {"a": "one", 2: "two", "c": "three"}])
def test_call_slot_refuses_keys_that_are_not_str(testmod, kwargs):
    f = make(testmod, "fastcall_keywords")
    values = list(kwargs.values())
    counts = [sys.getrefcount(v) for v in values]
    with pytest.raises(TypeError, match="^keywords must be strings$"):
        testmod.call_slot(f, (1,), kwargs)
    # Every key and value taken for the call was released again.
    assert [sys.getrefcount(v) for v in values] == counts
    assert_no_leaks(lambda: raises_with(lambda: testmod.call_slot(f, (1,), kwargs), TypeError))
