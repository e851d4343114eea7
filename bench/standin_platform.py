"""The benchmark's own stand-in Zorvik platform: the workspace list the
client fetches, served on 127.0.0.1 with kept-alive connections and nothing
else (no failure modes, no state), so the client's latency is measured
against a platform that costs next to nothing.

    python standin_platform.py PORT

Prints "listening" once it accepts connections; stops on SIGTERM.
"""
import http.server
import json
import signal
import sys

WORKSPACES = json.dumps([{"id": 1, "name": "Bench", "current": True},
                         {"id": 2, "name": "Other", "current": False}]).encode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keeps the connection for the next call
    # One write per answer, sent at once: headers and body in separate small
    # writes would wait for the client's delayed acknowledgement.
    wbufsize = -1
    disable_nagle_algorithm = True

    def do_GET(self):
        if self.path.rstrip("/") != "/api/workspaces":
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(WORKSPACES)))
        self.end_headers()
        self.wfile.write(WORKSPACES)

    def log_message(self, format, *args):
        pass


def main(port):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("listening", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main(int(sys.argv[1]))
