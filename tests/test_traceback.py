"""Traceback entries and their per-line code cache."""
import logging
import random
import traceback

import pytest

from helpers import SOURCE_FILE, assert_no_leaks, last_entry


def raise_entry(testmod, name, line, exc=None):
    exc = exc if exc is not None else ValueError("boom")
    with pytest.raises(type(exc)) as info:
        testmod.raise_with_traceback(exc, name, line)
    return info.value


def cached_lines(testmod):
    return [line for line, _ in testmod.traceback_cache()[1]]


def test_entry_names_file_function_and_line(testmod):
    exc = raise_entry(testmod, "mod.Cls.meth", 4711)
    tb = last_entry(exc)
    assert tb.tb_lineno == 4711
    assert tb.tb_frame.f_code.co_name == "mod.Cls.meth"
    assert tb.tb_frame.f_code.co_filename == SOURCE_FILE
    assert tb.tb_frame.f_globals is vars(testmod)
    text = "".join(traceback.format_exception(type(exc), exc, exc.__traceback__))
    assert f'File "{SOURCE_FILE}", line 4711, in mod.Cls.meth' in text


def test_entry_formats_through_logging(testmod, caplog):
    exc = raise_entry(testmod, "logged.function", 4712)
    with caplog.at_level(logging.ERROR):
        logging.getLogger("wsh-test").error("failed", exc_info=(type(exc), exc, exc.__traceback__))
    assert "in logged.function" in caplog.text


def test_same_line_reuses_the_first_code_object(testmod):
    first = last_entry(raise_entry(testmod, "first.name", 4713)).tb_frame.f_code
    second = last_entry(raise_entry(testmod, "second.name", 4713)).tb_frame.f_code
    assert second is first
    assert second.co_name == "first.name"  # keyed by line alone
    assert cached_lines(testmod).count(4713) == 1


def test_line_zero_is_not_cached(testmod):
    before = testmod.traceback_cache()
    exc = raise_entry(testmod, "zero.line", 0)
    assert last_entry(exc).tb_frame.f_code.co_name == "zero.line"
    assert testmod.traceback_cache() == before


def test_cache_stays_sorted_and_grows_by_64(testmod):
    lines = list(range(5000, 5000 + 3 * 70, 3))
    random.Random(7).shuffle(lines)
    for line in lines:
        raise_entry(testmod, f"line{line}", line)
    capacity, entries = testmod.traceback_cache()
    got = [line for line, _ in entries]
    assert got == sorted(set(got)), "cache not sorted or has duplicates"
    assert set(lines) <= set(got)
    assert capacity % 64 == 0 and capacity >= len(got) > 64
    assert capacity - len(got) < 64
    for line, code in entries:
        assert code.co_firstlineno == line
        assert testmod.traceback_cache_position(line) == got.index(line)
    # positions of absent lines: where they belong
    assert testmod.traceback_cache_position(got[-1] + 1) == len(got)
    assert testmod.traceback_cache_position(got[0] - 1) == 0
    assert testmod.traceback_cache_position(5001) == got.index(5003)


def test_without_pending_exception_reports_system_error(testmod):
    with pytest.raises(SystemError, match="error return without exception set") as info:
        testmod.traceback_without_exception("no.exception", 4714)
    assert last_entry(info.value).tb_lineno == 4714


def test_repeated_entries_do_not_leak(testmod):
    def one():
        try:
            testmod.raise_with_traceback(KeyError("k"), "leak.check", 4715)
        except KeyError:
            pass

    assert_no_leaks(one)
