"""Prints a digest of what an install of this checkout is built from, so that
the commands skip an install that would change nothing.

    install_digest.py ROOT [--file FILE]... [TEXT]...

The digest covers every file of ROOT that git tracks or would add (its ignore
rules apply), but for those no install reads (LEFT_OUT), and the contents of
each FILE and each TEXT (the commands' pins and build options). Prints
nothing where git cannot list the files: then the commands always install.
"""
import argparse
import hashlib
import os
import subprocess
import sys

# The tests, the benchmark, the docs, CI and the pins of every version: the
# commands name the one pins file they install with.
LEFT_OUT = ("tests/", "bench/", "docs/", ".ci/", "constraints/")


def _listed(root):
    """The files git has or would add, relative to root; None if git cannot tell."""
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "-z", "--cached", "--others",
                              "--exclude-standard"], capture_output=True, check=True, timeout=60).stdout
    except (OSError, subprocess.SubprocessError):
        return None
    return sorted({os.fsdecode(name) for name in out.split(b"\0") if name})


def digest(root, files=(), texts=()):
    listed = _listed(root)
    if listed is None:
        return None
    total = hashlib.sha256()
    for text in texts:
        total.update(text.encode() + b"\0")
    for name, path in [(f"--file {f}", f) for f in files] + [
            (name, os.path.join(root, name)) for name in listed if not name.startswith(LEFT_OUT)]:
        try:
            with open(path, "rb") as f:
                content = f.read()
        except FileNotFoundError:
            continue  # deleted, the deletion not yet staged
        except IsADirectoryError:
            continue  # a nested repository git lists as one entry
        total.update(name.encode() + b"\0" + hashlib.sha256(content).digest())
    return total.hexdigest()


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--file", action="append", default=[])
    parser.add_argument("texts", nargs="*")
    args = parser.parse_intermixed_args(argv)
    result = digest(args.root, args.file, args.texts)
    if result:
        print(result)


if __name__ == "__main__":
    main(sys.argv[1:])
