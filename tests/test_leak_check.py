"""The leak check itself must be able to fail under every allocator setting
(pymalloc, or PYTHONMALLOC=malloc in the sanitizer and memory-checker runs)."""
import pytest

from helpers import MEMORY_CHECKER, assert_no_leaks

pytestmark = pytest.mark.skipif(MEMORY_CHECKER, reason="the memory checker proves leaks itself")


@pytest.mark.parametrize("make", [object, lambda: {"k": 1}, lambda: bytearray(40)])
def test_kept_objects_are_reported(make):
    kept = []
    with pytest.raises(AssertionError, match="kept over"):
        assert_no_leaks(lambda: kept.append(make()))


def _cycle():
    a, b = [], []
    a.append(b)
    b.append(a)


# garbage cycles too: the check collects what the calls leave
@pytest.mark.parametrize("make", [lambda: [object() for _ in range(10)], _cycle])
def test_released_objects_pass(make):
    assert_no_leaks(make)
