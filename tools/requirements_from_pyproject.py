"""Prints, one a line, what pyproject.toml asks to install on this interpreter.

    requirements_from_pyproject.py PYPROJECT [--group NAME]... [--floors]

Without --floors: the package's dependencies and the named dependency groups
(which the pip of CPython 3.8 cannot install itself), as requirements. With --floors: each dependency pinned to the lowest release its
range allows (name==version), as constraints for the lowest-versions run.
"""
import argparse
import sys

try:
    import tomllib
except ImportError:  # before 3.11
    import tomli as tomllib
from packaging.requirements import Requirement


def _applies(requirement):
    return requirement.marker is None or requirement.marker.evaluate({"extra": ""})


def requirements(pyproject, groups=()):
    with open(pyproject, "rb") as f:
        document = tomllib.load(f)
    texts = list(document["project"]["dependencies"])
    for group in groups:
        texts += document["dependency-groups"][group]
    return [r for r in map(Requirement, texts) if _applies(r)]


def floors(pyproject):
    """{name: lowest allowed release} of the package's dependencies."""
    result = {}
    for requirement in requirements(pyproject):
        lowest = [s.version for s in requirement.specifier if s.operator == ">="]
        if len(lowest) != 1:
            raise ValueError(f"{requirement}: a dependency needs one lower bound (>=)")
        result[requirement.name] = lowest[0]
    return result


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("pyproject")
    parser.add_argument("--group", action="append", default=[])
    parser.add_argument("--floors", action="store_true")
    args = parser.parse_args(argv)
    if args.floors:
        lines = [f"{name}=={version}" for name, version in floors(args.pyproject).items()]
    else:
        lines = [str(r) for r in requirements(args.pyproject, args.group)]
    print("\n".join(lines))


if __name__ == "__main__":
    main(sys.argv[1:])
