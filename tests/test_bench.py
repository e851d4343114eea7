"""The benchmark: its baseline and floor answer like the native handler, and
a smoke run with tiny counts produces every table row."""
import os
import re
import shutil
import subprocess
import sys

import pytest

BENCH = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "bench")


@pytest.fixture
def cases(wh, monkeypatch):
    monkeypatch.syspath_prepend(BENCH)
    import cases
    # make_cases rebinds the sibling functions of both handler modules
    for module in cases.handler_modules().values():
        for name in ("get_joined_workspaces", "set_joined_workspace", "parse_zorvik_exception"):
            monkeypatch.setattr(module, name, getattr(module, name))
    return cases


def recorded_answer(case_handler_class, body, run):
    calls = []

    class Recording(case_handler_class):
        def set_header(self, name, value):
            calls.append(("set_header", name, value))

        def set_status(self, status_code):
            calls.append(("set_status", status_code))

        def finish(self, chunk=None):
            calls.append(("finish", chunk))

    run(Recording(body))
    return calls


@pytest.mark.parametrize("path", [
    "get_0", "get_10", "get_connection_error", "get_request_failure", "post_success",
    "post_missing_field", "writer"])
def test_baseline_and_floor_answer_like_the_native_handler(cases, path):
    answers = {}
    for variant, case in cases.make_cases(path, cases.handler_modules()).items():
        def run(handler, case=case, variant=variant):
            if variant == "floor":  # pre-bound: made again for the recording double
                siblings, _ = cases.stand_ins(path)
                case = cases.Case(path, variant, cases.make_floor(path, handler, siblings), handler)
            else:
                case.handler = handler
            case.run(1)
        answers[variant] = recorded_answer(type(case.handler), case.handler.json_body, run)
    assert answers["native"] == answers["plain"] == answers["floor"]
    assert [call[0] for call in answers["native"]] == [
        "set_header", "set_header", "set_status", "finish"]
    assert type(answers["native"][2][1]) is int and type(answers["plain"][2][1]) is int


@pytest.mark.slow
def test_smoke_run_produces_every_row(monkeypatch):
    monkeypatch.syspath_prepend(BENCH)
    from cases import PATHS
    proc = subprocess.run([sys.executable, os.path.join(BENCH, "run.py"), "--smoke"],
                          capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    sections = dict(re.findall(r"^### ([^(\n]+)\(.*?\n(.*?)(?=^### |\Z)", proc.stdout,
                               re.M | re.S))
    assert set(sections) == {"Instructions per request ", "Calls into Python ",
                             "Time per request ", "End to end ", "Import time ",
                             "Platform client latency "}
    from callgrind_profile import sanitizer_preloaded
    counted = shutil.which("valgrind") and not sanitizer_preloaded()
    labels = [label for _, label in PATHS]
    number = r"[+-]?[\d,.]+"
    for label in labels:
        assert re.search(rf"^\| {re.escape(label)} \|( {number} ±\d+% \|){{3}}",
                         sections["Time per request "], re.M), label
        if counted:
            assert re.search(rf"^\| {re.escape(label)} \|( {number} \|){{8}} {number}% \|$",
                             sections["Instructions per request "], re.M), label
            assert re.search(rf"^\| {re.escape(label)} \| [^|]+ \| {number} \|$",
                             sections["Calls into Python "], re.M), label
    if counted:
        # the steps share out our own cost on each path, up to rounding
        instructions = sections["Instructions per request "]
        assert "by what it does" in instructions
        step_table = instructions.split("by what it does")[1]
        rows = dict(re.findall(r"^\| ([^|]+?) \|((?: -?[\d,]+ \|)+)$", step_table, re.M))
        values = {name: [float(v.replace(",", "")) for v in row.split("|") if v.strip()]
                  for name, row in rows.items()}
        ours = values.pop("**ours**")
        values.pop("1% of the path")
        assert len(values) == 6 and len(ours) == len(labels)
        for total, *parts in zip(ours, *values.values()):
            assert abs(sum(parts) - total) <= len(parts), (total, parts)
    if not counted:
        assert "Skipped: " in sections["Instructions per request "]
        assert "Skipped: " in sections["Calls into Python "]
    for request in ("GET, 10 workspaces", "POST, success"):
        assert re.search(rf"^\| {request} \| {number} \| {number} \| {number} \|",
                         sections["End to end "], re.M), request
    for kind in ("native", "plain"):
        assert re.search(rf"^\| {kind} \| {number} ±{number} \|$", sections["Import time "],
                         re.M), kind
    for client in ("pooled", "fresh connection"):
        assert re.search(rf"^\| {client} \| {number} \| {number} \|$",
                         sections["Platform client latency "], re.M), client

