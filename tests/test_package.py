"""The built package: where the module lands, what it exports, its constant table."""
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import zlib

import pytest


def test_installed_inside_the_package_tree(wh):
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    expected_tail = os.path.join("corvanix", "server", "handlers", "zorvik", "workspace_handler" + suffix)
    assert wh.__file__.endswith(expected_tail)
    assert wh.__name__ == "corvanix.server.handlers.zorvik.workspace_handler"


def test_imports_from_the_checkout_root(wh):
    # The checkout's package tree (without the built module) must not shadow
    # the installed one for a user who starts Python in the checkout.
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    proc = subprocess.run(
        [sys.executable, "-c", "import corvanix.server.handlers.zorvik.workspace_handler as m; "
         "print(m.__file__)"], cwd=root, capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == wh.__file__


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
def test_exports_only_the_module_entry(wh):
    out = subprocess.run(
        ["nm", "-D", "--defined-only", wh.__file__], check=True, capture_output=True, text=True
    ).stdout
    symbols = {line.split()[-1] for line in out.splitlines() if line.strip()}
    assert symbols == {"PyInit_workspace_handler"}


def listed_private_symbols(version):
    """The private symbols native/runtime/compat.h lists for `version` (a (major,
    minor) pair), split into those called by our code and all of them."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    entry = re.compile(r"^//   (_Py\w+)\s+3\.(\d+)(?:-3\.(\d+))?\s")
    called, listed = set(), set()
    section = None
    with open(os.path.join(root, "native", "runtime", "compat.h")) as f:
        for line in f:
            if line.startswith("#pragma"):
                break
            if line.startswith("// Called here"):
                section = called
            match = entry.match(line)
            if match is None:
                continue
            first = int(match.group(2))
            last = int(match.group(3) or first)
            if first <= version[1] <= last:
                listed.add(match.group(1))
                if section is called:
                    called.add(match.group(1))
    return called, listed


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
def test_imports_only_the_listed_private_symbols(wh):
    out = subprocess.run(["nm", "-D", "--undefined-only", wh.__file__], check=True,
                         capture_output=True, text=True).stdout
    imported = {line.split()[-1] for line in out.splitlines() if line.split()[-1].startswith("_Py")}
    called, listed = listed_private_symbols(sys.version_info[:2])
    assert imported <= listed, f"not in native/runtime/compat.h's list: {sorted(imported - listed)}"
    assert called <= imported, f"listed but no longer used: {sorted(called - imported)}"


def test_constant_table_stream(testmod):
    stream, lengths, size = testmod.string_stream_info()
    assert stream[:2] == b"\x78\xda"  # zlib, best compression
    assert len(lengths) == 93 and sum(lengths) == size == 1637
    assert len(zlib.decompress(stream)) == 1637
    assert list(lengths[90:]) == [177, 85, 225]


def test_constant_table_entries(testmod):
    entries = testmod.strings()
    assert len(entries) == 93
    assert all(type(e) is str for e in entries[:90])
    assert [len(e) for e in entries[90:]] == [177, 85, 225]
    assert all(type(e) is bytes for e in entries[90:])
    assert entries[0] == "." and entries[1] == "Content-Length"
    assert entries[8] == " is required in the body of the request."
    assert entries[9] == "corvanix/server/handlers/zorvik/workspace_handler.py"
    assert len(entries[9]) == 52
    assert entries[10] == "APIHandler" and entries[89] == "workspaces"
    assert entries[60] == "corvanix.server.handlers.zorvik.workspace_handler"
    # identifiers are interned: the interpreter's own copy is the entry itself
    for e in entries[10:90]:
        assert sys.intern("".join(e)) is e
    # the whole table decodes back to the stored stream
    stream, lengths, _ = testmod.string_stream_info()
    joined = b"".join(e.encode("utf-8") if isinstance(e, str) else e for e in entries)
    assert joined == zlib.decompress(stream)
    assert [len(e.encode("utf-8")) if isinstance(e, str) else len(e) for e in entries] == list(lengths)


def test_nothing_of_ours_runs_before_a_server_loads_it():
    # A fresh interpreter of the environment, as pip or any script starts it,
    # then the server's own module, as `jupyter server` imports it.
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    proc = subprocess.run(
        [sys.executable, "-X", "importtime", "-c",
         "import logging, jupyter_server.serverapp; "
         "assert logging.getLogRecordFactory() is logging.LogRecord"],
        cwd=tempfile.gettempdir(), env=env, capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    imported = [line.rsplit("|", 1)[-1].strip() for line in proc.stderr.splitlines()
                if line.startswith("import time:")]
    assert "site" in imported and "jupyter_server.serverapp" in imported
    assert [name for name in imported if name.startswith("corvanix")] == []
