"""The benchmark's own stand-in Zorvik platform: the workspace list the
client fetches, served on 127.0.0.1 with kept-alive connections and nothing
else (no state), so the client's latency is measured against a platform that
costs next to nothing.

    python standin_platform.py PORT [--delay SECONDS] [--stall]

With --delay every answer waits that long first (each request on its own, as
a slow platform serving many at once); with --stall it sends the headers of
a 200 answer and then nothing until the client leaves. Prints "listening"
once it accepts connections; stops on SIGTERM.
"""
import argparse
import http.server
import json
import signal
import sys
import time

WORKSPACES = json.dumps([{"id": 1, "name": "Bench", "current": True},
                         {"id": 2, "name": "Other", "current": False}]).encode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keeps the connection for the next call
    # One write per answer, sent at once: headers and body in separate small
    # writes would wait for the client's delayed acknowledgement.
    wbufsize = -1
    disable_nagle_algorithm = True

    delay = 0.0
    stall = False

    def do_GET(self):
        if self.path.rstrip("/") != "/api/workspaces":
            self.send_error(404)
            return
        if self.delay:
            time.sleep(self.delay)
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(WORKSPACES)))
        self.end_headers()
        if self.stall:
            self.wfile.flush()
            while self.connection.recv(4096):  # until the client leaves
                pass
            self.close_connection = True
            return
        self.wfile.write(WORKSPACES)

    def log_message(self, format, *args):
        pass


def main(argv):
    parser = argparse.ArgumentParser(description="the benchmark's stand-in Zorvik platform")
    parser.add_argument("port", type=int)
    parser.add_argument("--delay", type=float, default=0.0)
    parser.add_argument("--stall", action="store_true")
    args = parser.parse_args(argv)
    Handler.delay = args.delay
    Handler.stall = args.stall
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("listening", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main(sys.argv[1:])
