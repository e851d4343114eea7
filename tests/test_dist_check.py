"""The check every built wheel passes before it lands in dist/: it refuses a
wheel that lacks what users need or carries what they must not get."""
import io
import os
import sys
import tarfile
import zipfile

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import check_dist  # noqa: E402

NAME = "corvanix_zorvik_workspace_handler-0.1.0"
GOOD = [
    "corvanix/__init__.py",
    "corvanix/py.typed",
    "corvanix/zorvik/_client.py",
    "corvanix/server/handlers/zorvik/workspace_handler.cpython-38-x86_64-linux-gnu.so",
    "corvanix/server/handlers/zorvik/workspace_handler.pyi",
    f"{NAME}.data/data/etc/jupyter/jupyter_server_config.d/corvanix.json",
    *(f"{NAME}.data/data/share/jupyter/labextensions/corvanix-zorvik-workspaces/{f}"
      for f in ["package.json", "install.json", "schemas/corvanix-zorvik-workspaces/plugin.json",
                "static/remoteEntry.8a1e15419c38be7e05ef.js"]),
    f"{NAME}.dist-info/METADATA",
    f"{NAME}.dist-info/entry_points.txt",
    f"{NAME}.dist-info/licenses/LICENSE",
]
SCRIPTS = "[console_scripts]\njupyter-zorvik-workspaces = corvanix.server.extension:main\n"
GOOD_TAG = "cp38-cp38-manylinux2014_x86_64.manylinux_2_17_x86_64"
GLIBC = (2, 36)
REQUIRED = ["jupyter-server<3,>=2.11.2", "urllib3<3,>=2.2.3", 'pytest>=8.3; extra == "test"']
CLIENT = """import json
import urllib3.exceptions
from jupyter_server.utils import url_path_join
from corvanix.zorvik import _url
from . import _answer
"""


def wheel(tmp_path, names, tag=GOOD_TAG, scripts=SCRIPTS, required=REQUIRED,
          license="License-Expression: BSD-3-Clause\n"):
    metadata = "Metadata-Version: 2.4\nName: corvanix-zorvik-workspace-handler\nVersion: 0.1.0\n" + \
        license + "".join(f"Requires-Dist: {r}\n" for r in required)
    content = {f"{NAME}.dist-info/METADATA": metadata, f"{NAME}.dist-info/entry_points.txt": scripts,
               "corvanix/zorvik/_client.py": CLIENT}
    path = tmp_path / f"{NAME}-{tag}.whl"
    with zipfile.ZipFile(path, "w") as z:
        for name in names:
            z.writestr(name, content.get(name, ""))
    return str(path)


def test_a_complete_wheel_passes(tmp_path):
    assert check_dist.check_wheel(wheel(tmp_path, GOOD), GLIBC) == []


SCRIPT_MISSING = "no console script jupyter-zorvik-workspaces"


@pytest.mark.parametrize("names, tag, problem", [
    ([n for n in GOOD if not n.endswith(".pyi")], GOOD_TAG, "workspace_handler.pyi"),
    ([n for n in GOOD if not n.endswith(".json")], GOOD_TAG, "jupyter_server_config.d"),
    ([n for n in GOOD if not n.endswith("py.typed")], GOOD_TAG, "py.typed"),
    ([n for n in GOOD if not n.endswith("entry_points.txt")], GOOD_TAG, SCRIPT_MISSING),
    # nothing of ours may run at every interpreter start
    (GOOD + ["corvanix-serverapp-hook.pth"], GOOD_TAG, "holds corvanix-serverapp-hook.pth"),
    # a module built for another interpreter does not import here
    (GOOD, "cp39-cp39-manylinux_2_17_x86_64", "no native module for cp39"),
    (GOOD, "cp38-cp38-linux_x86_64", "no manylinux tag"),
    (GOOD, "cp38-cp38-manylinux_2_39_x86_64", "no manylinux tag"),
    (GOOD + ["tests/test_get.py"], GOOD_TAG, "holds tests/test_get.py"),
    (GOOD + ["build/wheel-cp38/CMakeCache.txt"], GOOD_TAG, "holds build/"),
    (GOOD + ["corvanix/_wsh_testmod.cpython-38-x86_64-linux-gnu.so"], GOOD_TAG, "_wsh_testmod"),
    (GOOD + ["corvanix/server/__pycache__/extension.cpython-38.pyc"], GOOD_TAG, "__pycache__"),
    # Lab would list the extension and fail to load it
    ([n for n in GOOD if "remoteEntry" not in n], GOOD_TAG, "static/remoteEntry"),
    ([n for n in GOOD if not n.endswith("install.json")], GOOD_TAG, "install.json"),
    (GOOD + ["corvanix/labextension/package.json"], GOOD_TAG, "holds corvanix/labextension/"),
])
def test_an_incomplete_or_tainted_wheel_is_refused(tmp_path, names, tag, problem):
    problems = check_dist.check_wheel(wheel(tmp_path, names, tag), GLIBC)
    assert any(problem in p for p in problems), problems


@pytest.mark.parametrize("scripts", [
    "[console_scripts]\njupyter-zorvik-workspaces = corvanix.server.extension:other\n",
    # a GUI script is no command on the PATH of a terminal
    "[gui_scripts]\njupyter-zorvik-workspaces = corvanix.server.extension:main\n",
])
def test_a_wrong_console_script_is_refused(tmp_path, scripts):
    problems = check_dist.check_wheel(wheel(tmp_path, GOOD, scripts=scripts), GLIBC)
    assert problems == [SCRIPT_MISSING]


@pytest.mark.parametrize("required, problem", [
    (REQUIRED[1:], "imports jupyter_server but does not require it"),
    (REQUIRED + ["cmake>=3.20"], "requires cmake of every user but imports it nowhere"),
])
def test_a_wheel_must_require_what_it_imports_and_no_more(tmp_path, required, problem):
    assert check_dist.check_wheel(wheel(tmp_path, GOOD, required=required), GLIBC) == [problem]


LICENSE_UNDECLARED = "declares no License-Expression BSD-3-Clause"


@pytest.mark.parametrize("names, license, problems", [
    ([n for n in GOOD if not n.endswith("/LICENSE")], "License-Expression: BSD-3-Clause\n",
     ["no licence text (.dist-info/licenses/LICENSE)"]),
    (GOOD, "", [LICENSE_UNDECLARED]),
    # the field of old metadata is free text, not the expression
    (GOOD, "License: BSD\n", [LICENSE_UNDECLARED]),
])
def test_a_wheel_without_its_licence_is_refused(tmp_path, names, license, problems):
    assert check_dist.check_wheel(wheel(tmp_path, names, license=license), GLIBC) == problems


def sdist(tmp_path, names):
    path = tmp_path / f"{NAME}.tar.gz"
    with tarfile.open(path, "w:gz") as tar:
        for name in names:
            info = tarfile.TarInfo(f"{NAME}/{name}")
            tar.addfile(info, io.BytesIO(b""))
    return str(path)


def test_an_sdist_without_its_licence_is_refused(tmp_path):
    assert check_dist.check_sdist(sdist(tmp_path, check_dist.SDIST_REQUIRED)) == []
    required = [n for n in check_dist.SDIST_REQUIRED if n != "LICENSE"]
    assert check_dist.check_sdist(sdist(tmp_path, required)) == ["no LICENSE"]
