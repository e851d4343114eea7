"""The function object type: identity, attributes, binding, pickling and
garbage collection. Calls are in test_function_calls.py."""
import functools
import gc
import inspect
import pickle
import sys
import warnings
import weakref

import pytest

from helpers import MODULE_NAME, REGISTRY, assert_no_leaks, assert_registry_refuses, run_scenario
BINDING_NATIVE_METHOD = 4
BINDING_COROUTINE = 8
DEFAULTS_WARNING = ("changes to cyfunction.__defaults__ will not currently affect the values "
                    "used in function calls")
KWDEFAULTS_WARNING = ("changes to cyfunction.__kwdefaults__ will not currently affect the values "
                      "used in function calls")


@pytest.fixture
def fn(testmod):
    return testmod.make_function("fastcall_keywords", "Holder.fn", module="_wsh_testmod")


# -- type identity and metaclass refusals ------------------------------------

def test_type_is_the_registered_one(wh, testmod, fn):
    registry = sys.modules[REGISTRY]
    t = registry.cython_function_or_method
    assert type(fn) is t and testmod.function_type() is t
    assert type(t) is registry._common_types_metatype
    assert (t.__name__, t.__module__) == ("cython_function_or_method", REGISTRY)
    assert t.__basicsize__ == testmod.function_record_size() == 176
    heap, basetype, vectorcall, gc_flag, method_descriptor = 1 << 9, 1 << 10, 1 << 11, 1 << 14, 1 << 17
    for flag in (heap, basetype, vectorcall, gc_flag, method_descriptor, 0x180):
        assert t.__flags__ & flag == flag


@pytest.mark.parametrize("make", [
    lambda t: t(),
    lambda t: t.__new__(t),
    lambda t: type("Derived", (t,), {}),
], ids=["call", "new", "derive"])
def test_type_cannot_be_instantiated(fn, make):
    with pytest.raises(TypeError, match="^Cannot instantiate Cython internal types$"):
        make(type(fn))


def test_object_new_cannot_build_a_bare_record(testmod, fn):
    t = type(fn)
    with pytest.raises(TypeError, match=r"^object.__new__\(.*cython_function_or_method\) is not safe"):
        object.__new__(t)
    with pytest.raises(TypeError, match="^Cannot instantiate Cython internal types$"):
        testmod.new_instance(t)  # the construction slot itself
    with pytest.raises(TypeError, match="^Cython internal types are immutable$"):
        t.__repr__ = None


@pytest.mark.parametrize("first,second", [(MODULE_NAME, "_wsh_testmod"), ("_wsh_testmod", MODULE_NAME)])
def test_modules_share_one_function_type(first, second):
    run_scenario(f"""
        import importlib, sys
        importlib.import_module("{first}")
        registry = sys.modules["{REGISTRY}"]
        t, meta = registry.cython_function_or_method, registry._common_types_metatype
        importlib.import_module("{second}")
        assert registry.cython_function_or_method is t
        assert registry._common_types_metatype is meta
        import _wsh_testmod
        assert type(_wsh_testmod.make_function("o", "x")) is t
    """)


def test_function_entry_that_is_not_a_type():
    assert_registry_refuses("registry.cython_function_or_method = 5",
                            "Shared Cython type cython_function_or_method is not a type object")


@pytest.mark.parametrize("entry_setup", [
    # Same size as the record, but a plain class.
    "Impostor = type('Impostor', (), {'__slots__': SLOTS})\n"
    "assert Impostor.__basicsize__ == 176\n"
    "registry.cython_function_or_method = Impostor",
    # Same size and the registered metaclass, but none of the record's layout.
    "registry._common_types_metatype = Meta\n"
    "registry.cython_function_or_method = Meta('Impostor', (), {'__slots__': SLOTS})",
    "registry._common_types_metatype = Meta\n"
    "registry.cython_function_or_method = Meta('Impostor', (), {})",
], ids=["plain-class-same-size", "same-metaclass-same-size", "same-metaclass-other-size"])
def test_function_entry_with_another_layout(entry_setup):
    slots = "SLOTS = tuple('s%d' % i for i in range(20))\n"
    assert_registry_refuses(slots + entry_setup,
                            "Shared Cython type cython_function_or_method has the wrong size, try recompiling")


# -- attributes ---------------------------------------------------------------

def test_attributes_of_a_new_function(testmod, fn):
    assert fn.__name__ == fn.func_name == "fastcall_keywords"
    assert fn.__qualname__ == "Holder.fn"
    assert fn.__module__ == "_wsh_testmod"
    assert fn.__globals__ is fn.func_globals is vars(testmod)
    assert fn.__closure__ is None and fn.func_closure is None
    assert fn.__code__ is None and fn.func_code is None
    assert fn.__defaults__ is None and fn.func_defaults is None and fn.__kwdefaults__ is None
    assert fn.__doc__ is None
    assert fn._is_coroutine is False
    assert fn.__annotations__ == {} and fn.__annotations__ is fn.__annotations__
    assert testmod.make_function("o", "m").__module__ is None
    code = testmod.code_objects()[1]
    assert testmod.make_function("o", "c", code=code).__code__ is code


def test_doc(testmod, fn):
    g = testmod.make_function("noargs", "g")
    assert g.__doc__ == g.func_doc == "Echoes a call without arguments."
    assert g.__doc__ is g.__doc__  # made once
    fn.__doc__ = 5
    assert fn.func_doc == 5
    del fn.func_doc
    assert fn.__doc__ is None


class Text(str):
    pass


@pytest.mark.parametrize("attr,message", [
    ("__name__", "__name__ must be set to a string object"),
    ("func_name", "__name__ must be set to a string object"),
    ("__qualname__", "__qualname__ must be set to a string object"),
])
def test_names_must_be_str(fn, attr, message):
    before = getattr(fn, attr)
    for bad in (lambda: setattr(fn, attr, 3), lambda: setattr(fn, attr, b"x"),
                lambda: delattr(fn, attr)):
        with pytest.raises(TypeError, match=f"^{message}$"):
            bad()
        assert getattr(fn, attr) == before
    setattr(fn, attr, Text("renamed"))
    assert getattr(fn, attr) == "renamed" and type(getattr(fn, attr)) is Text


def test_instance_dict(fn):
    fn.extra = 1
    assert fn.__dict__ == {"extra": 1} and fn.func_dict is fn.__dict__
    fn.func_dict = {"other": 2}
    assert fn.other == 2 and not hasattr(fn, "extra")
    with pytest.raises(TypeError):
        fn.__dict__ = 5
    with pytest.raises(TypeError):
        del fn.__dict__


def test_module_member(fn):
    fn.__module__ = "elsewhere"
    assert fn.__module__ == "elsewhere"
    del fn.__module__
    assert fn.__module__ is None


DEFAULTS_CASES = [
    ("__defaults__", (1,), [1], "__defaults__ must be set to a tuple object", DEFAULTS_WARNING),
    ("func_defaults", (1,), [1], "__defaults__ must be set to a tuple object", DEFAULTS_WARNING),
    ("__kwdefaults__", {"k": 1}, [("k", 1)], "__kwdefaults__ must be set to a dict object",
     KWDEFAULTS_WARNING),
]


@pytest.mark.parametrize("attr,good,bad,message,warning", DEFAULTS_CASES)
def test_defaults_setters_warn_and_store(fn, attr, good, bad, message, warning):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        setattr(fn, attr, good)
        assert getattr(fn, attr) == good
        with pytest.raises(TypeError, match=f"^{message}$"):
            setattr(fn, attr, bad)
        assert getattr(fn, attr) == good
        delattr(fn, attr)
        assert getattr(fn, attr) is None
    assert [(w.category, str(w.message)) for w in caught] == [(RuntimeWarning, warning)] * 2
    assert caught[0].filename == __file__  # stack level 1: the line that set it


@pytest.mark.parametrize("attr,good,bad,message,warning", DEFAULTS_CASES)
def test_defaults_setters_with_the_warning_as_error(fn, attr, good, bad, message, warning):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(RuntimeWarning, match=f"^{warning}$"):
            setattr(fn, attr, good)
        assert getattr(fn, attr) is None  # refused, not stored
        with pytest.raises(TypeError, match=f"^{message}$"):
            setattr(fn, attr, bad)


def test_defaults_setter_under_dash_w_error():
    run_scenario("""
        import _wsh_testmod
        f = _wsh_testmod.make_function("o", "f")
        try:
            f.__defaults__ = (1,)
        except RuntimeWarning as e:
            assert str(e).startswith("changes to cyfunction.__defaults__"), e
        else:
            raise AssertionError("no error")
        assert f.__defaults__ is None
    """, extra_args=("-W", "error"))


@pytest.mark.parametrize("attr,value", [("__defaults__", (1,)), ("__kwdefaults__", {"k": 1})])
def test_defaults_setter_when_the_warning_sets_the_same_field(fn, attr, value):
    marker = object()
    baseline = sys.getrefcount(marker)

    shown = []

    def showwarning(*args, **kwargs):
        shown.append(1)
        if len(shown) == 1:  # the nested set warns again
            setattr(fn, attr, (marker,) if attr == "__defaults__" else {"m": marker})

    with warnings.catch_warnings():
        warnings.simplefilter("always")
        warnings.showwarning = showwarning
        setattr(fn, attr, value)
    assert getattr(fn, attr) == value and len(shown) == 2
    gc.collect()
    # The value the warning stored was released, not the one read before.
    assert sys.getrefcount(marker) == baseline


def test_defaults_provider(testmod, fn):
    calls = []

    def provide():
        calls.append(1)
        return (1, 2), {"k": 3}

    testmod.install_defaults_provider(fn)
    fn.provide = provide
    assert fn.__kwdefaults__ == {"k": 3}
    assert fn.__defaults__ == (1, 2)
    assert fn.func_defaults == (1, 2) and len(calls) == 1


@pytest.mark.parametrize("provide,error", [
    (lambda: 1 / 0, ZeroDivisionError),
    (lambda: ((1,),), SystemError),
])
def test_failing_defaults_provider(testmod, fn, provide, error):
    testmod.install_defaults_provider(fn)
    fn.provide = provide
    with pytest.raises(error):
        fn.__defaults__
    with pytest.raises(error):
        fn.__kwdefaults__


def test_annotations(fn):
    installed = fn.__annotations__
    installed["x"] = int
    assert fn.__annotations__ == {"x": int}
    fn.__annotations__ = None
    assert fn.__annotations__ == {} and fn.__annotations__ is not installed
    fn.__annotations__ = {"y": str}
    with pytest.raises(TypeError, match="^__annotations__ must be set to a dict object$"):
        fn.__annotations__ = [1]
    assert fn.__annotations__ == {"y": str}
    del fn.__annotations__
    assert fn.__annotations__ == {}


def test_is_coroutine(testmod, monkeypatch):
    import asyncio.coroutines
    coro = testmod.make_function("o", "c", flags=BINDING_COROUTINE)
    assert coro._is_coroutine is asyncio.coroutines._is_coroutine
    assert testmod.make_function("o", "p")._is_coroutine is False
    monkeypatch.setitem(sys.modules, "asyncio.coroutines", None)  # the import fails
    first = testmod.make_function("o", "c", flags=BINDING_COROUTINE)._is_coroutine
    assert first is True


def test_cleared_function_stays_safe(testmod, fn):
    # What a finaliser in a collected cycle can still reach.
    testmod.clear_function(fn)
    assert repr(fn) == f"<cyfunction ? at {hex(id(fn))}>"
    assert fn.__qualname__ is None and fn.__globals__ is None and fn.__module__ is None
    assert fn.__reduce__() is None
    assert fn.__name__ == "fastcall_keywords"
    assert fn(1)[2] == (1,)


# -- binding, representation, pickling, introspection -------------------------

@pytest.mark.parametrize("flags", [0, BINDING_NATIVE_METHOD])
def test_binding_through_class_and_instance(testmod, flags):
    f = testmod.make_function("fastcall_keywords", "C.f", flags=flags)
    C = type("C", (), {"f": f})
    c = C()
    assert C.f is f and f.__get__(None, C) is f
    bound = c.f
    assert bound.__func__ is f and bound.__self__ is c
    first, positional = (f, (c, 1)) if flags == 0 else (c, (1,))
    assert c.f(1) == bound(1) == ("fastcall", first, positional, None, ())


def test_repr_and_reduce(fn):
    assert repr(fn) == f"<cyfunction Holder.fn at {hex(id(fn))}>"
    assert fn.__reduce__() == "Holder.fn"
    assert fn.__reduce__(1, k=2) == "Holder.fn"  # arguments are ignored


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickles_by_qualified_name(testmod, fn, monkeypatch, protocol):
    holder = type("Holder", (), {"fn": fn, "__module__": "_wsh_testmod"})
    monkeypatch.setattr(testmod, "Holder", holder, raising=False)
    assert pickle.loads(pickle.dumps(fn, protocol)) is fn


def test_signature_and_wraps_with_a_code_object(testmod):
    code = testmod.code_objects()[0]  # _finish_with_result(self, status_code, result)
    f = testmod.make_function("fastcall_keywords", "H._finish_with_result", code=code)
    f.__annotations__ = {"result": dict}
    f.__doc__ = "Writes the result."
    f.marker = 1
    assert str(inspect.signature(f)) == "(self, status_code, result: dict)"

    @functools.wraps(f)
    def wrapper(*args, **kwargs):
        return f(*args, **kwargs)

    assert (wrapper.__name__, wrapper.__qualname__, wrapper.__doc__, wrapper.__module__) == (
        f.__name__, "H._finish_with_result", "Writes the result.", f.__module__)
    assert wrapper.__wrapped__ is f and wrapper.marker == 1
    assert str(inspect.signature(wrapper)) == "(self, status_code, result: dict)"
    bound = type("H", (), {"m": f})().m
    assert str(inspect.signature(bound)) == "(status_code, result: dict)"


# -- garbage collection -------------------------------------------------------

def _close_cycle_via_str_subclass(f, attr):
    s = Text("name")
    s.owner = f
    setattr(f, attr, s)


CYCLES = {
    "__dict__": lambda f: setattr(f, "me", f),
    "__annotations__": lambda f: setattr(f, "__annotations__", {"me": f}),
    "__name__": lambda f: _close_cycle_via_str_subclass(f, "__name__"),
    "__qualname__": lambda f: _close_cycle_via_str_subclass(f, "__qualname__"),
    "__doc__": lambda f: setattr(f, "__doc__", [f]),
    "__module__": lambda f: setattr(f, "__module__", [f]),
    "__defaults__": lambda f: setattr(f, "__defaults__", (f,)),
    "__kwdefaults__": lambda f: setattr(f, "__kwdefaults__", {"me": f}),
}


@pytest.mark.parametrize("through", list(CYCLES))
def test_cycle_through_a_field_is_collected(testmod, through):
    collected = []
    f = testmod.make_function("o", "f")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        CYCLES[through](f)
    ref = weakref.ref(f, collected.append)
    del f
    gc.collect()
    assert ref() is None and len(collected) == 1


def test_collector_sees_the_reference_to_the_type(fn):
    # From 3.9 the interpreter expects an instance of a heap type to report
    # its type itself; 3.8 reports it for subclasses, so there a second
    # report would count the reference twice.
    assert (type(fn) in gc.get_referents(fn)) == (sys.version_info >= (3, 9))


def test_deallocation_releases_the_type(testmod, fn):
    t = type(fn)
    before = sys.getrefcount(t)
    functions = [testmod.make_function("o", "f") for _ in range(50)]
    assert sys.getrefcount(t) == before + 50
    del functions
    assert sys.getrefcount(t) == before


def test_attribute_access_leaks_nothing(testmod):
    code = testmod.code_objects()[0]

    def touch():
        f = testmod.make_function("noargs", "f", code=code, module="m")
        f.__name__, f.__doc__, f.__annotations__, f._is_coroutine, f.__dict__
        f.__qualname__ = "g"
        f.__annotations__ = {"a": 1}
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            f.__defaults__ = (1,)
            f.__kwdefaults__ = {"k": 2}
        repr(f), f.__reduce__(), f.__get__(1)

    assert_no_leaks(touch)
