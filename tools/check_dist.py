"""Checks what a built wheel or sdist holds before it is handed to users.

    check_dist.py FILE...

A wheel must hold the native module for its own interpreter tag, the module's
type stub, py.typed and the file that enables the server extension, declare
the console script that lists the extension's options, declare its licence
and hold its text, carry a manylinux tag no newer than this machine's C
library, and hold nothing of the tests, the build trees, the C++ sources or a
.pth file (nothing of ours runs at interpreter start). Its metadata must
require every third-party package its Python files import, and nothing more
for every user (test and build tools stay out). An sdist must hold what a
build needs, the licence's text among it, and none of the environments,
build trees or built files. Prints each problem and exits 1 if there is one.
"""
import ast
import email.parser
import fnmatch
import importlib.util
import os
import platform
import re
import sys
import sysconfig
import tarfile
import zipfile

MODULE_DIR = "corvanix/server/handlers/zorvik/"
CONFIG_FILE = "etc/jupyter/jupyter_server_config.d/corvanix.json"
# The prebuilt JupyterLab extension: where Lab finds it, and what it loads first.
LABEXTENSION_DIR = "share/jupyter/labextensions/corvanix-zorvik-workspaces/"
LABEXTENSION_FILES = ["package.json", "install.json", "schemas/corvanix-zorvik-workspaces/plugin.json"]
CONSOLE_SCRIPT = "jupyter-zorvik-workspaces = corvanix.server.extension:main"
LICENSE = "BSD-3-Clause"

# Nothing of these belongs in a wheel.
WHEEL_FORBIDDEN = ["tests/*", "*/tests/*", "build/*", "*CMakeFiles*", "*CMakeCache.txt",
                   "*__pycache__*", "*.pyc", "*.cpp", "*.h", "*.o", "*_wsh_testmod*", "*.venv*",
                   "*.pth"]
SDIST_REQUIRED = ["LICENSE", "pyproject.toml", "CMakeLists.txt", "cmake/require_cxx20.cmake", "README.md",
                  "native/module/entry.cpp", "native/strings.list", "tools/gen_string_table.py",
                  "jupyter-config/corvanix.json", "src/corvanix/__init__.py", "src/corvanix/py.typed",
                  MODULE_DIR.replace("corvanix/", "src/corvanix/", 1) + "workspace_handler.pyi"]
SDIST_REQUIRED += ["labextension/package.json", "labextension/package-lock.json", "labextension/src/index.ts",
                   "src/corvanix/labextension/package.json"]
SDIST_FORBIDDEN = ["labextension/node_modules/*", "labextension/lib/*", "build/*", ".venv*", "dist/*", "*.so", "*.o", "*__pycache__*", "*.pyc",
                   "*CMakeCache.txt", ".git/*", ".hypothesis/*"]


def _forbidden(names, patterns):
    return [f"holds {name}" for name in names
            if any(fnmatch.fnmatch(name, pattern) for pattern in patterns)]


def machine_glibc():
    name, version = platform.libc_ver()
    if name != "glibc":
        raise SystemExit("not a glibc system: no manylinux tag applies")
    return tuple(int(part) for part in version.split(".")[:2])


def _distribution(name):
    """A project name as its dependents and its imports spell it."""
    return re.sub(r"[-_.]+", "_", name).lower()


def _in_stdlib(name):
    if hasattr(sys, "stdlib_module_names"):  # from 3.10
        return name in sys.stdlib_module_names
    if name in sys.builtin_module_names:
        return True
    spec = importlib.util.find_spec(name)
    origin = spec and spec.origin
    return bool(origin) and origin.startswith(sysconfig.get_paths()["stdlib"] + os.sep) \
        and "site-packages" not in origin


def _imported(source):
    """The top-level names of what a module's source imports."""
    names = set()
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.Import):
            names.update(alias.name.split(".")[0] for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.level == 0:
            names.add(node.module.split(".")[0])
    return names


def _metadata(wheel, names):
    found = [n for n in names if re.fullmatch(r"[^/]+\.dist-info/METADATA", n)]
    return email.parser.Parser().parsestr(wheel.read(found[0]).decode()) if len(found) == 1 else None


def check_license(wheel, names):
    """Nobody may use or ship the package without its licence: the metadata
    names it and the wheel holds its text."""
    fields = _metadata(wheel, names)
    problems = []
    if fields is None or fields.get("License-Expression") != LICENSE:
        problems.append(f"declares no License-Expression {LICENSE}")
    if not any(re.fullmatch(r"[^/]+\.dist-info/licenses/LICENSE", n) for n in names):
        problems.append("no licence text (.dist-info/licenses/LICENSE)")
    return problems


def check_requirements(wheel, names):
    """Every third-party package the wheel's Python files import is required
    for every user, and nothing else is (import names match project names here)."""
    fields = _metadata(wheel, names)
    if fields is None:
        return ["no METADATA"]
    required = {_distribution(re.match(r"[A-Za-z0-9._-]+", r).group())
                for r in fields.get_all("Requires-Dist") or [] if "extra" not in r.partition(";")[2]}
    own = {name.split("/")[0] for name in names if "/" in name and ".dist-info/" not in name}
    imported = set()
    for name in names:
        if name.endswith(".py"):
            imported |= _imported(wheel.read(name))
    third_party = {_distribution(n) for n in imported - own if not _in_stdlib(n)}
    return ([f"imports {n} but does not require it" for n in sorted(third_party - required)]
            + [f"requires {n} of every user but imports it nowhere" for n in sorted(required - third_party)])


def check_wheel(path, glibc):
    # name-version-pythontag-abitag-platformtag.whl
    _, _, python_tag, _, platform_tags = os.path.basename(path)[:-len(".whl")].split("-")
    problems = []
    allowed = [tag for tag in platform_tags.split(".")
               if (m := re.fullmatch(r"manylinux_(\d+)_(\d+)_\w+", tag))
               and (int(m.group(1)), int(m.group(2))) <= glibc]
    if not allowed:
        problems.append(f"platform tag {platform_tags} is no manylinux tag this machine's "
                        f"glibc {glibc[0]}.{glibc[1]} allows")
    with zipfile.ZipFile(path) as wheel:
        names = wheel.namelist()
        entry_points = [name for name in names if name.endswith(".dist-info/entry_points.txt")]
        scripts = wheel.read(entry_points[0]).decode() if entry_points else ""
        problems += check_requirements(wheel, names)
        problems += check_license(wheel, names)
    version = python_tag[len("cp"):]
    module = re.compile(re.escape(MODULE_DIR) + rf"workspace_handler\.cpython-{version}-[\w-]+\.so")
    if not any(module.fullmatch(name) for name in names):
        problems.append(f"no native module for {python_tag} in {MODULE_DIR}")
    for required in (MODULE_DIR + "workspace_handler.pyi", "corvanix/py.typed"):
        if required not in names:
            problems.append(f"no {required}")
    if not re.search(r"^\[console_scripts\]$[^[]*^" + re.escape(CONSOLE_SCRIPT) + "$",
                     scripts, re.MULTILINE):
        problems.append(f"no console script {CONSOLE_SCRIPT.split()[0]}")
    if not any(name.endswith(".data/data/" + CONFIG_FILE) for name in names):
        problems.append(f"no {CONFIG_FILE}")
    problems += check_labextension(names)
    return problems + _forbidden(names, WHEEL_FORBIDDEN)


def check_labextension(names):
    """Lab loads the extension from its package.json's remote entry; the
    Python package does not hold a second copy."""
    data = ".data/data/" + LABEXTENSION_DIR
    problems = [f"no {LABEXTENSION_DIR}{f}" for f in LABEXTENSION_FILES
                if not any(n.endswith(data + f) for n in names)]
    if not any(re.search(re.escape(data) + r"static/remoteEntry\.[0-9a-f]+\.js$", n) for n in names):
        problems.append(f"no {LABEXTENSION_DIR}static/remoteEntry.*.js")
    return problems + [f"holds {n}" for n in names if n.startswith("corvanix/labextension/")]


def check_sdist(path):
    with tarfile.open(path) as sdist:
        # every member sits under name-version/
        names = [member.split("/", 1)[1] for member in sdist.getnames() if "/" in member]
    problems = [f"no {required}" for required in SDIST_REQUIRED if required not in names]
    return problems + _forbidden(names, SDIST_FORBIDDEN)


def main(paths):
    failed = False
    for path in paths:
        problems = check_wheel(path, machine_glibc()) if path.endswith(".whl") else check_sdist(path)
        for problem in problems:
            print(f"{os.path.basename(path)}: {problem}", file=sys.stderr)
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
