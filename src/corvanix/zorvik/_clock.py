"""The clock of the deadline, the cool-down and the failure log.

A monotonic callable, read through this module at every use, so that a test
can put a clock of its own in its place and move time on by hand.
"""
import time
from typing import Callable

now: Callable[[], float] = time.monotonic
