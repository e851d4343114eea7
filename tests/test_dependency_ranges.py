"""The dependencies users install are ranges, and the lowest-versions run
tests exactly their floors."""
import os
import sys

from packaging.requirements import Requirement
from packaging.version import Version

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from requirements_from_pyproject import floors, requirements  # noqa: E402

PYPROJECT = os.path.join(ROOT, "pyproject.toml")


def pins(path):
    with open(path) as f:
        lines = [line.split("#")[0].strip() for line in f]
    return {r.name.lower().replace("-", "_"): str(r.specifier)[2:]
            for r in map(Requirement, filter(None, lines))}


def test_dependencies_run_from_the_floor_to_the_next_major():
    for requirement in requirements(PYPROJECT):
        bounds = {s.operator: Version(s.version) for s in requirement.specifier}
        assert set(bounds) == {">=", "<"}, f"{requirement}: a range from a floor, no pin"
        assert bounds["<"] == Version(f"{bounds['>='].major + 1}"), \
            f"{requirement}: only the next major is excluded"


def test_lowest_versions_run_pins_every_dependency_at_its_floor():
    lowest = pins(os.path.join(ROOT, "constraints", "py3.8-lowest.txt"))
    for name, floor in floors(PYPROJECT).items():
        assert Version(lowest[name.lower()]) == Version(floor), \
            f"{name}: the lowest-versions run tests {lowest[name.lower()]}, the floor is {floor}"


def supported_versions():
    """The versions the project's commands know (tools/env.sh)."""
    with open(os.path.join(ROOT, "tools", "env.sh")) as f:
        line = next(line for line in f if line.startswith("WSH_SUPPORTED_PYTHONS="))
    return line.split("=", 1)[1].strip().strip('"').split()


def test_metadata_commands_and_pins_name_the_same_interpreter_versions():
    try:
        import tomllib
    except ImportError:  # before 3.11
        import tomli as tomllib
    from packaging.specifiers import SpecifierSet
    with open(PYPROJECT, "rb") as f:
        project = tomllib.load(f)["project"]
    known = supported_versions()
    allowed = SpecifierSet(project["requires-python"])
    # every patch release of a supported version installs, no other minor does
    assert [f"3.{m}" for m in range(30) if f"3.{m}.0" in allowed] == known
    assert all(f"{v}.99" in allowed for v in known)
    prefix = "Programming Language :: Python :: "
    assert [c[len(prefix):] for c in project["classifiers"]
            if c[len(prefix):].startswith("3.")] == known
    missing = [v for v in known
               if not os.path.exists(os.path.join(ROOT, "constraints", f"py{v}.txt"))]
    assert not missing, f"no pins for CPython {missing}: run tools/update-constraints"
