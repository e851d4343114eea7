"""A short soak: the handler in a real notebook server, mixed requests at
concurrency 8 (tools/soak runs the long one)."""
import json
import os
import subprocess
import sys

import pytest

pytestmark = pytest.mark.slow

SOAK = os.path.join(os.path.dirname(__file__), os.pardir, "tools", "soak.py")


# Under the address sanitizer the server's resident memory is mostly its
# quarantine of freed blocks; the 5 MB bound is the uninstrumented run's.
MAX_GROWTH_MB = "64" if "libasan" in os.environ.get("LD_PRELOAD", "") else "5"


def test_short_soak(tmp_path):
    proc = subprocess.run(
        [sys.executable, SOAK, "--requests", "5000", "--concurrency", "8", "--time-limit", "300",
         "--max-growth-mb", MAX_GROWTH_MB],
        cwd=tmp_path, capture_output=True, text=True, timeout=600)
    print(proc.stdout)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    report = json.loads(proc.stdout)
    assert report["requests"] == 5000 and not report["problems"]
    # every kind of answer was exercised
    assert {"200", "400", "403", "404", "500", "502"} <= set(report["statuses"])
