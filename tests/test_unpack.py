"""Unpacking into two targets, and its error texts."""
import gc
import weakref

import pytest

from helpers import assert_no_leaks, raises_with


class Item:
    pass


class Boom(Exception):
    pass


class Stop(StopIteration):
    pass


class Iter:
    """A plain iterator of `items`, ended by `end` (an exception instance)."""

    def __init__(self, items, end):
        self.items = list(items)
        self.end = end

    def __iter__(self):
        return self

    def __next__(self):
        if self.items:
            return self.items.pop(0)
        raise self.end


TOO_MANY = "too many values to unpack (expected 2)"


def need(n):
    return f"need more than {n} value{'' if n == 1 else 's'} to unpack"


@pytest.mark.parametrize(
    "make, error",
    [
        (lambda: (1, 2), None),
        (lambda: [1, 2], None),
        (lambda: iter([1, 2]), None),
        (lambda: "ab", None),
        (lambda: Iter([1, 2], Stop()), None),  # a StopIteration subclass ends it too
        (lambda: (), need(0)),
        (lambda: (1,), need(1)),
        (lambda: (1, 2, 3), TOO_MANY),
        (lambda: [], need(0)),
        (lambda: [1], need(1)),
        (lambda: [1, 2, 3], TOO_MANY),
        (lambda: iter(()), need(0)),
        (lambda: iter([1]), need(1)),
        (lambda: iter([1, 2, 3]), TOO_MANY),
        (lambda: Iter([1], Stop()), need(1)),
        (lambda: type("T", (tuple,), {})((1, 2, 3)), TOO_MANY),  # a tuple subclass iterates
    ],
)
def test_unpack_pair(testmod, make, error):
    if error is None:
        assert list(testmod.unpack_pair(make())) == list(make())
    else:
        e = raises_with(lambda: testmod.unpack_pair(make()), ValueError)
        assert str(e) == error


@pytest.mark.parametrize(
    "count, end, error",
    [(0, Boom, Boom), (1, Boom, Boom), (2, Boom, Boom), (1, StopIteration, ValueError),
     (3, StopIteration, ValueError)],
)
def test_failed_unpacking_passes_errors_on_and_keeps_nothing(testmod, count, end, error):
    items = [Item() for _ in range(count)]
    refs = [weakref.ref(item) for item in items]
    source = Iter(items, end("bad"))
    del items
    e = raises_with(lambda: testmod.unpack_pair(source), error)
    if error is Boom:
        assert str(e) == "bad"
    del e
    gc.collect()
    assert [r() for r in refs] == [None] * count


def test_raise_need_more_values(testmod):
    assert str(raises_with(lambda: testmod.raise_need_more_values(1), ValueError)) == need(1)
    assert str(raises_with(lambda: testmod.raise_need_more_values(5), ValueError)) == need(5)


def test_unpacking_does_not_leak(testmod):
    def unpack():
        testmod.unpack_pair(([1], [2]))
        testmod.unpack_pair(iter([[1], [2]]))
        for value in ([[1]] * 3, iter([[1]]), iter([[1]] * 3)):
            raises_with(lambda: testmod.unpack_pair(value), ValueError)
        raises_with(lambda: testmod.unpack_pair(Iter([[1]], Boom("x"))), Boom)

    assert_no_leaks(unpack)
