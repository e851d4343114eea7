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
