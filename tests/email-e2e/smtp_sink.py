#!/usr/bin/env python3
"""smtp_sink.py DIR

A minimal SMTP server on loopback for tests: it accepts every message and
stores it as DIR/msg-N.eml (line ends as in a local mailbox, "\n") with the
envelope in DIR/msg-N.json. The port it listens on is written to DIR/port
once it accepts connections. Runs until it is killed.
"""
import itertools
import json
import os
import socketserver
import sys
import threading

DIR = sys.argv[1]
numbers = itertools.count(1)
numbers_lock = threading.Lock()


class Session(socketserver.StreamRequestHandler):
    def reply(self, text):
        self.wfile.write(text.encode("ascii") + b"\r\n")
        self.wfile.flush()

    def read_data(self):
        lines = []
        while True:
            line = self.rfile.readline()
            if not line or line in (b".\r\n", b".\n"):
                return b"".join(lines)
            if line.startswith(b"."):
                line = line[1:]
            lines.append(line.replace(b"\r\n", b"\n"))

    def store(self, sender, recipients, data):
        with numbers_lock:
            number = next(numbers)
        base = os.path.join(DIR, "msg-%d" % number)
        with open(base + ".json", "w") as envelope:
            json.dump({"from": sender, "to": recipients}, envelope)
        with open(base + ".part", "wb") as message:
            message.write(data)
        os.rename(base + ".part", base + ".eml")

    def handle(self):
        self.reply("220 sink ESMTP")
        sender, recipients = None, []
        while True:
            line = self.rfile.readline()
            if not line:
                return
            command = line.decode("ascii", "replace").rstrip("\r\n")
            verb = command[:4].upper()
            if verb in ("EHLO", "HELO"):
                self.reply("250 sink")
            elif verb == "MAIL":
                sender, recipients = command.split(":", 1)[1].strip(), []
                self.reply("250 OK")
            elif verb == "RCPT":
                recipients.append(command.split(":", 1)[1].strip())
                self.reply("250 OK")
            elif verb == "DATA":
                self.reply("354 end with .")
                self.store(sender, recipients, self.read_data())
                self.reply("250 stored")
            elif verb in ("RSET", "NOOP"):
                self.reply("250 OK")
            elif verb == "QUIT":
                self.reply("221 bye")
                return
            else:
                self.reply("502 not implemented")


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


with Server(("127.0.0.1", 0), Session) as server:
    with open(os.path.join(DIR, "port.part"), "w") as port:
        port.write(str(server.server_address[1]))
    os.rename(os.path.join(DIR, "port.part"), os.path.join(DIR, "port"))
    server.serve_forever()
