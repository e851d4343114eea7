# Shared set-up of the project commands: finds the interpreter, creates the
# virtual environment and installs the package into it.
#   WSH_PYTHON_VERSION=3.13     the interpreter version (default 3.8): pyenv's
#                               newest of it, else python3.13 on the PATH
#   PYTHON=/path/to/python3.x   the interpreter itself (overrides the above)
#   VENV=.venv-3.8              where the environment lives (default: one per
#                               version, .venv-<major.minor>)
#   BUILD_ROOT=build            where the build trees live
#   WSH_SANITIZE=ON             build both extensions with ASan+UBSan (use its
#                               own VENV and BUILD_ROOT: tools/run-tests-sanitized)
#   WSH_LOWEST=1                every dependency at the lowest release pyproject.toml
#                               allows (constraints/py<version>-lowest.txt), in an
#                               environment and build trees of its own
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The supported interpreter versions, oldest first.
WSH_SUPPORTED_PYTHONS="3.8 3.9 3.10 3.11 3.12 3.13"
# The version the lowest releases of the dependencies are tested on.
WSH_LOWEST_PYTHON=3.8
# The version the build tools (tools/build-wheels) run on: the newest.
WSH_TOOLS_PYTHON=${WSH_SUPPORTED_PYTHONS##* }

# The versions named in WSH_PYTHONS ("all": every supported one), else $1.
wsh_versions() {
    local versions=${WSH_PYTHONS:-$1}
    [ "$versions" = all ] && versions=$WSH_SUPPORTED_PYTHONS
    echo "$versions"
}

find_python() {
    if [ -n "${PYTHON:-}" ]; then echo "$PYTHON"; return; fi
    local version=${WSH_PYTHON_VERSION:-3.8} root candidate
    root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
    candidate=$(ls -d "$root"/versions/"$version".*/bin/python"$version" 2>/dev/null | sort -V | tail -n 1 || true)
    if [ -n "$candidate" ]; then echo "$candidate"; return; fi
    command -v "python$version" || { echo "no CPython $version found; set PYTHON=" >&2; exit 2; }
}

PYTHON=$(find_python)
WSH_VERSION=$("$PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
WSH_SANITIZE=${WSH_SANITIZE:-OFF}
# The sanitizer build and the lowest releases get environments and build
# trees of their own.
VENV_SUFFIX= LOWEST_SUFFIX=
if [ "${WSH_LOWEST:-}" = 1 ]; then LOWEST_SUFFIX=-lowest; fi
if [ "$WSH_SANITIZE" = ON ]; then VENV_SUFFIX=-sanitized; fi
VENV_SUFFIX=$VENV_SUFFIX$LOWEST_SUFFIX
# Build trees (the wheel's and the test module's) live under BUILD_ROOT.
BUILD_ROOT=${BUILD_ROOT:-$ROOT/build${VENV_SUFFIX:+/${VENV_SUFFIX#-}}}
VENV=${VENV:-$ROOT/.venv-$WSH_VERSION$VENV_SUFFIX}
# Every package the environment gets is pinned here (tools/update-constraints).
CONSTRAINTS=$ROOT/constraints/py$WSH_VERSION$LOWEST_SUFFIX.txt

ensure_venv() {
    if [ ! -x "$VENV/bin/python" ]; then
        "$PYTHON" -m venv "$VENV"
        "$VENV/bin/python" -m pip install --quiet --upgrade pip
    fi
}

# Installs the package (and the given extras) from this checkout.
install_package() {
    local extras=${1:-}
    [ -f "$CONSTRAINTS" ] || { echo "no $CONSTRAINTS: run tools/update-constraints" >&2; exit 2; }
    ensure_venv
    "$VENV/bin/python" -m pip install --quiet --constraint "$CONSTRAINTS" \
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
