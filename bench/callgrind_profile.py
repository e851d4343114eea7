"""Instruction counts per request under callgrind, and the self cost of the
functions inside the native module's shared object.

The installed module is stripped, so callgrind could not name its functions;
the profile loads the unstripped copy from the build tree instead, which has
the same build id and so the same machine code.
"""
import collections
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUR_OBJECT = "workspace_handler.cpython"


def build_id(path):
    """The GNU build id of an ELF64 little-endian file, as hex, or None."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
        return None
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
    for i in range(shnum):
        kind, = struct.unpack_from("<I", data, shoff + i * shentsize + 4)
        if kind != 7:  # SHT_NOTE
            continue
        offset, size = struct.unpack_from("<QQ", data, shoff + i * shentsize + 0x18)
        pos = offset
        while pos + 12 <= offset + size:
            namesz, descsz, note_type = struct.unpack_from("<III", data, pos)
            name_end = pos + 12 + ((namesz + 3) & ~3)
            if note_type == 3 and data[pos + 12:pos + 12 + namesz] == b"GNU\0":
                return data[name_end:name_end + descsz].hex()
            pos = name_end + ((descsz + 3) & ~3)
    return None


def unstripped_copy(installed, search_root):
    """The unstripped build of the installed module (same build id) in the
    build tree, or None."""
    wanted = build_id(installed)
    if wanted is None or not os.path.isdir(search_root):
        return None
    pattern = os.path.join(search_root, "**", os.path.basename(installed))
    for candidate in glob.glob(pattern, recursive=True):
        if not os.path.samefile(candidate, installed) and build_id(candidate) == wanted:
            return candidate
    return None


def build_marks(work):
    """Compiles the client-request helper; None when no compiler or no
    valgrind headers are at hand."""
    output = os.path.join(work, "callgrind_marks.so")
    compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
    if compiler is None:
        return None, "no C++ compiler"
    proc = subprocess.run([compiler, "-O2", "-shared", "-fPIC", "-o", output,
                           os.path.join(HERE, "callgrind_marks.cpp")],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        return None, "callgrind client requests do not compile: " + proc.stderr.strip()[:200]
    return output, None


_NAME_SPACE = {"ob": "ob", "cob": "ob", "fl": "fl", "fi": "fl", "fe": "fl", "cfi": "fl",
               "cfl": "fl", "fn": "fn", "cfn": "fn"}


def parse_dump(path):
    """(label, total Ir, Ir in our object, Counter of our functions' self Ir)."""
    names = {"ob": {}, "fl": {}, "fn": {}}

    def resolve(kind, text):
        space = names[_NAME_SPACE[kind]]
        if not text.startswith("("):
            return text
        close = text.index(")")
        key, rest = text[1:close], text[close + 1:].strip()
        if rest:
            space[key] = rest
        return space[key]

    label = None
    positions = 1
    ir_column = 0
    total = ours = 0
    by_function = collections.Counter()
    obj = fn = ""
    in_ours = False
    skip_cost = False
    with open(path) as f:
        for line in f:
            first = line[:1]
            if first.isdigit() or first in "+-*":
                if skip_cost:  # inclusive cost of a call: not the caller's own
                    skip_cost = False
                    continue
                fields = line.split()
                column = positions + ir_column
                cost = int(fields[column]) if len(fields) > column else 0
                total += cost
                if in_ours:
                    ours += cost
                    by_function[fn] += cost
                continue
            key, sep, rest = line.rstrip("\n").partition("=")
            if sep and key in _NAME_SPACE:
                value = resolve(key, rest)
                if key == "ob":
                    obj = value
                elif key == "fn":
                    fn = value
                    in_ours = OUR_OBJECT in obj
                continue
            if sep and key == "calls":
                skip_cost = True
                continue
            head, sep, rest = line.partition(":")
            if not sep:
                continue
            rest = rest.strip()
            if head == "desc" and rest.startswith("Trigger: Client Request: "):
                label = rest[len("Trigger: Client Request: "):]
            elif head == "positions":
                positions = len(rest.split())
            elif head == "events":
                ir_column = rest.split().index("Ir")
    return label, total, ours, by_function


def short_name(function):
    """A demangled name without its return type, parameter list and
    namespaces, e.g. "call_method_keywords"."""
    # callgrind marks a recursion level with a '<n> suffix, the compiler a
    # specialised copy with " [clone .constprop.0]"
    name = re.sub(r"'\d+$", "", function.strip())
    name = re.sub(r"( \[clone [^\]]*\])+$", "", name).replace("(anonymous namespace)::", "")
    if name.endswith(")"):  # drop the parameter list, which may nest
        depth = 0
        for i in range(len(name) - 1, -1, -1):
            depth += {")": 1, "(": -1}.get(name[i], 0)
            if depth == 0:
                name = name[:i]
                break
    depth, start = 0, 0  # drop a return type: the last blank outside <>
    for i, ch in enumerate(name):
        depth += {"<": 1, ">": -1}.get(ch, 0)
        if ch == " " and depth == 0:
            start = i + 1
    name = name[start:]
    return name.replace("wsh::", "")


def sanitizer_preloaded():
    """Whether this process runs with the address sanitizer's runtime
    preloaded (tools/run-tests-sanitized), which valgrind cannot host."""
    return "libasan" in os.environ.get("LD_PRELOAD", "")


def profile(paths, n, warmup, python=sys.executable, build_root=None):
    """Runs the target under callgrind. Returns (results, functions, note):
    results[(path, variant)] = (Ir per request, our Ir per request), and
    functions[path] = Counter of our functions' self Ir per request for the
    native variant. Results are None (with the reason as note) without
    valgrind."""
    valgrind = shutil.which("valgrind")
    if valgrind is None:
        return None, None, "valgrind is not installed"
    if sanitizer_preloaded():
        return None, None, "the sanitizer runtime is preloaded (it cannot run under valgrind)"
    work = tempfile.mkdtemp(prefix="wsh-callgrind-", dir=build_root)
    try:
        marks, why = build_marks(work)
        if marks is None:
            return None, None, why
        import importlib.util
        spec = importlib.util.find_spec("corvanix.server.handlers.zorvik.workspace_handler")
        root = build_root or os.path.join(os.path.dirname(HERE), "build")
        module_file = unstripped_copy(spec.origin, root) or spec.origin
        command = [valgrind, "--tool=callgrind", "--instr-atstart=no", "-q",
                   "--callgrind-out-file=" + os.path.join(work, "cg.out")]
        command += [python, os.path.join(HERE, "callgrind_target.py"), marks, module_file, str(n),
                    str(warmup), *paths]
        subprocess.run(command, check=True, cwd=work, stdout=subprocess.DEVNULL)
        segments = {}
        for dump in glob.glob(os.path.join(work, "cg.out*")):
            label, total, ours, by_function = parse_dump(dump)
            if label:
                segments[label] = (total, ours, by_function)
        results, functions = {}, {}
        for path in paths:
            for variant in ("native", "plain", "floor"):
                zero = segments[f"{path} {variant} 0"]
                full = segments[f"{path} {variant} {n}"]
                results[(path, variant)] = ((full[0] - zero[0]) / n, (full[1] - zero[1]) / n)
                if variant == "native":
                    delta = collections.Counter()
                    for function in set(full[2]) | set(zero[2]):
                        delta[short_name(function)] += (full[2][function] - zero[2][function]) / n
                    functions[path] = delta
        note = None if module_file != spec.origin else "no unstripped build of the module: functions unnamed"
        return results, functions, note
    finally:
        shutil.rmtree(work, ignore_errors=True)
