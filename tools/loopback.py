"""Servers that tests, the soak and the benchmark start on 127.0.0.1."""
import os
import socket
import subprocess


def free_port():
    """A port on 127.0.0.1 that nothing listens on (until someone takes it)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def jupyter_env(home, base=None):
    """`base` (default: this process's environment) with every Jupyter
    directory inside `home`, so a server started with it touches nothing of
    the user's."""
    env = dict(os.environ if base is None else base, JUPYTER_PLATFORM_DIRS="1")
    for name in ("CONFIG", "DATA", "RUNTIME"):
        env[f"JUPYTER_{name}_DIR"] = os.path.join(home, name.lower())
    return env


def stop_process(proc, timeout=15):
    """Ends a server process: asked first, killed if it does not end in time."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
