"""The shared type registry and its metaclass."""
import gc
import sys
import weakref

import pytest

from helpers import MODULE_NAME, REGISTRY, assert_registry_refuses, run_scenario


@pytest.fixture(scope="module")
def shared(testmod):
    return testmod.fetch_fixup_type()


def test_metaclass_is_registered(wh, shared):
    registry = sys.modules[REGISTRY]
    metatype = registry._common_types_metatype
    assert type(shared) is metatype
    assert metatype.__name__ == "_common_types_metatype"
    assert metatype.__mro__ == (metatype, type, object)
    assert metatype.__basicsize__ == type.__basicsize__
    assert metatype.__flags__ & 0x180 == 0x180


def test_registered_type_is_shared(testmod, shared):
    assert testmod.fetch_fixup_type() is shared
    assert vars(sys.modules[REGISTRY])["fixup_test_type"] is shared


def test_metaclass_forbids_instantiation_and_change(shared):
    with pytest.raises(TypeError, match="^Cannot instantiate Cython internal types$"):
        shared()
    # Not a base type: the interpreter refuses before the metaclass is asked
    # (deriving from one that is, the function type, the metaclass refuses).
    with pytest.raises(TypeError, match="is not an acceptable base type$"):
        class Derived(shared):
            pass
    with pytest.raises(TypeError, match="^Cython internal types are immutable$"):
        shared.x = 1
    with pytest.raises(TypeError, match="^Cython internal types are immutable$"):
        del shared.__doc__
    assert shared.__module__ == REGISTRY


@pytest.mark.parametrize("make", ["make_fixup_type", "fetch_fixup_type"])
def test_fixups_apply_the_special_members(testmod, make):
    t = getattr(testmod, make)()
    offsets = testmod.type_offsets(t)
    expected = testmod.fixup_offsets()
    assert {k: offsets[k] for k in expected} == expected
    assert offsets["vectorcall_flag"] is True
    obj = testmod.new_instance(t)
    assert obj() == "vectorcall"  # the call went through the offset, not the call slot
    assert obj.__module__ == "from-the-member"
    obj.__module__ = "changed"
    assert obj.__module__ == "changed"
    obj.extra = 5
    assert obj.__dict__ == {"extra": 5}
    collected = []
    ref = weakref.ref(obj, collected.append)
    assert ref() is obj
    del obj
    gc.collect()
    assert ref() is None and len(collected) == 1


def test_metaclass_entry_that_is_not_a_type():
    assert_registry_refuses("registry._common_types_metatype = 5",
             "Shared Cython type _common_types_metatype is not a type object")


# int is no metaclass; type and the ctypes metaclass are static types, which
# the registry never holds.
@pytest.mark.parametrize("entry", ["int", "type", "type(__import__('ctypes').Structure)"])
def test_metaclass_entry_with_another_layout(entry):
    assert_registry_refuses(f"registry._common_types_metatype = {entry}",
             "Shared Cython type _common_types_metatype has the wrong size, try recompiling")


def test_compatible_metaclass_entry_is_reused():
    run_scenario(f"""
        import sys, types
        registry = types.ModuleType("{REGISTRY}")
        class Meta(type):
            pass
        registry._common_types_metatype = Meta
        sys.modules["{REGISTRY}"] = registry
        import {MODULE_NAME}
        assert sys.modules["{REGISTRY}"]._common_types_metatype is Meta
    """)


def test_type_entry_with_a_matching_size_but_another_layout_is_refused(testmod):
    # A plain class whose slots give it the record's size must not pass as ours.
    record_size = testmod.fixup_offsets()["size"]
    registry = sys.modules[REGISTRY]
    slots = tuple(f"s{i}" for i in range((record_size - object.__basicsize__) // 8))

    class Impostor:
        __slots__ = slots

    assert Impostor.__basicsize__ == record_size
    previous = vars(registry).get("fixup_test_type")
    registry.fixup_test_type = Impostor
    try:
        with pytest.raises(TypeError, match="^Shared Cython type fixup_test_type has the wrong size, try recompiling$"):
            testmod.fetch_fixup_type()
    finally:
        if previous is None:
            del registry.fixup_test_type
        else:
            registry.fixup_test_type = previous


def test_module_loaded_second_reuses_the_registered_metaclass():
    run_scenario(f"""
        import sys
        import _wsh_testmod
        meta = sys.modules["{REGISTRY}"]._common_types_metatype
        t = _wsh_testmod.fetch_fixup_type()
        import {MODULE_NAME}
        assert sys.modules["{REGISTRY}"]._common_types_metatype is meta
        assert type(t) is meta
    """)
