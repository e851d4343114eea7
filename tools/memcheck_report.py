"""Reads memcheck's XML reports and fails on what our code is answerable for.

    python tools/memcheck_report.py REPORT.xml...

Counts every error kind over all processes; fails (exit 1) on any invalid
read, write or free anywhere, and on "definitely lost" blocks whose
allocation stack passes through one of our shared objects.
"""
import collections
import sys
import xml.etree.ElementTree as ET

OUR_OBJECTS = ("workspace_handler.cpython", "_wsh_testmod.cpython")
INVALID = ("InvalidRead", "InvalidWrite", "InvalidFree", "MismatchedFree", "Overlap",
           "InvalidMemPool", "FishyValue")


def frames(error):
    for frame in error.iter("frame"):
        yield frame.findtext("obj", ""), frame.findtext("fn", "?"), frame.findtext("file", ""), \
            frame.findtext("line", "")


def describe(error):
    what = error.findtext("what") or error.findtext("xwhat/text") or ""
    stack = "\n".join(f"    {fn} ({file}:{line}) in {obj}" for obj, fn, file, line in frames(error))
    return f"  {error.findtext('kind')}: {what}\n{stack}"


def main(paths):
    kinds = collections.Counter()
    suppressed = 0
    failures = []
    processes = 0
    for path in paths:
        try:
            root = ET.parse(path).getroot()
        except ET.ParseError as e:  # a process that died mid-report
            failures.append(f"  unreadable report {path}: {e}")
            continue
        processes += 1
        for pair in root.iter("suppcounts"):
            suppressed += sum(int(p.findtext("count", "0")) for p in pair.iter("pair"))
        for error in root.iter("error"):
            kind = error.findtext("kind")
            kinds[kind] += 1
            ours = any(any(name in obj for name in OUR_OBJECTS) for obj, *_ in frames(error))
            if kind in INVALID or kind.startswith("Invalid"):
                failures.append(describe(error))
            elif kind == "Leak_DefinitelyLost" and ours:
                failures.append(describe(error))
    print(f"memcheck: {processes} processes, errors by kind: {dict(kinds) or 'none'}, "
          f"suppressed: {suppressed}")
    if failures:
        print(f"memcheck: {len(failures)} errors our code is answerable for:", file=sys.stderr)
        print("\n".join(failures), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
