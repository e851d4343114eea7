"""A real `jupyter server` process while platform calls wait: the server
serves others meanwhile, calls overlap, a client that leaves or a server
that stops leaves nothing broken behind."""
import signal
import socket
import threading
import time

import pytest
import requests

from corvanix.zorvik import _client, _errors
from helpers import sanitizer_loaded
from test_main_command import user_env  # noqa: F401 (a fixture)
from test_server_process_platform import DEADLINE, running_server, server  # noqa: F401 (a fixture)
from zorvik_standin import Platform, running_platform

pytestmark = [pytest.mark.slow,
              pytest.mark.skipif(sanitizer_loaded(), reason="the route runs inline there")]


def timed(fn, *args, **kwargs):
    """(seconds fn took, what it returned), from another thread."""
    result = {}

    def run():
        start = time.monotonic()
        try:
            result["value"] = fn(*args, **kwargs)
        except requests.exceptions.RequestException as e:
            result["value"] = e
        result["took"] = time.monotonic() - start
        result["ended"] = time.monotonic()

    thread = threading.Thread(target=run)
    thread.start()
    return thread, result


def assert_quiet(log_path):
    """No traceback nor complaint of asyncio's in the server's log (the
    server logs each 5xx answer on its own)."""
    log = log_path.read_text()
    for sign in ("Traceback", "Uncaught exception", "Exception in callback",
                 "Task was destroyed", "never retrieved"):
        assert sign not in log, log


def test_status_answers_while_a_call_waits_on_a_stalled_platform(server):  # noqa: F811
    platform, base, session, proc, log_path = server
    route = base + "api/zorvik/workspaces"
    assert session.get(route, timeout=10).status_code == 200
    platform.mode = "stall"
    call, called = timed(session.get, route, timeout=10)
    time.sleep(0.2)
    status, statused = timed(session.get, base + "api/status", timeout=10)
    for thread in (status, call):
        thread.join(15)
    assert statused["value"].status_code == 200
    answer = called["value"]
    assert (answer.status_code, answer.json()) == (504, {"error": _client.TIMED_OUT})
    # the server answered while the call waited, which it did until its deadline
    assert statused["ended"] < called["ended"]
    assert DEADLINE <= called["took"] < DEADLINE + 1


def test_concurrent_calls_overlap(server):  # noqa: F811
    platform, base, session, proc, log_path = server
    route = base + "api/zorvik/workspaces"
    assert session.get(route, timeout=10).status_code == 200
    # ten calls on eight workers: two rounds, well within the deadline
    platform.delay = 0.3
    calls = [timed(requests.get, route, headers=session.headers, timeout=10) for _ in range(10)]
    start = time.monotonic()
    for thread, _ in calls:
        thread.join(15)
    took = time.monotonic() - start
    assert [result["value"].status_code for _, result in calls] == [200] * 10
    # one after the other they would take 10 delays
    assert took < 10 * platform.delay * 0.8


def test_client_leaving_mid_call_leaves_nothing_in_the_log(server):  # noqa: F811
    platform, base, session, proc, log_path = server
    route = base + "api/zorvik/workspaces"
    assert session.get(route, timeout=10).status_code == 200
    platform.mode = "stall"
    host, port = base.split("//")[1].strip("/").split(":")
    with socket.create_connection((host, int(port)), timeout=10) as sock:
        sock.sendall(f"GET /api/zorvik/workspaces HTTP/1.1\r\nHost: {host}:{port}\r\n"
                     f"Authorization: {session.headers['Authorization']}\r\n\r\n".encode())
        time.sleep(0.3)  # the call waits on the platform
    time.sleep(DEADLINE + 0.5)  # ... and ends
    platform.mode = None
    # the platform failed, so the next request within the cool-down fails at once
    answer = session.get(route, timeout=10)
    assert answer.status_code == 504 and "next attempt" in answer.json()["error"]
    assert session.get(base + "api/status", timeout=10).status_code == 200
    proc.send_signal(signal.SIGTERM)
    proc.wait(15)
    assert_quiet(log_path)


def test_stopping_the_server_with_calls_in_flight(server):  # noqa: F811
    platform, base, session, proc, log_path = server
    route = base + "api/zorvik/workspaces"
    assert session.get(route, timeout=10).status_code == 200
    platform.mode = "stall"
    calls = [timed(requests.get, route, headers=session.headers, timeout=10) for _ in range(3)]
    time.sleep(0.3)
    start = time.monotonic()
    proc.send_signal(signal.SIGTERM)
    proc.wait(15)
    stopped = time.monotonic() - start
    for thread, _ in calls:
        thread.join(15)
    # the calls in flight end by their deadline, and the server with them
    assert stopped < DEADLINE + 2
    # each client was told what became of its call (the platform did not
    # answer in time), or its connection ended with the server
    for _, result in calls:
        answer = result["value"]
        if isinstance(answer, requests.Response):
            assert (answer.status_code, answer.json()) == (504, {"error": _client.TIMED_OUT})
    assert_quiet(log_path)


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGINT])
def test_stopping_answers_the_requests_that_wait(user_env, tmp_path, signum):  # noqa: F811
    # Started without a terminal, as by a supervisor: SIGINT stops it as
    # SIGTERM does, and the requests no worker had are told so.
    platform = Platform()
    with running_platform(platform) as url:
        platform.mode = "stall"
        with running_server(dict(user_env, ZORVIK_URL=url), tmp_path,
                            "--ZorvikWorkspacesApp.deadline=5",
                            "--ZorvikWorkspacesApp.workers=2") as (base, session, proc, log_path):
            route = base + "api/zorvik/workspaces"
            calls = [timed(requests.get, route, headers=session.headers, timeout=20)
                     for _ in range(6)]
            time.sleep(2)  # all six asked; two with a worker, four waiting
            proc.send_signal(signum)
            proc.wait(15)
            for thread, _ in calls:
                thread.join(20)
    answers = [r["value"] for _, r in calls]
    stopping = [a for a in answers if isinstance(a, requests.Response)
                and (a.status_code, a.json()) == (503, {"error": _errors.STOPPING})]
    assert len(stopping) == 4, answers
