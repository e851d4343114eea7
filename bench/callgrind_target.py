"""Runs inside callgrind: for every path and variant, a warm-up without
instrumentation, then two measured segments, 0 requests and N requests,
each ended by a dump labelled "<path> <variant> <count>". The difference of
the two segments is the cost of N requests.

    valgrind --tool=callgrind --instr-atstart=no python callgrind_target.py \
        MARKS_LIB MODULE_FILE N WARMUP PATH...

MODULE_FILE is the native module's shared object to load (a build with
symbols of the installed one).
"""
import ctypes
import gc
import importlib
import importlib.machinery
import importlib.util
import sys

import cases


def load_native(module_file):
    parent, _, leaf = cases.NATIVE_MODULE.rpartition(".")
    package = importlib.import_module(parent)
    loader = importlib.machinery.ExtensionFileLoader(cases.NATIVE_MODULE, module_file)
    spec = importlib.util.spec_from_file_location(cases.NATIVE_MODULE, module_file, loader=loader)
    module = importlib.util.module_from_spec(spec)
    sys.modules[cases.NATIVE_MODULE] = module
    loader.exec_module(module)
    setattr(package, leaf, module)


def main(marks_path, module_file, n, warmup, paths):
    load_native(module_file)
    marks = ctypes.CDLL(marks_path)
    marks.bench_dump.argtypes = [ctypes.c_char_p]
    modules = cases.handler_modules()
    gc.disable()  # no collection may land in a measured segment
    for path in paths:
        for variant, case in cases.make_cases(path, modules).items():
            gc.collect()
            case.run(warmup)
            marks.bench_instrument(1)
            marks.bench_zero()
            case.run(0)
            marks.bench_dump(f"{path} {variant} 0".encode())
            case.run(n)
            marks.bench_dump(f"{path} {variant} {n}".encode())
            marks.bench_instrument(0)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5:])
