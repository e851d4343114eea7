"""A server started without a terminal stops on SIGINT as on SIGTERM.

With a terminal the server asks itself whether to stop. Without one (a
supervisor, `kill -INT`, `nohup`) it leaves SIGINT to Python, whose
KeyboardInterrupt ends the event loop where it stands: no extension is
stopped and the requests that wait are never answered. Where the server
left SIGINT so, it is handled as the server handles SIGTERM, until the
extension stops.
"""
import signal
import threading
from typing import Any, Callable, Optional


def stop_on_interrupt(serverapp: Any) -> Optional[Callable[[], None]]:
    """Installs the handler where SIGINT is Python's own; gives what puts
    Python's back, or None where nothing was installed."""
    if (threading.current_thread() is not threading.main_thread()
            or signal.getsignal(signal.SIGINT) is not signal.default_int_handler):
        return None

    def stop(signum: int, _frame: Any) -> None:
        serverapp.log.critical("received signal %s, stopping", signum)
        serverapp.stop(from_signal=True)

    signal.signal(signal.SIGINT, stop)

    def restore() -> None:
        if (threading.current_thread() is threading.main_thread()
                and signal.getsignal(signal.SIGINT) is stop):
            signal.signal(signal.SIGINT, signal.default_int_handler)
    return restore
