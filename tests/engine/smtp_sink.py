#!/usr/bin/python3
"""A loopback SMTP server for the mail tests, on Debian's aiosmtpd.

  smtp_sink.py start FOLDER   starts the server in the background on a free port of
                              127.0.0.1 and 127.0.0.2 (the same port on both) and
                              returns once it listens; the port is in
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
import signal
import socket
import sys
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import loopback_server  # noqa: E402

LIFETIME = 900
# 127.0.0.2 is a loopback address that an ordinary machine has no name for, so a client
# that resolves a dotted address by its name finds none there.
ADDRESSES = ("127.0.0.1", "127.0.0.2")


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
    listeners = listen_on(ADDRESSES)
    handler = Sink(folder)
    # A fixed host name: the default asks the resolver for this machine's full name.
    servers = [loop.run_until_complete(loop.create_server(
        lambda: SMTP(handler, hostname="tolvane-sink", loop=loop), sock=listener))
        for listener in listeners]
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    loop.call_later(LIFETIME, loop.stop)
    loopback_server.write_port(folder, listeners[0].getsockname()[1])
    try:
        loop.run_forever()
    finally:
        for server in servers:
            server.close()
        loop.close()


def listen_on(addresses):
    """Listening sockets on one port, free on every address."""
    for _ in range(50):
        first = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        first.bind((addresses[0], 0))
        port = first.getsockname()[1]
        listeners = [first]
        try:
            for address in addresses[1:]:
                other = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                listeners.append(other)
                other.bind((address, port))
        except OSError:
            for listener in listeners:
                listener.close()
            continue
        for listener in listeners:
            listener.listen(64)
        return listeners
    raise OSError("no port free on all of %s" % ", ".join(addresses))


if __name__ == "__main__":
    loopback_server.main(__file__, __doc__, lambda folder: os.makedirs(os.path.join(folder, "messages")), serve)
