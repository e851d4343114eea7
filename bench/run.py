"""The whole benchmark: the native handler against the plain-Python handler
(plain_workspace_handler.py) and the callee floor (floor.py), by instruction
counts, time, end to end in a real server, and import time; what a call into
Python costs native code against Python code (entry_cost.py); and the
Zorvik platform client's per-call latency (platform_latency.py). Prints the
tables; a full run also writes them to bench/RESULTS-<version>.md.

    tools/bench                 full run, writes bench/RESULTS-<version>.md
    tools/bench --no-results    full run, prints only
    tools/bench --smoke         tiny counts, only checks that it all runs
    tools/bench --only instructions,timing
                                those tables only (prints only)
"""
import argparse
import datetime
import os
import platform
import shutil
import sys

import callgrind_profile
import cases
import end_to_end
import entry_cost
import import_time
import platform_latency
import timing
from machine import machine

HERE = os.path.dirname(os.path.abspath(__file__))

FULL = dict(instructions=100, warmup=1100, entry_calls=1000, rounds=15, batch_ms=20,
            e2e_requests=1500, e2e_rounds=3, import_rounds=10, platform_calls=1000)
# The interpreter caches global look-ups per code object only after 1024
# calls, so the full run warms up beyond that; the smoke run skips it.
SMOKE = dict(instructions=2, warmup=5, entry_calls=2, rounds=3, batch_ms=1, e2e_requests=20,
             e2e_rounds=1, import_rounds=2, platform_calls=5)


def percent(value):
    return f"{100 * value:.2f}%"


def instruction_section(counts, out):
    paths = [path for path, _ in cases.PATHS]
    results, functions, note = callgrind_profile.profile(paths, counts["instructions"],
                                                         counts["warmup"],
                                                         build_root=os.environ.get("BUILD_ROOT"))
    out.append(f"### Instructions per request (callgrind; {counts['instructions']} requests "
               f"minus 0 after a warm-up of {counts['warmup']})")
    out.append("")
    if results is None:
        out.append(f"Skipped: {note}.")
        return
    out.append("| Path | native | plain | floor | native/plain | native − plain | native/floor "
               "| plain/floor | ours | ours/native |")
    out.append("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
    for path, label in cases.PATHS:
        native, ours = results[(path, "native")]
        plain = results[(path, "plain")][0]
        floor = results[(path, "floor")][0]
        out.append(f"| {label} | {native:,.0f} | {plain:,.0f} | {floor:,.0f} "
                   f"| {native / plain:.3f} | {native - plain:+,.0f} | {native / floor:.3f} "
                   f"| {plain / floor:.3f} | {ours:,.0f} | {percent(ours / native)} |")
    out.append("")
    out.append("\"ours\": self cost of the functions in the native module's shared object.")
    if note:
        out.append(f"Note: {note}.")
    out.append("")
    out.append("Largest costs inside our shared object (instructions per request):")
    out.append("")
    out.append("| Function | " + " | ".join(paths) + " |")
    out.append("|---|" + "--:|" * len(cases.PATHS))
    totals = {}
    for path in paths:
        for function, cost in functions[path].items():
            totals[function] = totals.get(function, 0) + cost
    for function in sorted(totals, key=totals.get, reverse=True)[:8]:
        row = " | ".join(f"{functions[path].get(function, 0):,.0f}" for path in paths)
        out.append(f"| `{function}` | {row} |")
    step_section(paths, results, functions, out)


def step_section(paths, results, functions, out):
    """Our own code per request by what it does, against the 1% budget."""
    if not any(functions[path, "steps"] for path in paths):
        out.append("")
        out.append("(No line tables in the module's build: its cost is not told apart by step.)")
        return
    out.append("")
    out.append("Our own code per request by what it does (instructions; each line counted "
               "where its source is, so what the compiler inlined from the interpreter's "
               "headers is ours too), and the 1% budget:")
    out.append("")
    out.append("| Step | " + " | ".join(paths) + " |")
    out.append("|---|" + "--:|" * len(paths))
    for step, _ in callgrind_profile.STEPS:
        row = " | ".join(f"{functions[path, 'steps'].get(step, 0):,.0f}" for path in paths)
        out.append(f"| {step} | {row} |")
    row = " | ".join(f"{results[(path, 'native')][1]:,.0f}" for path in paths)
    out.append(f"| **ours** | {row} |")
    row = " | ".join(f"{results[(path, 'native')][0] / 100:,.0f}" for path in paths)
    out.append(f"| 1% of the path | {row} |")
    out.append("")
    out.append(REMAINS)


# Why our own code stays above 1% on the short paths: what each step must do.
REMAINS = """\
Where our own code stays above 1% (the short paths, where the callees do little), \
what is left is spread over steps the handler cannot leave out:

- Reference counts and type checks: the increments and decrements the handler's \
values need (every call's result, every global read taken while code runs), inlined \
from the interpreter's headers; from 3.12 each decrement also tests for an immortal \
object. The plain handler's byte code does the same counting inside the evaluation loop.
- Calls into the interpreter: the fast-call dispatch (the callee's entry read from its \
type, its result checked) for each call the source makes (get_joined_workspaces, \
to_dict per workspace, set_header twice, json.dumps twice, set_status, finish, \
_finish_with_result, and the except clauses' calls); on 3.8, which has no method \
fast call of its own, the glue around each method look-up is ours too.
- Entry and argument binding: one entry per method the request runs (the route's \
method, then _finish_with_result), each under the interpreter's recursion guard, \
its keyword arguments checked against the parameters' names.
- Cached reads: each module global read at each use, checked against the module \
dictionary's version; each dotted read (json.dumps, requests.exceptions.*, \
HTTPStatus.*) checked link by link.
- Except clauses and traceback entries (the error paths): the clause classes read \
and matched in order, the exception taken and restored, one traceback entry per \
frame the source would show.
- The methods' own steps: the status converted to int, the body's length \
formatted, the answer's list built, the request's fields unpacked."""


def entry_section(counts, out):
    per_call, note = entry_cost.measure(counts["entry_calls"])
    out.append(f"### Calls into Python (callgrind; instructions per call of a one-line "
               f"function, {counts['entry_calls']} calls, the loop's own cost taken off)")
    out.append("")
    if per_call is None:
        out.append(f"Skipped: {note}.")
        return
    out.append("| Call | from native code | from Python code | native − Python |")
    out.append("|---|--:|--:|--:|")
    extra = {}
    for kind, label in entry_cost.CALLS:
        native, python = per_call[("native", kind)], per_call[("python", kind)]
        extra[kind] = native - python
        out.append(f"| {label} | {native:,.0f} | {python:,.0f} | {native - python:+,.0f} |")
    out.append("")
    out.append("Native code calls a Python function through the interpreter's fast call, "
               "which enters its evaluation loop anew, and finds a method through the "
               "generic look-up; Python code from 3.11 pushes the callee's frame within the "
               "loop it runs in and finds the method through its inline cache. What the "
               "module's calls into Python cost it on each path, by that difference:")
    out.append("")
    out.append("| Path | calls into Python functions per request | their cost over the same calls "
               "from Python |")
    out.append("|---|---|--:|")
    for path, label in cases.PATHS:
        calls = entry_cost.calls_per_request(path)
        listed = ", ".join(f"{count} {kind}" for kind, count in calls.items())
        cost = sum(extra[kind] * count for kind, count in calls.items())
        out.append(f"| {label} | {listed} | {cost:+,.0f} |")


def timing_section(counts, out):
    paths = [path for path, _ in cases.PATHS]
    results = timing.measure(paths, counts["rounds"], counts["batch_ms"], counts["warmup"])
    out.append(f"### Time per request (ns; median of {counts['rounds']} interleaved rounds "
               f"± half the interquartile range)")
    out.append("")
    out.append("| Path | native | plain | floor | native/plain | native/floor |")
    out.append("|---|--:|--:|--:|--:|--:|")
    for path, label in cases.PATHS:
        row = results[path]
        cells = " | ".join(f"{row[v][0]:,.0f} ±{100 * row[v][1]:.0f}%" for v in cases.VARIANTS)
        out.append(f"| {label} | {cells} | {row['ratio']:.3f} "
                   f"| {row['native'][0] / row['floor'][0]:.3f} |")


def end_to_end_section(counts, out):
    results, client = end_to_end.measure(counts["e2e_requests"], counts["e2e_rounds"])
    out.append(f"### End to end (one jupyter_server, {client}; {counts['e2e_requests']} "
               f"requests per route and run, routes alternating, median of "
               f"{counts['e2e_rounds']} runs)")
    out.append("")
    out.append("| Request | native req/s | plain req/s | native/plain | native p50 / p99 µs "
               "| plain p50 / p99 µs |")
    out.append("|---|--:|--:|--:|--:|--:|")
    for method, label in (("GET", "GET, 10 workspaces"), ("POST", "POST, success")):
        native = results[(method, "native")]
        plain = results[(method, "plain")]
        out.append(f"| {label} | {native[0]:,.0f} | {plain[0]:,.0f} | {native[0] / plain[0]:.3f} "
                   f"| {native[1]:,.0f} / {native[2]:,.0f} | {plain[1]:,.0f} / {plain[2]:,.0f} |")


def import_section(counts, out):
    results = import_time.measure(counts["import_rounds"])
    out.append(f"### Import time (µs; fresh interpreter with the dependencies loaded, median of "
               f"{counts['import_rounds']} alternating runs ± half the range)")
    out.append("")
    out.append("| Module | import µs |")
    out.append("|---|--:|")
    for kind in ("native", "plain"):
        median, spread = results[kind]
        out.append(f"| {kind} | {median:,.0f} ±{spread:,.0f} |")
    out.append(f"| native/plain | {results['native'][0] / results['plain'][0]:.3f} |")


def platform_latency_section(counts, out):
    results = platform_latency.measure(counts["platform_calls"], warmup=20)
    out.append(f"### Platform client latency (µs per GET against the stand-in platform on "
               f"127.0.0.1; {counts['platform_calls']} calls each, alternating)")
    out.append("")
    out.append("| Client | median µs | p90 µs |")
    out.append("|---|--:|--:|")
    for variant in platform_latency.VARIANTS:
        median, p90 = results[variant]
        out.append(f"| {variant} | {median:,.0f} | {p90:,.0f} |")
    fresh, pooled = results["fresh connection"][0], results["pooled"][0]
    out.append(f"| fresh/pooled | {fresh / pooled:.2f} | |")


# One table per measurement, in the order they print.
SECTIONS = {
    "instructions": instruction_section,
    "entry": entry_section,
    "timing": timing_section,
    "end-to-end": end_to_end_section,
    "import": import_section,
    "platform": platform_latency_section,
}


def section_names(text):
    names = [name.strip() for name in text.split(",") if name.strip()]
    unknown = [name for name in names if name not in SECTIONS]
    if unknown:
        raise argparse.ArgumentTypeError(f"no such section: {', '.join(unknown)} "
                                         f"(sections: {', '.join(SECTIONS)})")
    return names


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--smoke", action="store_true", help="tiny counts")
    parser.add_argument("--results", help="write the tables to this file (a full run's "
                        "default: bench/RESULTS-<version>.md)")
    parser.add_argument("--no-results", action="store_true", help="write no results file")
    parser.add_argument("--only", type=section_names, default=list(SECTIONS),
                        help="comma-separated sections to run, of: " + ", ".join(SECTIONS)
                        + " (a partial run writes no results file unless --results names one)")
    args = parser.parse_args(argv)
    partial = args.only != list(SECTIONS)
    if args.results is None and not args.smoke and not args.no_results and not partial:
        args.results = os.path.join(HERE, "RESULTS-%d.%d.md" % sys.version_info[:2])
    counts = SMOKE if args.smoke else FULL
    command = "tools/bench" + (" --smoke" if args.smoke else "")
    if partial:
        command += " --only " + ",".join(args.only)
    out = [
        "## Benchmark: native handler, plain-Python handler, callee floor",
        "",
        f"- Machine: {machine()}",
        f"- Interpreter: CPython {platform.python_version()} ({sys.executable})",
        f"- Date: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC",
        f"- Command: `{command}`",
        f"- Load generator: {'wrk' if shutil.which('wrk') else 'Python client'}",
        "",
        "Request methods are called undecorated on a cheap handler double, with cheap "
        "sibling stand-ins shared by all three variants; the garbage collector runs "
        "between measured batches only.",
        "",
    ]
    report = []
    for name in args.only:
        SECTIONS[name](counts, out)
        out.append("")
        print("\n".join(out), flush=True)  # each section as soon as it is done
        report.extend(out)
        out = []
    if args.results and not args.no_results:
        with open(args.results, "w") as f:
            f.write("\n".join(report))
    return 0


if __name__ == "__main__":
    sys.exit(main())
