"""Decimal text of 64-bit integers."""
import random

import pytest

from helpers import assert_no_leaks

SMALLEST = -(2 ** 63)
LARGEST = 2 ** 63 - 1


@pytest.mark.parametrize(
    "value", [0, 7, 10, 99, 100, 123, -5, -9, -10, -100, 1000, SMALLEST, LARGEST, SMALLEST + 1]
)
def test_plain_decimal_text(testmod, value):
    text = testmod.int_to_str(value)
    assert type(text) is str and text == str(value)


def test_matches_str_for_random_values(testmod):
    rng = random.Random(4711)
    for _ in range(5000):
        bits = rng.randrange(1, 64)
        value = rng.randrange(-(2 ** bits), 2 ** bits)
        assert testmod.int_to_str(value) == str(value)


def test_one_character_results_are_shared(testmod):
    assert testmod.int_to_str(7) is testmod.int_to_str(7)
    assert testmod.int_to_str(7) is chr(55)


def test_no_leaks(testmod):
    assert_no_leaks(lambda: [testmod.int_to_str(v) for v in (3, -42, SMALLEST, 10 ** 12)])
