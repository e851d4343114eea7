"""The README's test command runs the fast tier: no slow test is selected
there, and the slow switch brings every one of them back (collection only)."""
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Collects the suite twice in one process, without and with the switch, and
# prints each selection with the tier markers of every test.
COLLECT = """
import json, os, sys
import pytest

class Selection:
    def pytest_collection_finish(self, session):
        self.items = {item.nodeid: sorted({m.name for m in item.iter_markers()} & {"slow", "wheel"})
                      for item in session.items}

selections = []
for switch in (None, "1"):
    os.environ.pop("WSH_SLOW_TESTS", None)
    if switch:
        os.environ["WSH_SLOW_TESTS"] = switch
    selection = Selection()
    code = pytest.main(["--collect-only", "-q", "-p", "no:cacheprovider", "tests"], plugins=[selection])
    assert code == 0, code
    selections.append(selection.items)
print("SELECTIONS " + json.dumps(selections))
"""


def test_fast_tier_selects_no_slow_test_and_the_switch_selects_them_all():
    proc = subprocess.run([sys.executable, "-c", COLLECT], cwd=ROOT, capture_output=True,
                          text=True, timeout=300)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    (line,) = [line for line in proc.stdout.splitlines() if line.startswith("SELECTIONS ")]
    fast, both = json.loads(line[len("SELECTIONS "):])
    assert {name: marks for name, marks in fast.items() if marks} == {}
    slow = {name for name, marks in both.items() if "slow" in marks}
    assert slow and set(fast) | slow == set(both)
    # a test that installs the wheel is slow too
    assert {name for name, marks in both.items() if "wheel" in marks} <= slow
