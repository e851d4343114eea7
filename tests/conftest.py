import importlib
import os
import sys

import pytest
from hypothesis import HealthCheck, settings

from helpers import MODULE_NAME, Clock
from zorvik_standin import Platform, running_platform

# Jupyter's own choice of data directories, without its migration warning.
os.environ.setdefault("JUPYTER_PLATFORM_DIRS", "1")

# Property tests: bounded and reproducible by default (CI), longer on request
# with WSH_HYPOTHESIS_PROFILE=thorough.
settings.register_profile(
    "ci", max_examples=300, deadline=None, derandomize=True, database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
settings.register_profile(
    "thorough", max_examples=3000, deadline=None, database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
settings.load_profile(os.environ.get("WSH_HYPOTHESIS_PROFILE", "ci"))

_module_dir = os.environ.get("WSH_TEST_MODULE_DIR")
if _module_dir and _module_dir not in sys.path:
    sys.path.insert(0, _module_dir)


@pytest.fixture(autouse=True)
def zorvik_embedded(monkeypatch, tmp_path):
    """The embedded Zorvik store, in a data directory of the test's own, with
    the default settings: a service of its own, with no cool-down, logged
    refusal or kept connection of another test."""
    from corvanix.zorvik import _service, _settings

    monkeypatch.delenv("ZORVIK_URL", raising=False)
    monkeypatch.setenv("JUPYTER_DATA_DIR", str(tmp_path / "jupyter-data"))
    _service.start(_settings.Settings())
    yield
    _service.current().close()


@pytest.fixture
def standin():
    """The stand-in Zorvik platform, served from a thread for the test; its
    base URL is its `url`."""
    p = Platform()
    with running_platform(p) as url:
        p.url = url
        yield p


@pytest.fixture
def clock(monkeypatch):
    """The clock of the deadline and the cool-down, moved on by the test."""
    from corvanix.zorvik import _clock
    fake = Clock()
    monkeypatch.setattr(_clock, "now", fake)
    return fake


@pytest.fixture(scope="session")
def wh():
    """The installed module, as a notebook server would import it."""
    module = importlib.import_module(MODULE_NAME)
    assert "site-packages" in module.__file__, module.__file__
    return module


@pytest.fixture(scope="session")
def testmod():
    """The test-only extension built from the same sources (never installed)."""
    if not _module_dir:
        pytest.fail("WSH_TEST_MODULE_DIR is not set: run the tests with tools/run-tests")
    return importlib.import_module("_wsh_testmod")


SLOW_SWITCH = "WSH_SLOW_TESTS"
_slow_left_out = pytest.StashKey[int]()


def pytest_collection_modifyitems(config, items):
    # The fast tier by default; the slow tier (server processes, browsers, the
    # soak, the benchmark, leak loops of seconds, fresh environments) joins it
    # where WSH_SLOW_TESTS=1 asks for it, as CI does.
    if os.environ.get(SLOW_SWITCH) == "1":
        return
    slow = [item for item in items if item.get_closest_marker("slow")]
    if slow:
        config.hook.pytest_deselected(items=slow)
        items[:] = [item for item in items if not item.get_closest_marker("slow")]
    config.stash[_slow_left_out] = len(slow)


def pytest_terminal_summary(terminalreporter, config):
    left_out = config.stash.get(_slow_left_out, 0)
    if left_out:
        terminalreporter.write_line(
            f"fast tier: {left_out} slow tests deselected ({SLOW_SWITCH}=1 runs them too)")
