"""A real `jupyter server` process with the extension's options, against a
misbehaving stand-in platform: what an operator sees from outside."""
import base64
import json
import os
import subprocess
import sys
import threading
import time

import pytest
import requests

from corvanix.zorvik import _client
from helpers import free_port, stop_process_group
from test_main_command import JUPYTER, user_env, wait_for_url  # noqa: F401 (a fixture)
from zorvik_standin import Platform, inflating_body, running_platform

pytestmark = pytest.mark.slow

OPTIONS = ("url", "deadline", "cooldown", "max_answer_bytes", "store_path")
PASSWORD = "pw%2Fs3cr3t"  # "pw/s3cr3t", percent-encoded as it must be
DEADLINE = 1.0


def test_help_all_lists_the_options(user_env):  # noqa: F811
    out = subprocess.run([JUPYTER, "server", "--help-all"], env=user_env,
                         capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    for option in OPTIONS:
        assert f"\n--ZorvikWorkspacesApp.{option}=" in out.stdout, option


def peak_memory_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(next(line.split()[1] for line in f if line.startswith("VmHWM:")))


def reset_peak_memory(pid):
    """Starts the peak anew at the current size, where the kernel allows it."""
    try:
        with open(f"/proc/{pid}/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass  # then the peak of the start-up stands: growth is only measured above it


@pytest.fixture
def server(user_env, tmp_path):  # noqa: F811
    """A server with the URL on its command line and the limits in its JSON
    config file, at debug level; gives (base URL, session, process, log path)."""
    platform = Platform()
    with running_platform(platform) as platform_url:
        os.makedirs(user_env["JUPYTER_CONFIG_DIR"])
        with open(os.path.join(user_env["JUPYTER_CONFIG_DIR"], "jupyter_server_config.json"),
                  "w") as f:
            json.dump({"ZorvikWorkspacesApp": {"deadline": DEADLINE, "cooldown": 30,
                                               "max_answer_bytes": 1024 * 1024}}, f)
        log_path = tmp_path / "server.log"
        command = [os.path.join(sys.prefix, "bin", "jupyter-server"), "--debug", "--no-browser",
                   "--ip=127.0.0.1", f"--port={free_port()}", "--ServerApp.port_retries=0",
                   f"--ZorvikWorkspacesApp.url={platform_url.replace('//', f'//op:{PASSWORD}@')}"]
        if os.getuid() == 0:
            command.append("--allow-root")
        with open(log_path, "w") as log:
            proc = subprocess.Popen(command, cwd=str(tmp_path), env=user_env, stdout=log,
                                    stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                    start_new_session=True)
        try:
            base, token = wait_for_url(log_path, proc)
            session = requests.Session()
            session.headers["Authorization"] = f"token {token}"
            yield platform, base, session, proc, log_path
        finally:
            stop_process_group(proc)


def test_server_process_against_a_misbehaving_platform(server):
    platform, base, session, proc, log_path = server
    route = base + "api/zorvik/workspaces"
    assert session.get(route, timeout=10).status_code == 200

    # a platform repeating the Authorization header in its error text
    platform.mode = "echo"
    answer = session.get(route, timeout=10)
    assert (answer.status_code, answer.json()) == (
        401, {"error": "The Zorvik platform answered 401 Unauthorized."})

    # 300 KB of gzip that inflates to 150 MB
    platform.mode = "inflate"
    inflating_body(platform.inflate_bytes)
    reset_peak_memory(proc.pid)
    before = peak_memory_kb(proc.pid)
    answer = session.get(route, timeout=10)
    growth_mb = (peak_memory_kb(proc.pid) - before) / 1024
    assert (answer.status_code, answer.json()) == (502, {"error": _client.TOO_LARGE})
    assert growth_mb < 64

    # a platform dripping its answer holds the whole server the deadline at most
    platform.mode, platform.drip_interval = "drip", 0.2
    status_took = []

    def status_meanwhile():
        time.sleep(0.1)
        start = time.monotonic()
        assert session.get(base + "api/status", timeout=10).status_code == 200
        status_took.append(time.monotonic() - start)

    other = threading.Thread(target=status_meanwhile)
    start = time.monotonic()
    other.start()
    answer = session.get(route, timeout=10)
    took = time.monotonic() - start
    other.join(10)
    assert (answer.status_code, answer.json()) == (504, {"error": _client.TIMED_OUT})
    assert took < DEADLINE + 0.5 and status_took and status_took[0] < DEADLINE + 1
    # ... and, during the cool-down, not at all
    start = time.monotonic()
    answer = session.post(route, json={"workspace_id": 10}, timeout=10)
    assert time.monotonic() - start < 1
    assert answer.status_code == 504 and "next attempt in 30 s" in answer.json()["error"]

    stop_process_group(proc)
    log = log_path.read_text()
    token = base64.b64encode(b"op:pw/s3cr3t").decode()
    for secret in (PASSWORD, "pw/s3cr3t", token, token.rstrip("=")):
        assert secret not in log
    # the debug dumps of the configuration were there, masked
    assert "'url': 'http://***@127.0.0.1:" in log and "Zorvik workspaces on /api/zorvik" in log
