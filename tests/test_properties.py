"""Property-based tests: random bodies, sibling behaviours and module globals.

Whatever the collaborators do, every call of `get` or `post` either returns
None after exactly one complete result answer, or raises with at most a
partial answer (a prefix of the writer's steps) and a traceback entry of the
method; the caller's handled exception is untouched; and replaying every
drawn scenario keeps no memory.
"""
import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

import behaviours as b
from helpers import assert_no_leaks
from invariants import DOUBLE_METHODS, check_call, make_counting_double


@pytest.fixture(scope="module")
def Double(wh):
    return make_counting_double(wh)


@pytest.fixture
def restore_globals(wh):
    saved = {name: vars(wh)[name] for name in b.GLOBAL_NAMES}
    yield
    for name, value in saved.items():
        setattr(wh, name, value)



call_steps = st.one_of(
    st.tuples(st.just("get"), b.fetch_behaviours, b.parse_behaviours),
    st.tuples(st.just("post"), b.any_json, b.set_behaviours, b.parse_behaviours),
)
faults = st.none() | st.tuples(st.sampled_from(DOUBLE_METHODS), st.integers(0, 1), b.exceptions)
steps = st.tuples(call_steps, faults, st.booleans(), st.lists(b.global_changes, max_size=2))
scenarios = st.lists(steps, min_size=1, max_size=4)


def play(wh, Double, scenario):
    """Runs one scenario; the module globals are restored afterwards."""
    saved = {name: vars(wh)[name] for name in b.GLOBAL_NAMES}
    outcomes = []
    try:
        for call, fault, handled, changes in scenario:
            if call[0] == "get":
                _, fetch, parse = call
                wh.get_joined_workspaces = b.make_fetch(fetch)
                handler = Double(fault=fault)
            else:
                _, body, set_joined, parse = call
                wh.set_joined_workspace = b.make_sibling(set_joined)
                handler = Double(body, fault=fault)
            wh.parse_zorvik_exception = b.make_parse(parse)
            # Changes persist into the following calls of the scenario.
            for change in changes:
                b.apply_global_change(wh, change)
            outcomes.append(check_call(handler, call[0], handled))
    finally:
        for name, value in saved.items():
            setattr(wh, name, value)
    return outcomes


def test_random_collaborators(wh, Double, restore_globals):
    drawn = []

    @given(scenarios)
    def run(scenario):
        play(wh, Double, scenario)
        drawn.append(scenario)

    run()
    assert drawn
    # The whole run again and again: nothing it does may keep memory.
    replayed = drawn[-60:]
    assert_no_leaks(lambda: [play(wh, Double, s) for s in replayed], repeat=10, warm_up=3,
                    calls_per_repeat=sum(len(s) for s in replayed))


# ---------------------------------------------------- random JSON bodies for post

def expected_post(body):
    """What post does with a body when the siblings succeed."""
    if body is None:
        return TypeError, "'NoneType' object is not subscriptable"
    if type(body) is not dict:
        return TypeError, f"Expected dict, got {type(body).__name__}"
    if "workspace_id" not in body:
        return 400, None
    value = body["workspace_id"]
    if value is None or type(value) is int:
        return 200, value
    if isinstance(value, (bool, float)):
        if isinstance(value, float) and math.isnan(value):
            return ValueError, "cannot convert float NaN to integer"
        if isinstance(value, float) and math.isinf(value):
            return OverflowError, "cannot convert float infinity to integer"
        return 200, int(value)
    return TypeError, f"Expected int, got {type(value).__name__}"


post_bodies = b.any_json | st.fixed_dictionaries(
    {"workspace_id": b.json_scalars},
    optional={"other": b.json_values, "é": b.json_values})


def test_random_post_bodies(wh, Double, restore_globals):
    passed = []
    wh.set_joined_workspace = lambda **kwargs: passed.append(kwargs)
    drawn = []

    @given(post_bodies)
    def run(body):
        drawn.append(body)
        passed.clear()
        handler = Double(body)
        expected, detail = expected_post(body)
        outcome = check_call(handler, "post")
        if isinstance(expected, int):
            assert outcome == "answered" and handler.answer.status == expected
            if expected == 200:
                assert passed == [{"workspace_id": detail}]
                assert type(passed[0]["workspace_id"]) is type(detail)
        else:
            assert type(outcome) is expected and str(outcome) == detail
            assert passed == []

    run()
    wh.set_joined_workspace = lambda **kwargs: None  # records nothing while replaying

    def replay():
        for body in drawn[-100:]:
            try:
                Double(body).post()
            except (TypeError, ValueError, OverflowError):
                pass

    assert_no_leaks(replay, repeat=10, warm_up=3, calls_per_repeat=len(drawn[-100:]))
