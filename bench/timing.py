"""Time per request in one process: native, plain and floor interleaved
(A B C A B C ...) over several rounds, so drift on a shared machine hits all
three alike. Reports the median and the interquartile spread per variant,
and the median of the per-round native/plain ratios."""
import gc
import statistics
import time

import cases


def _batch_ns(case, n):
    start = time.perf_counter_ns()
    case.run(n)
    return (time.perf_counter_ns() - start) / n


def _batch_size(case, target_ns):
    """Requests per batch so that one batch takes about `target_ns`."""
    n = 16
    while True:
        per_request = _batch_ns(case, n)
        if per_request * n >= target_ns / 4 or n >= 1 << 20:
            return max(1, int(target_ns / per_request))
        n *= 4


def quartile_spread(values):
    """Half the interquartile range, relative to the median (0.02 = ±2%)."""
    if len(values) < 4:
        return (max(values) - min(values)) / 2 / statistics.median(values)
    q1, _, q3 = statistics.quantiles(values, n=4)
    return (q3 - q1) / 2 / statistics.median(values)


def measure(paths, rounds, batch_ms, warmup):
    """{path: {variant: (median ns, spread), "ratio": native/plain}}."""
    modules = cases.handler_modules()
    results = {}
    enabled = gc.isenabled()
    gc.disable()  # collected between batches instead, for all variants alike
    try:
        for path in paths:
            path_cases = cases.make_cases(path, modules)
            for case in path_cases.values():
                case.run(warmup)
            sizes = {variant: _batch_size(case, batch_ms * 1e6)
                     for variant, case in path_cases.items()}
            samples = {variant: [] for variant in path_cases}
            for _ in range(rounds):
                for variant, case in path_cases.items():
                    gc.collect()
                    samples[variant].append(_batch_ns(case, sizes[variant]))
            row = {variant: (statistics.median(values), quartile_spread(values))
                   for variant, values in samples.items()}
            row["ratio"] = statistics.median(
                native / plain for native, plain in zip(samples["native"], samples["plain"]))
            results[path] = row
    finally:
        if enabled:
            gc.enable()
    return results
