# Shared set-up of the two project commands: finds the interpreter, creates
# the virtual environment and installs the package into it.
#   PYTHON=/path/to/python3.8   the interpreter (default: pyenv's newest 3.8)
#   VENV=.venv-3.8              where the environment lives
#   BUILD_ROOT=build            where the build trees live
#   WSH_SANITIZE=ON             build both extensions with ASan+UBSan (use its
#                               own VENV and BUILD_ROOT: tools/run-tests-sanitized)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

find_python() {
    if [ -n "${PYTHON:-}" ]; then echo "$PYTHON"; return; fi
    local root candidate
    root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
    candidate=$(ls -d "$root"/versions/3.8.*/bin/python3.8 2>/dev/null | sort -V | tail -n 1 || true)
    if [ -n "$candidate" ]; then echo "$candidate"; return; fi
    command -v python3.8 || { echo "no CPython 3.8 found; set PYTHON=" >&2; exit 2; }
}

PYTHON=$(find_python)
# Build trees (the wheel's and the test module's) live under BUILD_ROOT.
BUILD_ROOT=${BUILD_ROOT:-$ROOT/build}
WSH_SANITIZE=${WSH_SANITIZE:-OFF}
VENV=${VENV:-$ROOT/.venv-$("$PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')}

ensure_venv() {
    if [ ! -x "$VENV/bin/python" ]; then
        "$PYTHON" -m venv "$VENV"
        "$VENV/bin/python" -m pip install --quiet --upgrade pip
    fi
}

# Installs the package (and the given extras) from this checkout.
install_package() {
    local extras=${1:-}
    ensure_venv
    "$VENV/bin/python" -m pip install --quiet \
        --config-settings=build-dir="$BUILD_ROOT/wheel-{wheel_tag}" \
        --config-settings=cmake.define.WSH_SANITIZE="$WSH_SANITIZE" "$ROOT${extras:+[$extras]}"
}

# Builds the test-only extension module (never installed) into TEST_BUILD.
build_test_module() {
    local tag
    tag=$("$VENV/bin/python" -c 'import sysconfig; print(sysconfig.get_config_var("SOABI"))')
    TEST_BUILD=$BUILD_ROOT/test-$tag
    "$VENV/bin/cmake" -S "$ROOT" -B "$TEST_BUILD" -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" \
        -DPython_EXECUTABLE="$VENV/bin/python" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DWSH_BUILD_TEST_MODULE=ON -DWSH_SANITIZE="$WSH_SANITIZE" >/dev/null
    "$VENV/bin/cmake" --build "$TEST_BUILD" --target _wsh_testmod
}
