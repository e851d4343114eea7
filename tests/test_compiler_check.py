"""A build from source without a C++20 compiler stops with what to install,
or to take a wheel, instead of CMake's generic errors."""
import os
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(sys.prefix, "bin")

# g++ as it was before C++20: it refuses the standard's flag.
OLD_COMPILER = """#!/bin/sh
for a in "$@"; do
    case $a in -std=c++20|-std=gnu++20|-std=c++2a|-std=gnu++2a)
        echo "g++: error: unrecognized command-line option '$a'" >&2; exit 1;;
    esac
done
exec g++ "$@"
"""


@pytest.mark.parametrize("compiler, problem", [
    ("missing", "No C++ compiler found."),
    ("old", "does not compile C++20."),
])
def test_configure_without_a_cxx20_compiler_says_what_to_do(tmp_path, compiler, problem):
    if compiler == "missing":
        cxx = str(tmp_path / "no-such-compiler")
    else:
        cxx = str(tmp_path / "g++-old")
        with open(cxx, "w") as f:
            f.write(OLD_COMPILER)
        os.chmod(cxx, 0o755)
    proc = subprocess.run(
        [os.path.join(BIN, "cmake"), "-S", ROOT, "-B", str(tmp_path / "build"), "-G", "Ninja",
         f"-DCMAKE_MAKE_PROGRAM={os.path.join(BIN, 'ninja')}", f"-DPython_EXECUTABLE={sys.executable}"],
        # the build tools are not ours to run under the sanitized run's runtime
        env={**{k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}, "CXX": cxx},
        capture_output=True, text=True, timeout=300)
    assert proc.returncode != 0
    said = " ".join(proc.stderr.split())
    assert problem in said
    assert "needs a C++20 compiler" in said and "apt-get install g++" in said
    assert "pip install --only-binary=:all: corvanix-zorvik-workspace-handler" in said
