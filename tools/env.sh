# Shared set-up of the project commands: finds the interpreter, creates the
# virtual environment and installs the package into it.
#   WSH_PYTHON_VERSION=3.13     the interpreter version (default 3.8, or the
#                               newest supported one found where the command
#                               sets WSH_DEFAULT_PYTHON=newest): pyenv's
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

# The supported interpreter versions, oldest first (requires-python in
# pyproject.toml says the same).
WSH_SUPPORTED_PYTHONS="3.8 3.9 3.10 3.11 3.12 3.13 3.14 3.15"
WSH_SUPPORTED_RANGE="CPython ${WSH_SUPPORTED_PYTHONS%% *} to ${WSH_SUPPORTED_PYTHONS##* }"
# The version the lowest releases of the dependencies are tested on.
WSH_LOWEST_PYTHON=3.8
# The version the build tools (tools/build-wheels) run on: the newest one
# pyenv has on the project's machines (3.14 and 3.15 come from the Debian root).
WSH_TOOLS_PYTHON=3.13

# The versions named in WSH_PYTHONS ("all": every supported one), else $1.
wsh_versions() {
    local versions=${WSH_PYTHONS:-$1}
    [ "$versions" = all ] && versions=$WSH_SUPPORTED_PYTHONS
    echo "$versions"
}

# The interpreter of one version: pyenv's newest release of it, else
# pythonX.Y on the PATH; nothing if there is neither.
python_of() {
    local version=$1 root candidate
    root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
    candidate=$(ls -d "$root"/versions/"$version".*/bin/python"$version" 2>/dev/null | sort -V | tail -n 1 || true)
    if [ -n "$candidate" ]; then echo "$candidate"; return; fi
    command -v "python$version" || true
}

# Stops with the supported range where VERSION is not one of them.
check_supported() {
    case " $WSH_SUPPORTED_PYTHONS " in *" $1 "*) return ;; esac
    echo "CPython $1 is not supported: the package supports $WSH_SUPPORTED_RANGE" >&2
    exit 2
}

# How to get a supported version this machine lacks.
how_to_get() {
    local version=$1
    echo "no CPython $version found (neither pyenv's $version.* nor python$version on the PATH):" \
        "install it (pyenv install $version, or the system's python$version package)" \
        "or set PYTHON=/path/to/python$version" >&2
    case " $(debian_root_pythons) " in
        *" $version "*) echo "(as root, tools/debian-root run COMMAND runs a command where $version is)" >&2 ;;
    esac
}

# The versions tools/debian-root provides.
debian_root_pythons() {
    sed -n 's/^WSH_DEBIAN_ROOT_PYTHONS="\(.*\)"$/\1/p' "$ROOT/tools/debian-root"
}

find_python() {
    if [ -n "${PYTHON:-}" ]; then echo "$PYTHON"; return; fi
    local version=${WSH_PYTHON_VERSION:-${WSH_DEFAULT_PYTHON:-3.8}} candidate
    if [ "$version" = newest ]; then
        for version in $(echo "$WSH_SUPPORTED_PYTHONS" | tr ' ' '\n' | sort -rV); do
            candidate=$(python_of "$version")
            if [ -n "$candidate" ]; then echo "$candidate"; return; fi
        done
        echo "no supported CPython ($WSH_SUPPORTED_RANGE) found: install one" \
            "(pyenv install 3.13, or the system's python3 package) or set PYTHON=" >&2
        exit 2
    fi
    check_supported "$version"
    candidate=$(python_of "$version")
    [ -n "$candidate" ] || { how_to_get "$version"; exit 2; }
    echo "$candidate"
}

# What the commands say about their own work, on stderr.
say() {
    echo "$(basename "$0"): $*" >&2
}

# A command that can run where the machine lacks the version (it sets
# WSH_DEBIAN_ROOT_FALLBACK=1) runs itself inside tools/debian-root's root,
# which has it; as root only, as that needs mounts.
if [ -n "${WSH_DEBIAN_ROOT_FALLBACK:-}" ] && [ -z "${WSH_IN_DEBIAN_ROOT:-}" ] &&
    [ -z "${PYTHON:-}" ] && [ -n "${WSH_PYTHON_VERSION:-}" ] && [ "$(id -u)" = 0 ] &&
    [ -z "$(python_of "$WSH_PYTHON_VERSION")" ]; then
    case " $(debian_root_pythons) " in
        *" $WSH_PYTHON_VERSION "*)
            say "no CPython $WSH_PYTHON_VERSION here: running in the Debian testing root (tools/debian-root)"
            exec "$ROOT/tools/debian-root" run "$0" "$@" ;;
    esac
fi
PYTHON=$(find_python)
WSH_VERSION=$("$PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
check_supported "$WSH_VERSION"
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
        say "creating the environment ${VENV#$ROOT/} (CPython $WSH_VERSION)"
        "$PYTHON" -m venv "$VENV"
        "$VENV/bin/python" -m pip install --quiet --upgrade pip
    fi
}

# pip install into the environment with the pins: its progress stays
# hidden, but where it fails all it said about why is shown, not only its
# last line (the versions it passed over and what they require, the conflict).
pip_install() {
    local log status=0
    log=$(mktemp)
    "$VENV/bin/python" -m pip install --constraint "$CONSTRAINTS" "$@" >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        say "pip install failed on $("$PYTHON" -c 'import platform; print("CPython", platform.python_version())'):"
        grep -v -E '^ *(Collecting|Using cached|Downloading|Requirement already satisfied|Looking in|Obtaining|Processing|Stored in|Created wheel|Building wheel|Installing collected|Successfully|Attempting uninstall|Found existing|Uninstalling|Installing build dependencies|Getting requirements to build|Preparing metadata) ' \
            "$log" | grep -v -E '^ *[━╸ ]+[0-9.]+/' >&2 || true
        say "the pins: ${CONSTRAINTS#$ROOT/} (tools/update-constraints)"
    fi
    rm -f "$log"
    return "$status"
}

# The installs below skip what the environment already holds as it is now: a
# stamp in the environment keeps the digest of what its last install was made
# from.

# Installs a dependency group of pyproject.toml, which the pip of CPython 3.8
# cannot: its requirements as tools/requirements_from_pyproject.py prints them.
install_group() {
    local group=$1 stamp=$VENV/.wsh-group-$1 digest requirements
    digest=$(cat "$ROOT/pyproject.toml" "$CONSTRAINTS" | sha256sum | cut -d' ' -f1)
    [ "$(cat "$stamp" 2>/dev/null)" != "$digest" ] || return 0
    say "installing the $group tools into ${VENV#$ROOT/}"
    rm -f "$stamp"
    # what the helper reads pyproject.toml with
    pip_install packaging "tomli; python_version < '3.11'"
    requirements=$(mktemp)
    "$VENV/bin/python" "$ROOT/tools/requirements_from_pyproject.py" "$ROOT/pyproject.toml" \
        --group "$group" >"$requirements"
    pip_install -r "$requirements"
    rm -f "$requirements"
    echo "$digest" >"$stamp"
}

# Installs the package from this checkout (and the named dependency group),
# unless the sources, the pins and the build options are those of the last
# install (tools/install_digest.py; without git, it always installs).
install_package() {
    [ -f "$CONSTRAINTS" ] || { echo "no $CONSTRAINTS: run tools/update-constraints" >&2; exit 2; }
    ensure_venv
    [ -z "${1:-}" ] || install_group "$1"
    local stamp=$VENV/.wsh-package digest
    digest=$("$PYTHON" "$ROOT/tools/install_digest.py" "$ROOT" --file "$CONSTRAINTS" \
             "sanitize=$WSH_SANITIZE" "CC=${CC:-}" "CXX=${CXX:-}" "CFLAGS=${CFLAGS:-}" \
             "CXXFLAGS=${CXXFLAGS:-}" "LDFLAGS=${LDFLAGS:-}")
    if [ -n "$digest" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$digest" ]; then
        return
    fi
    say "building and installing the package into ${VENV#$ROOT/} (a minute or two the first time)"
    rm -f "$stamp"
    pip_install --config-settings=build-dir="$BUILD_ROOT/wheel-{wheel_tag}" \
        --config-settings=cmake.define.WSH_SANITIZE="$WSH_SANITIZE" "$ROOT"
    [ -z "$digest" ] || echo "$digest" >"$stamp"
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
