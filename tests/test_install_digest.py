"""The commands install again exactly when what an install reads has changed
(tools/install_digest.py): a stale install would serve and test old code."""
import os
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from install_digest import digest  # noqa: E402


def write(path, text):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)


@pytest.fixture
def checkout(tmp_path):
    root = tmp_path / "checkout"
    for name, text in {"pyproject.toml": "[project]\n", "module/entry.cpp": "int x;\n",
                       "src/corvanix/__init__.py": "", "tests/test_x.py": "", "docs/page.png": "png",
                       ".gitignore": "/build/\n", "constraints/py3.8.txt": "a==1\n"}.items():
        write(root / name, text)
    git = ["git", "-C", str(root), "-c", "user.name=t", "-c", "user.email=t@localhost"]
    subprocess.run(git + ["init", "-q"], check=True)
    subprocess.run(git + ["add", "-A"], check=True)
    subprocess.run(git + ["commit", "-q", "-m", "start"], check=True)
    return root


def _edit(name, text="changed\n"):
    return lambda root: write(root / name, text)


@pytest.mark.parametrize("change, installs_again", [
    (_edit("module/entry.cpp"), True),
    (_edit("src/corvanix/_version.py"), True),  # new, not yet added
    (lambda root: (root / "module" / "entry.cpp").unlink(), True),
    (lambda root: (root / "module" / "entry.cpp").rename(root / "module" / "main.cpp"), True),
    (_edit("tests/test_x.py"), False),
    (_edit("docs/page.png"), False),
    (_edit("constraints/py3.8.txt"), False),  # the commands name their own pins
    (_edit("build/wheel/CMakeCache.txt"), False),  # ignored by git
], ids=["edited", "added", "deleted", "renamed", "tests", "docs", "pins", "build tree"])
def test_digest_changes_with_what_an_install_reads(checkout, change, installs_again):
    before = digest(str(checkout))
    change(checkout)
    assert (digest(str(checkout)) != before) == installs_again


def test_digest_covers_the_pins_and_options_it_is_given(checkout):
    pins = checkout / "constraints" / "py3.8.txt"
    before = digest(str(checkout), [str(pins)], ["sanitize=OFF"])
    assert digest(str(checkout), [str(pins)], ["sanitize=ON"]) != before
    write(pins, "a==2\n")
    assert digest(str(checkout), [str(pins)], ["sanitize=OFF"]) != before


def test_no_digest_outside_a_git_checkout(tmp_path, monkeypatch):
    # then every command installs
    monkeypatch.setenv("GIT_CEILING_DIRECTORIES", str(tmp_path))
    write(tmp_path / "plain" / "pyproject.toml", "")
    assert digest(str(tmp_path / "plain")) is None
