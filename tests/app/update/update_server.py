#!/usr/bin/python3
"""A loopback HTTP server standing in for the update server in the update tests.

  update_server.py start FOLDER   starts the server in the background on a free port of
                                  127.0.0.1 and returns once it listens; the port is in
                                  FOLDER/port, the server's process id in FOLDER/pid
  update_server.py stop FOLDER    ends that server and waits until it is gone

It serves the files under FOLDER/www (a missing one is a 404 with Python's error page)
and appends the path of every GET to FOLDER/requests. A file NAME may have a NAME.mode
beside it that changes how NAME is sent:
  cut        announces the whole length, sends half, and closes the connection
  stall      announces the whole length, sends half, then sends nothing for a minute
  slow       sends blocks of 512 bytes 50 ms apart
  nolength   sends no Content-Length header

The server ends by itself after LIFETIME seconds, so a run that never reaches "stop"
leaves nothing behind for long.
"""
import http.server
import os
import signal
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
import loopback_server  # noqa: E402

LIFETIME = 900


def handler_for(folder):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            with open(os.path.join(folder, "requests"), "a") as f:
                f.write(self.path + "\n")
            path = os.path.join(folder, "www", self.path.lstrip("/"))
            if not os.path.isfile(path):
                return self.send_error(404)
            data = open(path, "rb").read()
            mode = open(path + ".mode").read().strip() if os.path.exists(path + ".mode") else ""
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            if mode != "nolength":
                self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            if mode in ("cut", "stall"):
                self.wfile.write(data[:len(data) // 2])
                self.wfile.flush()
                if mode == "stall":
                    time.sleep(60)
            elif mode == "slow":
                for at in range(0, len(data), 512):
                    self.wfile.write(data[at:at + 512])
                    self.wfile.flush()
                    time.sleep(0.05)
            else:
                self.wfile.write(data)

        def log_message(self, *args):
            pass

    return Handler


def serve(folder):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler_for(folder))
    server.daemon_threads = True
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    threading.Timer(LIFETIME, server.shutdown).start()
    loopback_server.write_port(folder, server.server_address[1])
    server.serve_forever()
    os._exit(0)


if __name__ == "__main__":
    loopback_server.main(__file__, __doc__, lambda folder: os.makedirs(os.path.join(folder, "www")), serve)
