"""The README's main command, started as a user would, and the installed files."""
import ast
import importlib.util
import json
import os
import re
import socket
import subprocess
import sys
import time

import pytest
import requests

import corvanix
from helpers import free_port, jupyter_env, stop_process_group

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERVE = os.path.join(ROOT, "tools", "serve")
JUPYTER = os.path.join(sys.prefix, "bin", "jupyter")
STARTUP_SECONDS = 60



@pytest.fixture
def user_env(tmp_path):
    """An environment whose Jupyter directories and home are all temporary."""
    env = jupyter_env(str(tmp_path), base={
        k: v for k, v in os.environ.items()
        if not k.startswith("JUPYTER_") and k not in ("ZORVIK_URL", "PYTHONPATH")})
    env.update(HOME=str(tmp_path / "home"),
               # the suite has just installed this checkout into this environment
               VENV=sys.prefix, PYTHON=sys.executable)
    os.makedirs(env["HOME"])
    return env


def wait_for_url(log_path, proc):
    """The server's URL with its token, as the server logs it, once the
    server takes connections: it logs the URL before its loop runs, and
    binds the port only then."""
    base, port, token = wait_for(r"(http://127\.0\.0\.1:(\d+)/)\?token=([0-9a-f]{16,})",
                                 log_path, proc)
    deadline = time.monotonic() + STARTUP_SECONDS
    while proc.poll() is None and time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", int(port)), timeout=5).close()
            return base, token
        except OSError:
            time.sleep(0.1)
    with open(log_path) as f:
        pytest.fail(f"the server never took connections (exit {proc.poll()}):\n{f.read()}")


def wait_for(pattern, log_path, proc):
    """The groups of the first match of `pattern` in the log, once it is there."""
    deadline = time.monotonic() + STARTUP_SECONDS
    while time.monotonic() < deadline:
        with open(log_path) as f:
            match = re.search(pattern, f.read())
        if match:
            return match.groups()
        if proc.poll() is not None:
            break
        time.sleep(0.2)
    with open(log_path) as f:
        pytest.fail(f"no match for {pattern} (exit {proc.poll()}):\n{f.read()}")


@pytest.mark.slow
def test_main_command_s_server_mode_serves_the_embedded_store_at_its_page(user_env, tmp_path):
    port = free_port()
    root = tmp_path / "notebooks"
    root.mkdir()
    (root / "mine.txt").write_text("x")
    log_path = tmp_path / "serve.log"
    with open(log_path, "w") as log:
        proc = subprocess.Popen([SERVE, "--server", f"--port={port}", "--ServerApp.port_retries=0"],
                                cwd=str(root), env=user_env, stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True)
    try:
        page, token = wait_for(r"serve: the workspaces page: (http://\S+/zorvik/workspaces)\?token=(\w+)\n",
                               log_path, proc)
        base = f"http://127.0.0.1:{port}/"
        assert page == base + "zorvik/workspaces"
        # the suite installed these very sources: nothing to build again
        assert "installing" not in log_path.read_text()
        url = base + "api/zorvik/workspaces"
        auth = {"Authorization": f"token {token}"}

        assert requests.get(url, timeout=10).status_code == 403
        # the lines it prints for a shell ask the route as they are
        pasted = wait_for(r"ready to paste:\n((?:    .*\n)+)", log_path, proc)[0]
        # curl is not ours to run under the runtime the sanitized run
        # preloads (it hangs there)
        shell_env = {k: v for k, v in user_env.items() if k != "LD_PRELOAD"}
        asked = subprocess.run(["bash", "-c", pasted.replace("curl ", "curl -s ")],
                               capture_output=True, text=True, timeout=30, env=shell_env)
        assert [w["id"] for w in json.loads(asked.stdout)] == [1, 2, 3], asked
        listed = requests.get(url, headers=auth, timeout=10)
        assert listed.status_code == 200
        assert [w["id"] for w in listed.json()] == [1, 2, 3]
        posted = requests.post(url, headers=auth, json={"workspace_id": 3}, timeout=10)
        assert (posted.status_code, posted.json()) == (200, {"success": True})
        assert [w["id"] for w in requests.get(url, headers=auth, timeout=10).json() if w["current"]] == [3]
        store = tmp_path / "data" / "corvanix" / "zorvik-workspaces.json"
        assert json.loads(store.read_text())["current"] == 3

        # the server's front page is the workspaces page; its files are those
        # of the directory serve was started from
        front = requests.get(base, headers=auth, allow_redirects=False, timeout=10)
        assert front.status_code == 302
        assert front.headers["Location"].partition("?")[0] == "/zorvik/workspaces"
        assert requests.get(page, params={"token": token}, timeout=10).status_code == 200
        files = requests.get(base + "api/contents", headers=auth, timeout=10).json()["content"]
        assert [f["name"] for f in files] == ["mine.txt"]
    finally:
        stop_process_group(proc)


@pytest.mark.slow
@pytest.mark.skipif(importlib.util.find_spec("jupyterlab") is None,
                    reason="JupyterLab is not installed (the test group has it on CPython 3.13)")
def test_main_command_lands_in_jupyterlab_with_the_panel_open(user_env, tmp_path):
    port = free_port()
    log_path = tmp_path / "serve.log"
    with open(log_path, "w") as log:
        proc = subprocess.Popen([SERVE, f"--port={port}", "--ServerApp.port_retries=0"],
                                cwd=str(tmp_path), env=user_env, stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True)
    try:
        lab, token = wait_for(r"serve: JupyterLab with the Zorvik workspaces panel: (http://\S+/lab)\?token=(\w+)\n",
                              log_path, proc)
        base = f"http://127.0.0.1:{port}/"
        assert lab == base + "lab"
        assert "installing" not in log_path.read_text()
        auth = {"Authorization": f"token {token}"}
        page = requests.get(lab, headers=auth, timeout=10)
        assert page.status_code == 200 and "JupyterLab" in page.text
        # Lab knows the extension, and its first layout has the panel open.
        extensions = requests.get(base + "lab/api/extensions", headers=auth, timeout=10).json()
        assert any(e["name"] == "corvanix-zorvik-workspaces" and e["enabled"] for e in extensions), extensions
        layout = requests.get(base + "lab/api/workspaces/default", headers=auth, timeout=10).json()
        assert layout["data"]["layout-restorer:data"]["left"]["current"] == "zorvik-workspaces-panel"
        assert requests.get(base + "api/zorvik/workspaces", headers=auth, timeout=10).status_code == 200
    finally:
        stop_process_group(proc)


def test_extension_is_enabled_by_the_install(user_env):
    out = subprocess.run([JUPYTER, "server", "extension", "list"], env=user_env,
                         capture_output=True, text=True, timeout=60)
    text = re.sub(r"\x1b\[[0-9;]*m", "", out.stdout + out.stderr)
    assert re.search(r"corvanix\.server\.extension\s+enabled", text), text
    assert re.search(r"corvanix\.server\.extension\s+" + re.escape(corvanix.__version__) + r"\s+OK",
                     text), text


def test_type_information_is_installed(wh):
    assert os.path.isfile(os.path.join(os.path.dirname(corvanix.__file__), "py.typed"))
    stub = os.path.join(os.path.dirname(wh.__file__), "workspace_handler.pyi")
    source = open(stub).read()
    (cls,) = [n for n in ast.parse(source).body if isinstance(n, ast.ClassDef)]
    assert cls.name == "ZRVZorvikWorkspaceHandler" and [b.id for b in cls.bases] == ["APIHandler"]
    stubbed = {f.name: f for f in cls.body if isinstance(f, ast.FunctionDef)}
    assert set(stubbed) == {"_finish_with_result", "get", "post"}
    for name, node in stubbed.items():
        method = getattr(wh.ZRVZorvikWorkspaceHandler, name)
        method = getattr(method, "__wrapped__", method)  # get and post are decorated
        code = method.__code__
        assert [a.arg for a in node.args.args] == list(code.co_varnames[:code.co_argcount])
        annotations = {a.arg: ast.get_source_segment(source, a.annotation)
                       for a in node.args.args if a.annotation is not None}
        annotations["return"] = ast.get_source_segment(source, node.returns)
        assert annotations == method.__annotations__
