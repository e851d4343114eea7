"""Checks what a built wheel or sdist holds before it is handed to users.

    check_dist.py FILE...

A wheel must hold the native module for its own interpreter tag, the module's
type stub, py.typed, the server hook's .pth file and the file that enables the
server extension, carry a manylinux tag no newer than this machine's C
library, and hold nothing of the tests, the build trees or the C++ sources. An sdist must hold what a build
needs and none of the environments, build trees or built files. Prints each
problem and exits 1 if there is one.
"""
import fnmatch
import os
import platform
import re
import sys
import tarfile
import zipfile

MODULE_DIR = "corvanix/server/handlers/zorvik/"
CONFIG_FILE = "etc/jupyter/jupyter_server_config.d/corvanix.json"

# Nothing of these belongs in a wheel.
WHEEL_FORBIDDEN = ["tests/*", "*/tests/*", "build/*", "*CMakeFiles*", "*CMakeCache.txt",
                   "*__pycache__*", "*.pyc", "*.cpp", "*.h", "*.o", "*_wsh_testmod*", "*.venv*"]
SDIST_REQUIRED = ["pyproject.toml", "CMakeLists.txt", "README.md", "native/module/entry.cpp",
                  "native/strings.list", "tools/gen_string_table.py", "jupyter-config/corvanix.json",
                  "src/corvanix/__init__.py", "src/corvanix/py.typed",
                  MODULE_DIR.replace("corvanix/", "src/corvanix/", 1) + "workspace_handler.pyi"]
SDIST_FORBIDDEN = ["build/*", ".venv*", "dist/*", "*.so", "*.o", "*__pycache__*", "*.pyc",
                   "*CMakeCache.txt", ".git/*", ".hypothesis/*"]


def _forbidden(names, patterns):
    return [f"holds {name}" for name in names
            if any(fnmatch.fnmatch(name, pattern) for pattern in patterns)]


def machine_glibc():
    name, version = platform.libc_ver()
    if name != "glibc":
        raise SystemExit("not a glibc system: no manylinux tag applies")
    return tuple(int(part) for part in version.split(".")[:2])


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
    version = python_tag[len("cp"):]
    module = re.compile(re.escape(MODULE_DIR) + rf"workspace_handler\.cpython-{version}-[\w-]+\.so")
    if not any(module.fullmatch(name) for name in names):
        problems.append(f"no native module for {python_tag} in {MODULE_DIR}")
    # the hook file puts the extension's options and log masking into every server
    for required in (MODULE_DIR + "workspace_handler.pyi", "corvanix/py.typed",
                     "corvanix-serverapp-hook.pth"):
        if required not in names:
            problems.append(f"no {required}")
    if not any(name.endswith(".data/data/" + CONFIG_FILE) for name in names):
        problems.append(f"no {CONFIG_FILE}")
    return problems + _forbidden(names, WHEEL_FORBIDDEN)


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
