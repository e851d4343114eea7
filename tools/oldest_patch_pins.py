"""Prints, one a line, a pin (name==version) for each package installed in
this environment whose release needs a newer patch release of the interpreter
than its first one (X.Y.0): the newest release of that package that X.Y.0
accepts, as pip would pick it there. Nothing when every release installed
holds from X.Y.0 on.

    oldest_patch_pins.py

tools/update-constraints resolves again with these pins until there are none,
so that the constraints install on every patch release users have.
"""
import json
import subprocess
import sys
from importlib import metadata

from packaging.specifiers import SpecifierSet
from packaging.utils import canonicalize_name

OLDEST = "%d.%d.0" % sys.version_info[:2]


def needs_newer_patch(dist):
    requires = dist.metadata.get("Requires-Python")
    return bool(requires) and OLDEST not in SpecifierSet(requires)


def newest_for_oldest(name, version):
    """The newest release of NAME below VERSION that OLDEST accepts."""
    report = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--quiet", "--dry-run", "--no-deps",
         "--ignore-installed", "--python-version", OLDEST, "--report", "-",
         f"{name}<{version}"],
        check=True, stdout=subprocess.PIPE, text=True).stdout
    (chosen,) = json.loads(report)["install"]
    return chosen["metadata"]["version"]


def main():
    seen = set()
    for dist in metadata.distributions():
        name = canonicalize_name(dist.metadata["Name"])
        if name in seen or not needs_newer_patch(dist):
            continue
        seen.add(name)
        print(f"{name}=={newest_for_oldest(name, dist.version)}")


if __name__ == "__main__":
    main()
