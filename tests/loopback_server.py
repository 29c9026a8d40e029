"""Start and stop of the loopback servers the tests talk to (smtp_sink.py, update_server.py).

A server script calls main(__file__, doc, prepare, serve): "start FOLDER" runs the script
again as "serve FOLDER" in the background and returns once FOLDER/port exists; "stop
FOLDER" ends it through FOLDER/pid and waits until it is gone. `prepare(folder)` makes the
script's own subfolders of a fresh FOLDER; `serve(folder)` runs the server and writes the
port with write_port.
"""
import os
import shutil
import signal
import subprocess
import sys
import time


def write_port(folder, port):
    port_file = os.path.join(folder, "port")
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % port)
    os.replace(port_file + ".tmp", port_file)


def start(script, folder, prepare):
    stop(folder)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    prepare(folder)
    # Its own session and no descriptor of ours: CTest reads this script's output
    # through a pipe and must not wait for the server to close it.
    with open(os.path.join(folder, "server.log"), "wb") as log:
        child = subprocess.Popen([sys.executable, os.path.abspath(script), "serve", folder],
                                 stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                 start_new_session=True, close_fds=True)
    with open(os.path.join(folder, "pid"), "w") as f:
        f.write("%d\n" % child.pid)
    name = os.path.basename(script)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if os.path.exists(os.path.join(folder, "port")):
            print(name, "on port", open(os.path.join(folder, "port")).read().strip())
            return 0
        if child.poll() is not None:
            break
        time.sleep(0.05)
    child.kill()
    child.wait()
    sys.stderr.write(open(os.path.join(folder, "server.log")).read())
    sys.stderr.write("%s did not start\n" % name)
    return 1


def stop(folder):
    pid_file = os.path.join(folder, "pid")
    try:
        pid = int(open(pid_file).read())
    except (OSError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            os.kill(pid, 0)
            time.sleep(0.05)
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    os.remove(pid_file)
    return 0


def main(script, doc, prepare, serve):
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop", "serve"):
        sys.stderr.write(doc)
        sys.exit(2)
    command, folder = sys.argv[1], sys.argv[2]
    if command == "start":
        sys.exit(start(script, folder, prepare))
    if command == "stop":
        sys.exit(stop(folder))
    sys.exit(serve(folder) or 0)
