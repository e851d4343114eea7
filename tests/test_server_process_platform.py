"""A real `jupyter server` process with the extension's options, against a
misbehaving stand-in platform: what an operator sees from outside."""
import base64
import contextlib
import json
import socket
import os
import re
import signal
import subprocess
import sys
import threading
import time

import pytest
import requests

import corvanix
from corvanix.zorvik import _cause, _client
from helpers import free_port, stop_process_group
from test_main_command import JUPYTER, user_env, wait_for, wait_for_url  # noqa: F401 (a fixture)
from zorvik_standin import Platform, inflating_body, running_platform

pytestmark = pytest.mark.slow

OPTIONS = ("url", "username", "password_file", "deadline", "cooldown", "max_answer_bytes",
           "ca_bundle", "store_path", "max_store_bytes", "workers", "max_waiting", "cooperative")
PASSWORD = "pw/s3cr3t"
DEADLINE = 1.0


def test_console_script_lists_the_options(user_env):  # noqa: F811
    out = subprocess.run([JUPYTER, "zorvik-workspaces", "--help-all"], env=user_env,
                         capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    # each option's block: its line and the indented help below it (the
    # application's inherited options are listed too)
    blocks = dict(re.findall(r"^--ZorvikWorkspacesApp\.(\w+)=.*\n((?:    .*\n)*)", out.stdout,
                             re.MULTILINE))
    for option in OPTIONS:
        assert blocks[option].count("Default:") == 1, (option, blocks.get(option))
    assert "Default: True" in blocks["cooperative"]
    version = subprocess.run([JUPYTER, "zorvik-workspaces", "--version"], env=user_env,
                             capture_output=True, text=True, timeout=60)
    assert version.stdout.strip() == corvanix.__version__, version


def test_console_script_serves_the_store_on_loopback(user_env, tmp_path):  # noqa: F811
    # the README's example, as given (as root too), with a port of the test's own
    store = tmp_path / "ws.json"
    port = free_port()
    log_path = tmp_path / "command.log"
    with open(log_path, "w") as log:
        proc = subprocess.Popen([JUPYTER, "zorvik-workspaces", f"--ZorvikWorkspacesApp.store_path={store}",
                                 f"--port={port}", "--ServerApp.port_retries=0", "--no-browser"],
                                cwd=str(tmp_path), env=user_env, stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True)
    try:
        (token,) = wait_for(rf"http://127\.0\.0\.1:{port}/\S*\?token=(\w+)", log_path, proc)
        url = f"http://127.0.0.1:{port}/api/zorvik/workspaces"
        deadline = time.monotonic() + 60
        while True:
            try:
                answer = requests.get(url, headers={"Authorization": f"token {token}"}, timeout=10)
                break
            except requests.ConnectionError:
                assert time.monotonic() < deadline and proc.poll() is None, log_path.read_text()
                time.sleep(0.2)
        assert [w["id"] for w in answer.json()] == [1, 2, 3]
        assert json.loads(store.read_text())["workspaces"]
        # nothing listens beyond loopback
        with pytest.raises(OSError):
            socket.create_connection((_outward_address(), port), timeout=2).close()
    finally:
        stop_process_group(proc)


def _outward_address():
    """An address of this machine's that is not loopback (the one its
    outward route leaves from); no packet is sent."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.connect(("192.0.2.1", 9))
        return probe.getsockname()[0]


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


def _interruptible():
    # SIGINT reaches the server as it reaches a supervisor's: a shell ignores
    # it for what it starts in the background (as CI's lanes are), and the
    # server would inherit that.
    signal.signal(signal.SIGINT, signal.SIG_DFL)


@contextlib.contextmanager
def running_server(env, tmp_path, *options):
    """`jupyter server` at debug level with `options`; gives (base URL,
    session with the token, process, log path)."""
    log_path = tmp_path / "server.log"
    command = [os.path.join(sys.prefix, "bin", "jupyter-server"), "--debug", "--no-browser",
               "--ip=127.0.0.1", f"--port={free_port()}", "--ServerApp.port_retries=0", *options]
    if os.getuid() == 0:
        command.append("--allow-root")
    with open(log_path, "w") as log:
        proc = subprocess.Popen(command, cwd=str(tmp_path), env=env, stdout=log,
                                stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                start_new_session=True, preexec_fn=_interruptible)
    try:
        base, token = wait_for_url(log_path, proc)
        session = requests.Session()
        session.headers["Authorization"] = f"token {token}"
        yield base, session, proc, log_path
    except Exception:
        # A failure shows how the server ended and what it logged.
        stop_process_group(proc)
        print(f"server exit status {proc.returncode}; its log:\n{log_path.read_text()}")
        raise
    finally:
        stop_process_group(proc)


@pytest.fixture
def server(user_env, tmp_path):  # noqa: F811
    """A server with the URL and the credentials' options on its command line
    and the limits in its JSON config file; gives (stand-in, base URL,
    session, process, log path)."""
    platform = Platform()
    with running_platform(platform) as platform_url:
        platform.url = platform_url
        os.makedirs(user_env["JUPYTER_CONFIG_DIR"])
        with open(os.path.join(user_env["JUPYTER_CONFIG_DIR"], "jupyter_server_config.json"),
                  "w") as f:
            json.dump({"ZorvikWorkspacesApp": {"deadline": DEADLINE, "cooldown": 30,
                                               "max_answer_bytes": 1024 * 1024}}, f)
        password_file = tmp_path / "password"
        password_file.write_text(PASSWORD + "\n")
        password_file.chmod(0o600)
        with running_server(user_env, tmp_path, f"--ZorvikWorkspacesApp.url={platform_url}",
                            "--ZorvikWorkspacesApp.username=op",
                            f"--ZorvikWorkspacesApp.password_file={password_file}") as running:
            yield (platform, *running)


@pytest.mark.slow
def test_server_process_against_a_misbehaving_platform(server):
    platform, base, session, proc, log_path = server
    route = base + "api/zorvik/workspaces"
    assert session.get(route, timeout=10).status_code == 200
    assert platform.seen[0]["authorization"] == "Basic " + base64.b64encode(
        f"op:{PASSWORD}".encode()).decode()

    # a platform repeating the Authorization header in its error text
    platform.mode = "echo"
    answer = session.get(route, timeout=10)
    assert (answer.status_code, answer.json()) == (
        502, {"error": "The Zorvik platform answered 401 Unauthorized."})

    # an answer that is not HTTP: asked once, and no cool-down
    platform.mode = "many-headers"
    for _ in range(2):
        answer = session.get(route, timeout=10)
        assert (answer.status_code, answer.json()) == (502, {"error": _cause.NOT_HTTP})
    assert len(platform.seen) == 4

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
    assert DEADLINE <= took < DEADLINE + 3 and status_took and status_took[0] < DEADLINE + 3
    # ... and, during the cool-down, not at all
    seen = len(platform.seen)
    answer = session.post(route, json={"workspace_id": 10}, timeout=10)
    assert answer.status_code == 504 and "next attempt in 30 s" in answer.json()["error"]
    assert len(platform.seen) == seen

    stop_process_group(proc)
    log = log_path.read_text()
    token = base64.b64encode(f"op:{PASSWORD}".encode()).decode()
    for secret in (PASSWORD, "pw%2Fs3cr3t", "s3cr3t", token, token.rstrip("=")):
        assert secret not in log
    # each failing call named in one line, the cool-down's repeat counted
    platform_base = re.escape(platform.url)
    for cause in (r"answered status 401\.", r"answer not valid HTTP \(got more than 100 headers\)\.",
                  r"answer larger than the size limit of 1048576 bytes\.",
                  r"timed out after 1 s waiting for the answer\. Requests to it fail at once for "
                  r"the next 30 s\."):
        assert len(re.findall(rf"\[W [^\]]+ZorvikWorkspacesApp\] Zorvik platform {platform_base}: "
                              rf"{cause}\n", log)) == 1, (cause, log)
    # the options reached the extension from the command line
    assert re.search(r"Zorvik workspaces on /api/zorvik/workspaces, from the Zorvik platform at "
                     r"http://127\.0\.0\.1:\d+ \(deadline 1 s", log), log


def raw_request(base, head):
    """The status line and headers a server answers to `head` (a request's
    start line and headers, without the body they announce)."""
    address = base.split("//")[1].strip("/")
    host, port = address.split(":")
    with socket.create_connection((host, int(port)), timeout=10) as sock:
        sock.sendall(head.format(host=address).encode() + b"\r\n\r\n")
        answer = b""
        while b"\r\n\r\n" not in answer:
            chunk = sock.recv(65536)
            if not chunk:
                break
            answer += chunk
    return answer.split(b"\r\n\r\n")[0].decode()


@pytest.mark.slow
def test_server_process_refuses_large_and_anonymous_bodies_unread(user_env, tmp_path):  # noqa: F811
    """Announced but never sent, the bodies cannot have been read before the answers."""
    fifo = tmp_path / "store.json"
    os.mkfifo(str(fifo))
    with running_server(user_env, tmp_path, f"--ZorvikWorkspacesApp.store_path={fifo}") as (
            base, session, proc, log_path):
        route = base + "api/zorvik/workspaces"
        token = session.headers["Authorization"]
        head = "POST /api/zorvik/workspaces HTTP/1.1\r\nHost: {host}\r\n"
        large = raw_request(base, head + f"Authorization: {token}\r\nContent-Length: 100000000")
        anonymous = raw_request(base, head + "Content-Length: 1000")
        assert large.startswith("HTTP/1.1 413 "), large
        assert anonymous.startswith("HTTP/1.1 403 "), anonymous
        # a FIFO at the store path answers at once; nothing waits for a writer
        for answer in (session.get(route, timeout=10),
                       session.post(route, json={"workspace_id": 1}, timeout=10)):
            assert (answer.status_code, answer.json()) == (
                500, {"error": "The workspace store is not a regular file."})
        assert session.get(base + "api/status", timeout=10).status_code == 200
