"""Attribute reads, builtins and the version-keyed cache of module globals."""
import builtins
import gc
import sys

import pytest

from helpers import MODULE_NAME, assert_no_leaks, raises_with, run_scenario


PLACES = range(4)


@pytest.fixture
def places(testmod):
    """Fresh test reading places (one per name read), the module dictionary
    left as found."""
    names = set(vars(testmod))
    for place in PLACES:
        testmod.reset_global_cache(place)
    yield PLACES
    for name in set(vars(testmod)) - names:
        del vars(testmod)[name]
    for place in PLACES:
        testmod.reset_global_cache(place)


class CountingKey:
    """A non-str key that collides with `name` and counts its comparisons."""

    def __init__(self, name, fail=False):
        self.hash = hash(name)
        self.fail = fail
        self.compared = 0

    def __hash__(self):
        return self.hash

    def __eq__(self, other):
        self.compared += 1
        if self.fail:
            raise LookupError("comparison failed")
        return False


def test_rebound_global_is_seen_at_the_next_read(testmod, places):
    place = places[0]
    vars(testmod)["wsh_probe"] = first = object()
    assert testmod.get_module_global(place, "wsh_probe") is first
    vars(testmod)["wsh_probe"] = second = object()
    assert testmod.get_module_global(place, "wsh_probe") is second


def test_global_shadows_builtin_and_deletion_falls_back(testmod, places):
    place = places[0]
    vars(testmod)["len"] = shadow = object()
    assert testmod.get_module_global(place, "len") is shadow
    del vars(testmod)["len"]
    assert testmod.get_module_global(place, "len") is builtins.len


def test_name_in_neither_raises_name_error(testmod, places):
    place = places[0]
    e = raises_with(lambda: testmod.get_module_global(place, "wsh_nowhere"), NameError)
    assert str(e) == "name 'wsh_nowhere' is not defined"
    assert testmod.global_cache(place)[1:] == (False, True)  # absence is cached too


def test_unchanged_dictionary_costs_no_lookup(testmod, places):
    place = places[0]
    key = CountingKey("abs")
    vars(testmod)[key] = None
    # A collection's finalisers may change the dictionary mid-look-up, and
    # so restart it: the counts hold only without them.
    gc.disable()
    try:
        assert testmod.get_module_global(place, "abs") is builtins.abs
        assert key.compared == 1  # the full look-up met the colliding key
        for _ in range(5):
            assert testmod.get_module_global(place, "abs") is builtins.abs
        assert key.compared == 1
        vars(testmod)["wsh_other"] = 1  # any change sends the place through a look-up again
        assert testmod.get_module_global(place, "abs") is builtins.abs
        assert key.compared == 2
    finally:
        gc.enable()


def test_lookup_error_is_returned_and_pair_kept(testmod, places):
    place = places[0]
    assert testmod.get_module_global(place, "abs") is builtins.abs
    key = CountingKey("abs", fail=True)
    vars(testmod)[key] = None
    before = testmod.global_cache(place)
    for _ in range(2):  # still not current: the next read looks up again
        e = raises_with(lambda: testmod.get_module_global(place, "abs"), LookupError)
        assert str(e) == "comparison failed"
        assert testmod.global_cache(place) == before


def test_reads_do_not_leak(testmod, places):
    vars(testmod)["wsh_probe"] = [1]

    def reads():
        testmod.get_module_global(places[0], "wsh_probe")
        testmod.get_module_global(places[1], "abs")
        raises_with(lambda: testmod.get_module_global(places[2], "wsh_nowhere"), NameError)
        vars(testmod)["wsh_probe"] = [2]  # a changed dict each round: the full path too

    assert_no_leaks(reads)


class Plain:
    present = 1

    @property
    def broken(self):
        raise AttributeError("inside")


class Hooked:
    def __getattr__(self, name):
        if name == "lookup_fails":
            raise KeyError(name)
        raise AttributeError(name)


@pytest.mark.parametrize(
    "obj, name, expected",
    [
        (Plain(), "present", (True, 1)),
        (Plain(), "missing", (False, None)),
        (Plain(), "broken", (False, None)),
        (Hooked(), "missing", (False, None)),
        (Hooked(), "__class__", (True, Hooked)),
    ],
)
def test_get_attr_quiet(testmod, obj, name, expected):
    assert testmod.get_attr_quiet(obj, name) == expected


def test_get_attr_quiet_passes_other_errors_on(testmod):
    e = raises_with(lambda: testmod.get_attr_quiet(Hooked(), "lookup_fails"), KeyError)
    assert e.args == ("lookup_fails",)
    assert_no_leaks(lambda: testmod.get_attr_quiet(Hooked(), "missing"))


def test_get_builtin(testmod):
    assert testmod.get_builtin("len") is builtins.len
    e = raises_with(lambda: testmod.get_builtin("wsh_nowhere"), NameError)
    assert str(e) == "name 'wsh_nowhere' is not defined"


@pytest.mark.skipif(sys.version_info < (3, 12), reason="dictionaries are watched from 3.12")
def test_without_a_free_dict_watcher_globals_are_still_read_correctly():
    # Other extensions may hold every watcher the interpreter has: the module
    # must still import and see every rebinding and deletion of its globals.
    run_scenario(f"""
import builtins
_testcapi = __import__("_testcapi")
try:
    while True:
        _testcapi.add_dict_watcher(0)
except RuntimeError:
    pass
import {MODULE_NAME} as wh
from handler_double import make_double_class
h = make_double_class(wh.ZRVZorvikWorkspaceHandler)()
get = wh.ZRVZorvikWorkspaceHandler.get.__wrapped__
def answered(fetch):
    h.reset()
    wh.get_joined_workspaces = fetch
    get(h)
    return h.answer.status, h.answer.body
class Workspace:
    def to_dict(self):
        return {{"id": 1}}
assert answered(lambda: []) == (200, [])
assert answered(lambda: [Workspace()]) == (200, [{{"id": 1}}])
del wh.get_joined_workspaces
h.reset()
get(h)
assert h.answer.body == {{"error": "name 'get_joined_workspaces' is not defined"}}, h.answer.body
builtins.get_joined_workspaces = lambda: []
h.reset()
get(h)
assert h.answer.status == 200
""")
