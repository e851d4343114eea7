"""A real `jupyter server` process under bursts of requests against a
healthy stand-in platform that takes its time: what the clients see."""
import collections
import concurrent.futures

import pytest
import requests

from corvanix.zorvik import _client
from helpers import sanitizer_loaded
from test_main_command import user_env  # noqa: F401 (a fixture)
from test_server_process_platform import running_server
from zorvik_standin import Platform, running_platform

pytestmark = [pytest.mark.slow,
              pytest.mark.skipif(sanitizer_loaded(), reason="the route runs inline there")]


@pytest.fixture
def loaded(user_env, tmp_path, request):  # noqa: F811
    """(stand-in, route, session) of a server with the options `request.param`."""
    platform = Platform()
    with running_platform(platform) as url:
        options = [f"--ZorvikWorkspacesApp.{k}={v}" for k, v in request.param.items()]
        with running_server(user_env, tmp_path, f"--ZorvikWorkspacesApp.url={url}",
                            *options) as (base, session, _, _):
            route = base + "api/zorvik/workspaces"
            assert session.get(route, timeout=10).status_code == 200
            yield platform, route, session


def burst(route, session, count):
    """The statuses of `count` GETs sent at once, counted."""
    def get(_):
        return requests.get(route, headers=session.headers, timeout=30).status_code

    with concurrent.futures.ThreadPoolExecutor(count) as clients:
        return collections.Counter(clients.map(get, range(count)))


@pytest.mark.parametrize("loaded", [{"deadline": 1, "cooldown": 30}], indirect=True)
def test_queueing_does_not_cool_down_a_healthy_platform(loaded):
    """More GETs than the workers get through within the deadline: the late
    ones answer 504 unasked, and the platform, which answered every call it
    got, is not taken for down."""
    platform, route, session = loaded
    platform.delay = 0.2  # 8 workers: 40 calls take a second, the whole deadline
    statuses = burst(route, session, 40)
    # at least the first round of the 8 workers (more on an idle machine)
    assert set(statuses) <= {200, 504} and statuses[200] >= 8, statuses
    answer = session.get(route, timeout=10)
    assert answer.status_code == 200, answer.text
    assert len(platform.seen) == 1 + statuses[200] + 1


@pytest.mark.parametrize("loaded", [{"workers": 2, "max_waiting": 1, "deadline": 10}],
                         indirect=True)
def test_admission_serves_exactly_workers_and_waiting(loaded):
    platform, route, session = loaded
    platform.delay = 2  # long enough for a burst to arrive whole on a loaded machine
    assert burst(route, session, 3) == {200: 3}
    statuses = burst(route, session, 4)
    assert statuses == {200: 3, 503: 1}, statuses
    assert session.get(route, timeout=10).json() != {"error": _client.BUSY}


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def test_bursts_leave_the_memory_where_it_was(user_env, tmp_path):  # noqa: F811
    """Bursts of requests waiting together, more than the workers and past
    the queue: once the first ones have grown the server to its size, later
    ones leave it there (a request's greenlet or call kept would show)."""
    platform = Platform()
    with running_platform(platform) as url:
        with running_server(user_env, tmp_path, f"--ZorvikWorkspacesApp.url={url}",
                            "--ZorvikWorkspacesApp.max_waiting=200") as (base, session, proc, _):
            route = base + "api/zorvik/workspaces"
            platform.delay = 0.02
            for _ in range(4):  # grown to its size within three or four (measured)
                burst(route, session, 300)
            before = resident_kib(proc.pid)
            for _ in range(5):
                statuses = burst(route, session, 300)
                assert set(statuses) <= {200, 503, 504} and statuses[200] >= 8, statuses
            grown = resident_kib(proc.pid) - before
    # 1,500 requests: a kilobyte kept for each would be 1.5 MB
    assert grown < 1500, f"{grown} KiB"
