"""`jupyter server` (arguments as for it) with one debug hook for the
benchmark, set up here and nowhere in the product: on SIGUSR2 the process
runs a full garbage collection and writes how many greenlets are still
alive (every greenlet object the collector tracks, the threads' main ones
included; a greenlet left suspended stays tracked, as it cannot be freed)
to the file named by BENCH_COUNT_FILE.

    BENCH_COUNT_FILE=PATH python counted_server.py --no-browser ...
"""
import gc
import os
import signal
import sys

import greenlet
from jupyter_server.serverapp import main

COUNT_FILE = os.environ["BENCH_COUNT_FILE"]


def write_count(signum, frame):
    # On the loop's thread, between two of its steps: nothing else of the
    # loop runs while it counts.
    gc.collect()
    live = sum(1 for o in gc.get_objects() if isinstance(o, greenlet.greenlet))
    with open(COUNT_FILE + ".new", "w") as f:
        f.write(f"{live}\n")
    os.replace(COUNT_FILE + ".new", COUNT_FILE)


if __name__ == "__main__":
    # The server takes SIGUSR1 for its own report; SIGUSR2 is free.
    signal.signal(signal.SIGUSR2, write_count)
    sys.exit(main())
