"""What the Zorvik functions do, for the server's /metrics.

The metrics live in the registry the server's own /metrics serves (the
process's default one), beside the server's: platform calls by outcome and
their duration, store operations by kind and outcome and their duration,
the requests waiting for a worker, the workers busy, and the platforms in
a cool-down. Every label value comes from the closed sets below: never a
URL, a user or a workspace name.
"""
import time
from typing import Callable, Optional

import prometheus_client

# A platform call's outcome: how it ended, as the log names its cause.
ANSWERED = "answered"        # 2xx
PASSED_ON = "passed_on"      # a status about the client's request, passed on
COOLING_DOWN = "cooling_down"  # failed at once: the platform is in a cool-down
# and the kinds of `_cause.Cause`
PLATFORM_OUTCOMES = (ANSWERED, PASSED_ON, COOLING_DOWN, "unreachable", "timeout", "closed",
                     "tls", "not_http", "status", "too_large", "bad_answer", "proxy", "setting",
                     "busy", "failed")
OPERATIONS = ("list", "join")
# What the store does for each.
STORE_KIND = {"list": "read", "join": "write"}

# A store operation's kind and outcome.
STORE_KINDS = ("read", "write")
STORE_OUTCOMES = ("ok", "not_found", "failed", "busy", "timeout")

# The durations seen: a store operation within milliseconds, a platform call
# up to its deadline (5 s by default).
_STORE_BUCKETS = (0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0, 2.5,
                  5.0, 10.0)
_PLATFORM_BUCKETS = (0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0, 2.5, 5.0, 10.0, 30.0)

platform_calls = prometheus_client.Counter(
    "zorvik_platform_calls", "Zorvik platform calls, by operation and outcome.",
    ["operation", "outcome"])
platform_call_seconds = prometheus_client.Histogram(
    "zorvik_platform_call_duration_seconds",
    "Time a Zorvik platform call took, from its connection to its answer's last byte.",
    ["operation"], buckets=_PLATFORM_BUCKETS)
store_operations = prometheus_client.Counter(
    "zorvik_store_operations", "Embedded workspace store operations, by kind and outcome.",
    ["kind", "outcome"])
store_operation_seconds = prometheus_client.Histogram(
    "zorvik_store_operation_duration_seconds", "Time an embedded store operation took.",
    ["kind"], buckets=_STORE_BUCKETS)
requests_waiting = prometheus_client.Gauge(
    "zorvik_requests_waiting", "Requests waiting for a free worker.")
workers_busy = prometheus_client.Gauge(
    "zorvik_workers_busy", "Workers making a platform call or a store operation.")
cooldown_active = prometheus_client.Gauge(
    "zorvik_cooldown_active", "Zorvik platforms whose calls fail at once for a cool-down.")


def platform_call(operation: str, outcome: str, seconds: Optional[float] = None) -> None:
    """Counts a platform call; `seconds` where a call was made."""
    platform_calls.labels(operation, outcome).inc()
    if seconds is not None:
        platform_call_seconds.labels(operation).observe(seconds)


class StoreOperation:
    """Counts and times one store operation: `with StoreOperation("read") as
    op:`; an exception that leaves it counts as "failed" unless `op.outcome`
    says otherwise."""

    def __init__(self, kind: str) -> None:
        self.kind = kind
        self.outcome: Optional[str] = None

    def __enter__(self) -> "StoreOperation":
        self._start = time.monotonic()
        return self

    def __exit__(self, kind: Optional[type], *_: object) -> None:
        outcome = self.outcome or ("ok" if kind is None else "failed")
        store_operations.labels(self.kind, outcome).inc()
        store_operation_seconds.labels(self.kind).observe(time.monotonic() - self._start)


def refused(operation: str, on_store: bool, outcome: str) -> None:
    """A platform call or store operation that never ran (busy, or past its
    deadline before a worker took it)."""
    if on_store:
        store_operations.labels(STORE_KIND[operation], outcome).inc()
    else:
        platform_calls.labels(operation, outcome).inc()


def watch(waiting: Callable[[], int], busy: Callable[[], int],
          cooling: Callable[[], int]) -> None:
    """Where the gauges read their values, at each scrape."""
    requests_waiting.set_function(waiting)
    workers_busy.set_function(busy)
    cooldown_active.set_function(cooling)


def _start_at_zero() -> None:
    # Every known pair is shown from the start, at 0, so that a scrape lists
    # the families and a rate over them has a beginning.
    for operation in OPERATIONS:
        platform_call_seconds.labels(operation)
        for outcome in PLATFORM_OUTCOMES:
            platform_calls.labels(operation, outcome)
    for kind in STORE_KINDS:
        store_operation_seconds.labels(kind)
        for outcome in STORE_OUTCOMES:
            store_operations.labels(kind, outcome)


_start_at_zero()
