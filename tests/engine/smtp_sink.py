#!/usr/bin/python3
"""A loopback SMTP server for the mail tests, on Debian's aiosmtpd.

  smtp_sink.py start FOLDER   starts the server in the background on a free port of
                              127.0.0.1 and returns once it listens; the port is in
                              FOLDER/port, the server's process id in FOLDER/pid
  smtp_sink.py stop FOLDER    ends that server and waits until it is gone

Every message the server accepts becomes one file in FOLDER/messages: lines
"helo NAME", "from ADDRESS" and one "to ADDRESS" per recipient, an empty line, then the
message exactly as it came after DATA (transparency dots already removed). The file is
complete before the server answers 250, so a client that saw 250 finds it.

The server ends by itself after LIFETIME seconds, so a run that never reaches "stop"
leaves nothing behind for long.
"""
import asyncio
import os
import shutil
import signal
import socket
import subprocess
import sys
import time
import uuid

LIFETIME = 900


class Sink:
    def __init__(self, folder):
        self.messages = os.path.join(folder, "messages")

    async def handle_DATA(self, server, session, envelope):
        lines = ["helo %s" % session.host_name, "from %s" % envelope.mail_from]
        lines += ["to %s" % r for r in envelope.rcpt_tos]
        head = ("\n".join(lines) + "\n\n").encode("latin-1", "replace")
        name = uuid.uuid4().hex
        temporary = os.path.join(self.messages, name + ".tmp")
        with open(temporary, "wb") as f:
            f.write(head + envelope.original_content)
        os.replace(temporary, os.path.join(self.messages, name + ".eml"))
        return "250 OK"


def serve(folder):
    from aiosmtpd.smtp import SMTP

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    handler = Sink(folder)
    # A fixed host name: the default asks the resolver for this machine's full name.
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(handler, hostname="tolvane-sink", loop=loop), sock=listener))
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    loop.call_later(LIFETIME, loop.stop)
    port_file = os.path.join(folder, "port")
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.replace(port_file + ".tmp", port_file)
    try:
        loop.run_forever()
    finally:
        server.close()
        loop.close()


def start(folder):
    stop(folder)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "messages"))
    # Its own session and no descriptor of ours: CTest reads this script's output
    # through a pipe and must not wait for the server to close it.
    with open(os.path.join(folder, "server.log"), "wb") as log:
        child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", folder],
                                 stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                 start_new_session=True, close_fds=True)
    with open(os.path.join(folder, "pid"), "w") as f:
        f.write("%d\n" % child.pid)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if os.path.exists(os.path.join(folder, "port")):
            print("smtp sink on port", open(os.path.join(folder, "port")).read().strip())
            return 0
        if child.poll() is not None:
            break
        time.sleep(0.05)
    child.kill()
    child.wait()
    sys.stderr.write(open(os.path.join(folder, "server.log")).read())
    sys.stderr.write("smtp sink did not start\n")
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


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop", "serve"):
        sys.stderr.write(__doc__)
        sys.exit(2)
    sys.exit({"start": start, "stop": stop, "serve": serve}[sys.argv[1]](sys.argv[2]) or 0)
