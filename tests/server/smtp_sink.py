#!/usr/bin/python3
"""A throw-away SMTP relay on loopback for the service's tests.

usage: smtp_sink.py FOLDER MODE CERT KEY [USER:PASSWORD]

MODE is "starttls" (plain connection that must switch to TLS first),
"smtps" (TLS from the start) or "plain" (no TLS offered at all). Every message received is written to FOLDER as
one file. Prints "listening on 127.0.0.1:PORT" once it accepts connections and
runs until it is sent SIGTERM.
"""

import os
import signal
import socket
import ssl
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Keep:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            name = os.path.join(self.folder, "%04d.eml" % self.count)
        part = name + ".part"
        with open(part, "wb") as out:
            out.write(("X-Envelope-To: %s\r\n" % ",".join(envelope.rcpt_tos)).encode())
            out.write(envelope.original_content or envelope.content)
        os.rename(part, name)
        return "250 Message accepted"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main():
    folder, mode, cert, key = sys.argv[1:5]
    login = sys.argv[5] if len(sys.argv) > 5 else None
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)

    options = {}
    if login:
        user, password = login.split(":", 1)

        def authenticator(server, session, envelope, mechanism, data):
            ok = isinstance(data, LoginPassword) and data.login.decode() == user \
                and data.password.decode() == password
            return AuthResult(success=ok)

        options.update(authenticator=authenticator, auth_required=True, auth_require_tls=True)
    if mode == "starttls":
        options.update(tls_context=context, require_starttls=True)
    elif mode == "smtps":
        # aiosmtpd counts only STARTTLS as TLS when it decides to offer AUTH.
        options.update(ssl_context=context, auth_require_tls=False)
    elif mode == "plain":
        pass
    else:
        sys.exit("unknown mode " + mode)

    port = free_port()
    controller = Controller(Keep(folder), hostname="127.0.0.1", port=port, **options)
    controller.start()
    print("listening on 127.0.0.1:%d" % port, flush=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    stop.wait()
    controller.stop()


if __name__ == "__main__":
    main()
