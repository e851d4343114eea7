"""`except` matching and moving exceptions between the thread's slots."""
import sys

import pytest

from helpers import assert_no_leaks, raises_with


class AppError(ValueError):
    pass


class DeepError(AppError, KeyError):
    pass


RAISED = [ValueError, AppError, DeepError, KeyError, LookupError, IndexError, OSError,
          ConnectionError, KeyboardInterrupt, StopIteration]
CLAUSES = [
    ValueError, AppError, LookupError, Exception, BaseException, OSError, ConnectionError,
    KeyboardInterrupt, (), (KeyError,), (AppError, OSError), (IndexError, Exception),
    (ConnectionError, KeyboardInterrupt, StopIteration), (KeyError, KeyError),
    (ValueError, LookupError), (ValueError, OSError),
]


def python_catches(exc_type, clause):
    """What the interpreter's own `except` decides."""
    try:
        raise exc_type()
    except clause:
        return True
    except BaseException:
        return False


@pytest.mark.parametrize("clause", CLAUSES, ids=repr)
def test_matching_agrees_with_the_interpreter(testmod, clause):
    for exc_type in RAISED:
        expected = python_catches(exc_type, clause)
        assert testmod.exception_matches(exc_type, clause) is expected, exc_type
        assert testmod.given_exception_matches(exc_type, clause) is expected, exc_type
        if isinstance(clause, tuple):
            assert testmod.exception_matches_tuple(exc_type, clause) is expected, exc_type


@pytest.mark.parametrize(
    "exc_type, clause, expected",
    [
        (KeyError, (ValueError, (OSError, KeyError)), True),  # nested tuples are searched
        (IndexError, (ValueError, (LookupError,)), True),
        (IndexError, (ValueError, (OSError,)), False),
        (ValueError, (1, "x", ValueError), True),  # non-class items never match
        (KeyError, (1, "x", ValueError), False),
        (KeyError, 5, False),
        (KeyError, "KeyError", False),
    ],
)
def test_clauses_plain_python_refuses(testmod, exc_type, clause, expected):
    with pytest.raises(TypeError):  # the interpreter's `except` would raise instead
        python_catches(exc_type, clause)
    assert testmod.exception_matches(exc_type, clause) is expected


# From 3.12 the pending exception is one value, an instance: a bare class
# is instantiated as it is raised, and anything else cannot be raised at all.
PENDING_IS_ONE_VALUE = sys.version_info >= (3, 12)


def test_nothing_pending_and_non_class_pending(testmod):
    assert testmod.exception_matches(None, ValueError) is False
    assert testmod.exception_matches(None, (ValueError,)) is False
    if PENDING_IS_ONE_VALUE:
        assert testmod.exception_matches(5, SystemError) is True  # refused when raised
    else:
        assert testmod.exception_matches(5, 5) is True  # identical clause
    assert testmod.given_exception_matches(5, ValueError) is False
    assert testmod.given_exception_matches(5, (5,)) is True


@pytest.mark.parametrize(
    "args, expected",
    [
        ((KeyError, LookupError), True),
        ((KeyError, object), True),
        ((KeyError, KeyError), True),
        ((KeyError, ValueError), False),
    ],
)
@pytest.mark.parametrize("unready", [False, True], ids=["mro", "base-chain"])
def test_subtype_tests(testmod, args, expected, unready):
    test = testmod.is_subtype_unready if unready else testmod.is_subtype
    assert test(*args) is expected


def test_except_block_installs_and_restores_the_handled_exception(testmod):
    try:
        raise KeyError("outer")
    except KeyError as outer:
        caught_type, caught, inside = testmod.except_block(ValueError, "raw", sys.exc_info)
        assert sys.exc_info()[1] is outer
    assert caught_type is ValueError
    assert isinstance(caught, ValueError) and caught.args == ("raw",)  # normalised
    assert inside == (ValueError, caught, None)
    assert sys.exc_info() == (None, None, None)


def test_except_block_in_a_generator_keeps_its_own_slot(testmod):
    def steps():
        yield testmod.except_block(ValueError, ValueError("inner"), sys.exc_info)[2][0]
        yield sys.exc_info()[0]

    gen = steps()
    try:
        raise KeyError("caller's")
    except KeyError:
        assert next(gen) is ValueError
    # Resumed outside any handler: the generator's own slot must be empty again.
    assert next(gen) is None


def test_error_inside_the_block_carries_the_caught_one(testmod):
    def fail():
        raise RuntimeError("inside")

    e = raises_with(lambda: testmod.except_block(ValueError, ValueError("caught"), fail),
                    RuntimeError)
    assert isinstance(e.__context__, ValueError)
    assert sys.exc_info() == (None, None, None)


class Unbuildable(Exception):
    def __init__(self, *args):
        raise RuntimeError("cannot build")


def test_normalisation_replaces_an_unbuildable_exception(testmod):
    # As in the interpreter: the error raised while building the instance is
    # the one handled.
    caught_type, caught, inside = testmod.except_block(Unbuildable, "arg", sys.exc_info)
    assert caught_type is RuntimeError and str(caught) == "cannot build"
    assert inside[1] is caught


@pytest.mark.skipif(PENDING_IS_ONE_VALUE, reason="the exception carries its traceback from "
                    "3.12: a bad one is refused when raised, before any except block")
def test_failed_traceback_attachment_leaves_the_handled_slot(testmod):
    try:
        raise KeyError("outer")
    except KeyError as outer:
        e = raises_with(lambda: testmod.except_block(ValueError, ValueError(), sys.exc_info, 5),
                        TypeError)
        assert str(e) == "__traceback__ must be a traceback or None"
        assert sys.exc_info()[1] is outer


def test_exception_moves_do_not_leak(testmod):
    def moves():
        testmod.except_block(ValueError, "raw", sys.exc_info)
        testmod.except_block(ValueError, ValueError([1]), lambda: None)
        testmod.except_block(Unbuildable, "arg", sys.exc_info)
        if not PENDING_IS_ONE_VALUE:
            raises_with(lambda: testmod.except_block(ValueError, ValueError([1]), sys.exc_info, 5),
                        TypeError)
        testmod.exception_matches(KeyError, (ValueError, (LookupError,)))

    assert_no_leaks(moves)
