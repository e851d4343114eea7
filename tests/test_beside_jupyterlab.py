"""Installed into an environment that already runs JupyterLab, the package
keeps the versions the user has and its route answers under `jupyter lab`.

Slow (fresh environments, JupyterLab from the package index): runs where
WSH_SLOW_TESTS=1 asks for it, as CI does once tools/build-wheels has built the
wheels (`-m wheel` with WSH_WHEEL_DIR).
"""
import glob
import json
import os
import re
import subprocess
import sys
import time

import pytest
import requests

import corvanix
from helpers import free_port, jupyter_env, stop_process_group

pytestmark = [pytest.mark.slow, pytest.mark.wheel]

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
VERSION = "%d.%d" % sys.version_info[:2]
WATCHED = ("jupyter_server", "tornado", "requests", "jupyterlab")
INSTALL_SECONDS = 600
STARTUP_SECONDS = 90

# Per interpreter version, an older set that users still run (the newest
# JupyterLab for the interpreter is tried on every version).
OLDER = {
    "3.8": ["jupyterlab==4.0.13", "jupyter_server==2.11.2", "tornado==6.3.3", "requests==2.31.0"],
    "3.13": ["jupyterlab==4.2.5", "jupyter_server==2.14.2", "tornado==6.4.2", "requests==2.32.3"],
}
SETS = [pytest.param(["jupyterlab"], id="newest"),
        pytest.param(OLDER.get(VERSION), id="older",
                     marks=pytest.mark.skipif(VERSION not in OLDER, reason=f"no older set for {VERSION}"))]


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    """The wheel of this checkout for this interpreter: tools/build-wheels'
    when WSH_WHEEL_DIR names its output, else built here into the build tree
    the suite's install used (so nothing compiles again)."""
    if os.environ.get("WSH_SANITIZE") == "ON":
        pytest.skip("the sanitized build loads only with its runtime preloaded")
    tag = "cp%d%d" % sys.version_info[:2]
    wheel_dir = os.environ.get("WSH_WHEEL_DIR")
    if wheel_dir:
        found = glob.glob(os.path.join(wheel_dir, f"*-{tag}-{tag}-manylinux*.whl"))
        assert len(found) == 1, f"want one {tag} wheel in {wheel_dir}: {found}"
        return found[0]
    out = tmp_path_factory.mktemp("wheel")
    build_root = os.path.dirname(os.environ["WSH_BUILD_DIR"])
    subprocess.run([sys.executable, "-m", "pip", "wheel", "--quiet", "--no-deps", "--wheel-dir", str(out),
                    f"--config-settings=build-dir={build_root}/wheel-{{wheel_tag}}",
                    "--config-settings=cmake.define.WSH_SANITIZE=OFF", ROOT],
                   check=True, timeout=INSTALL_SECONDS)
    (found,) = glob.glob(str(out / "*.whl"))
    return found


def installed(python):
    out = subprocess.run([python, "-m", "pip", "list", "--format=json"], check=True,
                         capture_output=True, text=True, timeout=120).stdout
    return {p["name"].lower().replace("-", "_"): p["version"] for p in json.loads(out)}


def pip_install(python, *args):
    subprocess.run([python, "-m", "pip", "install", "--quiet", *args], check=True,
                   timeout=INSTALL_SECONDS)


def start_lab(env_dir, tmp_path, port, token):
    home = tmp_path / "home"
    home.mkdir()
    env = jupyter_env(str(home), {k: v for k, v in os.environ.items()
                                  if not k.startswith(("JUPYTER_", "WSH_", "PYTHON")) and k != "ZORVIK_URL"})
    env["HOME"] = str(home)
    log = open(tmp_path / "lab.log", "w")
    try:
        return subprocess.Popen(
            [str(env_dir / "bin" / "jupyter"), "lab", "--ip=127.0.0.1", f"--port={port}",
             "--ServerApp.port_retries=0", "--no-browser", "--allow-root",
             f"--IdentityProvider.token={token}",
             # the extension's options on lab's command line too
             f"--ZorvikWorkspacesApp.store_path={tmp_path / 'store.json'}",
             # The workspaces page as the server's default page (as tools/serve starts it).
             "--LabApp.default_url=/zorvik/workspaces"],
            cwd=str(home), env=env, stdout=log, stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL, start_new_session=True)
    finally:
        log.close()


def wait_for(url, token, proc, log_path):
    deadline = time.monotonic() + STARTUP_SECONDS
    while time.monotonic() < deadline and proc.poll() is None:
        try:
            return requests.get(url, headers={"Authorization": f"token {token}"}, timeout=5)
        except requests.ConnectionError:
            time.sleep(0.3)
    pytest.fail(f"jupyter lab did not answer (exit {proc.poll()}):\n{log_path.read_text()}")


@pytest.mark.parametrize("existing", SETS)
def test_install_beside_jupyterlab_keeps_its_versions_and_serves(existing, wheel, tmp_path):
    env_dir = tmp_path / "env"
    base_python = os.path.join(sys.base_prefix, "bin", f"python{VERSION}")
    subprocess.run([base_python, "-m", "venv", str(env_dir)], check=True, timeout=120)
    python = str(env_dir / "bin" / "python")
    # The interpreter's own pip takes many minutes to resolve JupyterLab on 3.8.
    pip_install(python, "--upgrade", "pip")
    pip_install(python, *existing)
    before = installed(python)
    assert set(WATCHED) <= set(before), before

    # As a user would: no constraints, pip's own upgrade strategy.
    pip_install(python, wheel)
    after = installed(python)
    assert after.get("corvanix_zorvik_workspace_handler") == corvanix.__version__
    changed = {name: (version, after.get(name)) for name, version in before.items()
               if after.get(name) != version}
    assert changed == {}, f"the install changed {changed}"

    # Lab finds the prebuilt extension the wheel installed, enabled and loadable.
    lab_home = tmp_path / "lab-home"
    listed = subprocess.run([str(env_dir / "bin" / "jupyter"), "labextension", "list"],
                            capture_output=True, text=True, timeout=120,
                            env=jupyter_env(str(lab_home), {"PATH": os.environ["PATH"]}))
    text = re.sub(r"\x1b\[[0-9;]*m", "", listed.stdout + listed.stderr)
    assert re.search(rf"corvanix-zorvik-workspaces v{re.escape(corvanix.__version__)} enabled +OK "
                     r"\(python, corvanix-zorvik-workspace-handler\)", text), text

    port, token = free_port(), "beside-jupyterlab-token"
    proc = start_lab(env_dir, tmp_path, port, token)
    try:
        base = f"http://127.0.0.1:{port}/"
        lab = wait_for(base + "lab", token, proc, tmp_path / "lab.log")
        assert lab.status_code == 200 and "JupyterLab" in lab.text
        route = base + "api/zorvik/workspaces"
        assert requests.get(route, timeout=10).status_code == 403
        listed = requests.get(route, headers={"Authorization": f"token {token}"}, timeout=10)
        assert listed.status_code == 200, (listed.status_code, listed.text)
        assert [w["id"] for w in listed.json()] == [1, 2, 3]
        assert (tmp_path / "store.json").is_file()
        # The page's way back leads to JupyterLab, not to the server's default page.
        start = requests.get(base, headers={"Authorization": f"token {token}"}, allow_redirects=False, timeout=10)
        assert start.headers["Location"].split("?")[0] == "/zorvik/workspaces"
        page = requests.get(base + "zorvik/workspaces", headers={"Authorization": f"token {token}"}, timeout=10)
        assert page.status_code == 200 and '<a href="/lab">' in page.text
    finally:
        stop_process_group(proc)
