"""Waits for the Jupyter server of a process to answer, then prints the
address of its workspaces page, token included, and the lines that ask its
API from a shell, ready to paste (tools/serve).

    page_address.py PID [--lab]

With --lab, the address of JupyterLab (where the Zorvik panel is) instead.

The address comes from the server's own information file (jpserver-PID.json
in Jupyter's runtime directory). Ends quietly when the process ends first.
"""
import json
import os
import shlex
import ssl
import sys
import time
import urllib.error
import urllib.parse
import urllib.request

from jupyter_core.paths import jupyter_runtime_dir

PAGE = "zorvik/workspaces"
LAB = "lab"
WAIT_SECONDS = 300
POLL_SECONDS = 0.2


def page_address(info, page=PAGE):
    """The page's address from the server's information file."""
    address = info["url"] + page
    if info.get("token"):
        address += "?" + urllib.parse.urlencode({"token": info["token"]})
    return address


def api_lines(info):
    """The shell lines that ask the route, the token exported first."""
    url = info["url"] + "api/zorvik/workspaces"
    if not info.get("token"):
        return [f"curl {shlex.quote(url)}"]
    return [f"export TOKEN={shlex.quote(info['token'])}",
            f'curl -H "Authorization: token $TOKEN" {shlex.quote(url)}']


def _answers(url):
    context = None
    if url.startswith("https:"):
        # Whether it answers, not whom: a server of its own with a certificate
        # of its own answers too.
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
    try:
        with urllib.request.urlopen(url + "api", timeout=5, context=context):
            return True
    except urllib.error.HTTPError:
        return True
    except (OSError, ValueError):
        return False


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def _info(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None  # not yet written, or half written


def main(pid, lab=False):
    path = os.path.join(jupyter_runtime_dir(), f"jpserver-{pid}.json")
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline and _alive(pid):
        info = _info(path)
        if info and (not info["url"].startswith(("http:", "https:")) or _answers(info["url"])):
            if lab:
                print(f"serve: JupyterLab with the Zorvik workspaces panel: {page_address(info, LAB)}",
                      flush=True)
            print(f"serve: the workspaces page: {page_address(info)}", flush=True)
            print("serve: its API from a shell, ready to paste:", flush=True)
            for line in api_lines(info):
                print(f"    {line}", flush=True)
            return 0
        time.sleep(POLL_SECONDS)
    return 1


if __name__ == "__main__":
    sys.exit(main(int(sys.argv[1]), lab=sys.argv[2:] == ["--lab"]))
