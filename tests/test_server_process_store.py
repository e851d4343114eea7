"""A real `jupyter server` process on the embedded store while its disk's
syncs hang (a shim preloaded into it): reads go on, writes are answered by
their deadline without changing the file, and the server stops in time
whatever its writer waits for."""
import json
import os
import signal
import subprocess
import time

import pytest
import requests

from corvanix.zorvik import _errors, _store
from helpers import sanitizer_loaded
from test_main_command import user_env  # noqa: F401 (a fixture)
from test_server_process_cooperative import timed
from test_server_process_platform import running_server

pytestmark = [pytest.mark.slow,
              pytest.mark.skipif(sanitizer_loaded(), reason="the route runs inline there")]

HERE = os.path.dirname(os.path.abspath(__file__))
SHIM = os.path.join(HERE, os.pardir, "bench", "slow_fsync.c")
DEADLINE = 2
# Far longer than the test: a disk that does not come back.
HUNG = 300


@pytest.fixture
def slow_disk(user_env, tmp_path):  # noqa: F811
    """(environment of a server whose every fsync takes `seconds` longer,
    its store file (made beforehand, current 1)), for `seconds`."""
    shim = tmp_path / "slow_fsync.so"
    subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", str(shim), SHIM, "-ldl"], check=True)
    store = tmp_path / "store.json"
    store.write_text(json.dumps({"workspaces": [{"id": 1, "name": "a"}, {"id": 2, "name": "b"},
                                                {"id": 3, "name": "c"}],
                                 "current": 1}))
    return lambda seconds: (dict(user_env, LD_PRELOAD=str(shim),
                                 SLOW_FSYNC_SECONDS=str(seconds)), store)


def current(store):
    return json.loads(store.read_text())["current"]


# SIGINT without a terminal, as from a supervisor; the shutdown API is what
# `jupyter server stop` asks first.
@pytest.mark.parametrize("stop", ["SIGTERM", "SIGINT", "api/shutdown"])
def test_a_hung_disk_holds_neither_reads_nor_the_stop(slow_disk, tmp_path, stop):
    env, store = slow_disk(HUNG)
    with running_server(env, tmp_path, f"--ZorvikWorkspacesApp.store_path={store}",
                        f"--ZorvikWorkspacesApp.deadline={DEADLINE}") as (base, session, proc,
                                                                           log_path):
        route = base + "api/zorvik/workspaces"

        def post():
            return timed(requests.post, route, json={"workspace_id": 2},
                         headers=session.headers, timeout=DEADLINE + 30)

        posts = [post() for _ in range(10)]
        time.sleep(0.5)
        start = time.monotonic()
        answer = session.get(route, timeout=10)
        assert time.monotonic() - start < 1.5
        assert [w["current"] for w in answer.json()] == [True, False, False]
        for thread, _ in posts:
            thread.join(DEADLINE + 30)
        # each answered by its deadline, the hung one too, and none changed the file
        assert [(r["value"].status_code, r["value"].json()) for _, r in posts] == [
            (504, {"error": _store.TIMED_OUT})] * 10
        assert max(r["took"] for _, r in posts) < DEADLINE + 1.5
        assert current(store) == 1
        # The writer still hangs in the first one's sync: one more waits for it.
        waiting = post()
        time.sleep(0.5)
        start = time.monotonic()
        if stop.startswith("SIG"):
            proc.send_signal(getattr(signal, stop))
        else:
            assert session.post(base + stop, timeout=10).status_code == 200
        proc.wait(DEADLINE + 10)
        stopped = time.monotonic() - start
        waiting[0].join(10)
    assert stopped < DEADLINE + 1
    answer = waiting[1]["value"]
    assert (answer.status_code, answer.json()) == (503, {"error": _errors.STOPPING})
    assert current(store) == 1


def test_stopping_mid_write_answers_it_with_what_it_did(slow_disk, tmp_path):
    """SIGTERM while one write syncs and others wait for the writer: the one
    in progress is answered 200 and is in the file; the others 503, unmade."""
    env, store = slow_disk(1)
    with running_server(env, tmp_path, f"--ZorvikWorkspacesApp.store_path={store}",
                        "--ZorvikWorkspacesApp.deadline=10") as (base, session, proc, _):
        route = base + "api/zorvik/workspaces"
        ids = (2, 3, 2, 3, 2)  # each one a change
        posts = []
        for workspace_id in ids:
            posts.append(timed(requests.post, route, json={"workspace_id": workspace_id},
                               headers=session.headers, timeout=30))
            time.sleep(0.05)
        time.sleep(0.3)  # the first one in its file's sync
        proc.send_signal(signal.SIGTERM)
        proc.wait(15)
        for thread, _ in posts:
            thread.join(15)
    answers = [(r["value"].status_code, r["value"].json()) for _, r in posts]
    made = [i for i, answer in enumerate(answers) if answer == (200, {"success": True})]
    # the first to reach the writer (the first sent, unless the machine reordered them)
    assert len(made) == 1, answers
    assert sorted(answers, key=lambda a: a[0])[1:] == [(503, {"error": _errors.STOPPING})] * 4
    assert current(store) == ids[made[0]]


def test_two_servers_on_one_store_keep_the_change_answered_last(slow_disk, tmp_path):
    """Writes of two servers at once, on a disk slow enough that each write
    takes a while: the file holds the change whose 200 came last."""
    env, store = slow_disk(0.1)
    options = (f"--ZorvikWorkspacesApp.store_path={store}", "--ZorvikWorkspacesApp.deadline=30")
    (tmp_path / "a").mkdir()
    (tmp_path / "b").mkdir()
    with running_server(env, tmp_path / "a", *options) as (base_a, session_a, _, _), \
            running_server(env, tmp_path / "b", *options) as (base_b, session_b, _, _):
        for _ in range(3):
            posts = [(workspace_id, timed(requests.post, base + "api/zorvik/workspaces",
                                          json={"workspace_id": workspace_id},
                                          headers=session.headers, timeout=60))
                     for workspace_id, (base, session) in zip(
                         (2, 3) * 4, [(base_a, session_a), (base_b, session_b)] * 4)]
            for _, (thread, _) in posts:
                thread.join(60)
            assert [r["value"].status_code for _, (_, r) in posts] == [200] * 8
            last = max(posts, key=lambda p: p[1][1]["ended"])[0]
            assert current(store) == last
