"""The cooperative route's benchmark: a smoke run with tiny counts fills
every table, and the route it measures behaves as the tables claim."""
import os
import re
import subprocess
import sys

import pytest

from helpers import sanitizer_loaded

BENCH = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "bench")


@pytest.mark.slow
@pytest.mark.skipif(sanitizer_loaded(), reason="greenlets under AddressSanitizer")
def test_smoke_run_fills_every_table(tmp_path, monkeypatch):
    results = tmp_path / "RESULTS.md"
    results.write_text("## Benchmark: what run.py wrote\n\nkept\n")
    proc = subprocess.run([sys.executable, os.path.join(BENCH, "cooperative.py"), "--smoke",
                           "--results", str(results)], capture_output=True, text=True,
                          timeout=600)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    text = results.read_text()
    assert text.startswith("## Benchmark: what run.py wrote\n\nkept\n\n## Cooperative route")
    number = r"[\d,.]+"
    if "wrk is not installed" not in text:
        for request in ("GET, 3 workspaces", "POST, store written"):
            assert re.search(rf"^\| {request} \| {number} \| {number} \| {number} "
                             rf"\({number}–{number}\) \|", text, re.M), request
    for variant in ("cooperative", "inline"):
        # every request answered, the concurrent ones all with their workspaces
        assert re.search(rf"^\| {variant} \| {number} \| 4× 200 \|$", text, re.M), variant
        # a stalled platform: each request its 504 by the deadline
        assert re.search(rf"^\| {variant} \| 20× 504 \| {number} \| {number} \| {number} \|$",
                         text, re.M), variant
    rows = re.findall(r"^\| (GET on a stalled|POST on a disk)[^|]*\| (\w+) \| [\d,]+ \| (\d+) \|",
                      text, re.M)
    assert sorted(rows) == sorted([(what, variant, status) for what, status in
                                   (("GET on a stalled", "504"), ("POST on a disk", "200"))
                                   for variant in ("cooperative", "inline")])
    assert re.search(rf"^{number} KiB of resident memory per GET waiting", text, re.M)
    # bursts leave no greenlet behind (a leak would add one per request, 20 a burst)
    rows = re.findall(rf"^\| (one GET|burst \d) \| (\d+)× 200 \| (\d+) \| {number} \|$",
                      text, re.M)
    assert [(after, answered) for after, answered, _ in rows] == [
        ("one GET", "1"), ("burst 1", "20"), ("burst 2", "20")], rows
    live = [int(n) for _, _, n in rows]
    assert max(live) <= live[0] + 2, live
    # a slow but healthy platform: every GET answered, and no cool-down after
    assert re.search(rf"^\| 12× 200 \| {number} \| 200 \|$", text, re.M)
    # a later run's tables replace those of the run before
    monkeypatch.syspath_prepend(BENCH)
    from cooperative import HEADING, write_into
    write_into(str(results), [HEADING, "", "later"])
    assert results.read_text() == ("## Benchmark: what run.py wrote\n\nkept\n\n"
                                   f"{HEADING}\n\nlater")
