"""Attribute reads of modules (`json.dumps`, `requests.exceptions.X`) are
remembered per reading place; every change that getattr would see must be
seen at the next request."""
import gc
import traceback
import types

import pytest
import requests

from handler_double import make_double_class
from helpers import SOURCE_FILE, assert_no_leaks, frozen_heap, line


@pytest.fixture
def Double(wh):
    return make_double_class(wh.ZRVZorvikWorkspaceHandler)


def json_module(text):
    """A module standing in for json whose dumps always gives `text`."""
    module = types.ModuleType("fake_json")
    module.dumps = lambda result: text
    return module


def our_lines(exc):
    return [f.lineno for f in traceback.extract_tb(exc.__traceback__) if f.filename == SOURCE_FILE]


def body_of(Double):
    h = Double()
    h._finish_with_result(status_code=200, result=[])
    return h.calls[3][1][0]


class TestWriterDumps:
    def test_rebinding_and_deleting_are_seen(self, wh, Double, monkeypatch):
        fake = json_module("[1]")
        monkeypatch.setattr(wh, "json", fake)
        assert body_of(Double) == "[1]"
        assert body_of(Double) == "[1]"
        fake.dumps = lambda result: "[2]"
        assert body_of(Double) == "[2]"
        fake.other = 1  # another key changes the dictionary too
        assert body_of(Double) == "[2]"
        del fake.dumps
        h = Double()
        with pytest.raises(AttributeError, match="dumps") as info:
            h._finish_with_result(status_code=200, result=[])
        assert our_lines(info.value)[-1] == line("_finish_with_result.content_length")

    def test_module_getattr_serves_a_missing_name(self, wh, Double, monkeypatch):
        fake = json_module("[1]")
        monkeypatch.setattr(wh, "json", fake)
        assert body_of(Double) == "[1]"
        del fake.dumps
        fake.__getattr__ = lambda name: (lambda result: "[9]") if name == "dumps" else None
        assert body_of(Double) == "[9]"
        assert body_of(Double) == "[9]"

    def test_a_module_subclass_with_a_property_wins_over_the_dictionary(
            self, wh, Double, monkeypatch):
        fake = json_module("[1]")
        monkeypatch.setattr(wh, "json", fake)
        assert body_of(Double) == "[1]"

        class Special(types.ModuleType):
            @property
            def dumps(self):
                return lambda result: "[7]"

        fake.__class__ = Special  # the dictionary is unchanged
        assert body_of(Double) == "[7]"
        fake.__class__ = types.ModuleType
        assert body_of(Double) == "[1]"

    def test_another_module_is_read_afresh(self, wh, Double, monkeypatch):
        monkeypatch.setattr(wh, "json", json_module("[1]"))
        assert body_of(Double) == "[1]"
        monkeypatch.setattr(wh, "json", json_module("[2]"))
        assert body_of(Double) == "[2]"

    def test_a_new_module_in_a_freed_ones_place_is_read_afresh(self, wh, Double, monkeypatch):
        # A freed module and dictionary leave their memory to the next ones
        # of their size; each new one must still be read, whatever its address.
        with frozen_heap():
            for n in range(20):
                monkeypatch.setattr(wh, "json", json_module(f"[{n}]"))
                assert body_of(Double) == f"[{n}]"
                gc.collect()

    def test_non_module_objects_are_read_every_time(self, wh, Double, monkeypatch):
        holder = types.SimpleNamespace(dumps=lambda result: "[1]")
        monkeypatch.setattr(wh, "json", holder)
        assert body_of(Double) == "[1]"
        holder.dumps = lambda result: "[2]"
        assert body_of(Double) == "[2]"

    def test_reads_from_a_remembered_module_leak_nothing(self, wh, Double, monkeypatch):
        monkeypatch.setattr(wh, "json", json_module("[]"))
        h = Double()

        def answer():
            h.reset()
            h._finish_with_result(status_code=200, result=[])

        assert_no_leaks(answer)


class TestClauseClasses:
    @pytest.fixture
    def fake_requests(self, wh, monkeypatch):
        exceptions = types.ModuleType("fake_requests.exceptions")
        exceptions.ConnectionError = KeyError
        exceptions.RequestException = OSError
        module = types.ModuleType("fake_requests")
        module.exceptions = exceptions
        monkeypatch.setattr(wh, "requests", module)
        monkeypatch.setattr(wh, "get_joined_workspaces", self.raise_key_error)
        return module

    @staticmethod
    def raise_key_error():
        raise KeyError("k")

    def status(self, Double):
        h = Double()
        h.get()
        return h.answer.status

    def test_rebound_classes_are_seen_at_the_next_request(self, Double, fake_requests):
        assert self.status(Double) == 502
        assert self.status(Double) == 502
        fake_requests.exceptions.ConnectionError = ValueError
        assert self.status(Double) == 500
        fake_requests.exceptions = types.SimpleNamespace(ConnectionError=LookupError,
                                                         RequestException=OSError)
        assert self.status(Double) == 502

    def test_a_deleted_class_fails_the_clause(self, Double, fake_requests):
        assert self.status(Double) == 502
        del fake_requests.exceptions.ConnectionError
        with pytest.raises(AttributeError, match="ConnectionError") as info:
            Double().get()
        assert our_lines(info.value)[-1] == line("get.connection_clause")

    def test_the_real_requests_module_still_answers(self, wh, Double, monkeypatch):
        def refuse():
            raise requests.exceptions.ConnectionError("refused")

        monkeypatch.setattr(wh, "get_joined_workspaces", refuse)
        for _ in range(3):
            assert self.status(Double) == 502
