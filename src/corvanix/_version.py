# The one place of the package's version: the build reads it from here
# (pyproject.toml), and CHANGELOG.md names it.
__version__ = "0.1.0"
