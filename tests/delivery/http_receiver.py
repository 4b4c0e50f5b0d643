#!/usr/bin/python3
"""An HTTP receiver for the delivery tests: records every request and
answers as it is told.

Usage:
  /usr/bin/python3 http_receiver.py --log FILE [--host 127.0.0.1] [--port 0]
                                    [--control FILE] [--cert FILE --key FILE]

Once it listens it prints "PORT <n>" on a line of its own on standard
output (--port 0, the default, takes a free port). Every request is
appended to the log as one JSON line, written before the answer:
  {"method": "POST", "path": "/pages", "headers": [["Host", "..."], ...],
   "body": "...", "client": "127.0.0.1:40112"}
(client: the connection it came on, so a test sees a connection kept).
--cert/--key: HTTPS with that certificate instead of plain HTTP.

What it answers: a path that begins with one of the words below says so;
otherwise the first line of the control file, when that file exists and is
not empty; otherwise 200.
  /status/CODE     answers CODE (e.g. /status/500); "?retry_after=V" adds
                   "Retry-After: V"; "?echo=1" puts the request's headers
                   in the answer's body
  /hang            reads the request, never answers, until the client goes
  /close           reads the request and closes without an answer
  /partial         a 200 promising more body than it sends, then closes
  /garbage         answers a line that is no HTTP, then closes
The control file holds the same words without the slash and the query:
"500", "429 7" (Retry-After: 7), "400 echo", "hang", "close", "partial",
"garbage". It is read at every request, so a script can change it while the
receiver runs (write a new file and rename it over the old one).

Stop it with SIGTERM or SIGKILL.
"""

import argparse
import json
import ssl
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MODES = ("status", "hang", "close", "partial", "garbage")


def parse_args():
    parser = argparse.ArgumentParser(description="HTTP receiver for tests")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log", required=True, help="JSON lines, one per request")
    parser.add_argument("--control", help="file whose first line says how to answer")
    parser.add_argument("--cert", help="serve HTTPS with this certificate")
    parser.add_argument("--key", help="the certificate's private key")
    return parser.parse_args()


class Receiver(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, log_path, control_path):
        super().__init__(address, Handler)
        self.log_path = log_path
        self.control_path = control_path
        self.log_lock = threading.Lock()

    def record(self, entry):
        with self.log_lock, open(self.log_path, "a", encoding="utf-8") as log:
            log.write(json.dumps(entry) + "\n")

    def control(self):
        if not self.control_path:
            return []
        try:
            with open(self.control_path, encoding="utf-8") as control:
                return control.readline().split()
        except OSError:
            return []


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # The headers and the body go out in two writes: without this, the
    # second waits for the client's delayed ACK, 40 ms a request on a kept
    # connection, as no real server would make it wait.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.handle_request()

    def do_POST(self):
        self.handle_request()

    def do_PUT(self):
        self.handle_request()

    def how_to_answer(self):
        """(mode, code, retry_after, echo) for this request."""
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        parts = [p for p in url.path.split("/") if p]
        if parts and parts[0] in MODES:
            if parts[0] == "status":
                code = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 200
                return ("status", code, query.get("retry_after", [None])[0],
                        query.get("echo", ["0"])[0] == "1")
            return (parts[0], 200, None, False)
        words = self.server.control()
        if not words:
            return ("status", 200, None, False)
        if words[0].isdigit():
            rest = words[1:]
            echo = "echo" in rest
            retry = next((w for w in rest if w != "echo"), None)
            return ("status", int(words[0]), retry, echo)
        return (words[0], 200, None, False)

    def handle_request(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        self.server.record({
            "method": self.command,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": body.decode("utf-8", "replace"),
            "client": "%s:%d" % self.client_address[:2],
        })
        mode, code, retry_after, echo = self.how_to_answer()
        if mode == "hang":
            # Until the client closes the connection (or is killed).
            self.close_connection = True
            while self.connection.recv(4096):
                pass
            return
        if mode == "close":
            self.close_connection = True
            return
        if mode == "garbage":
            self.close_connection = True
            self.wfile.write(b"this is no answer at all\r\n\r\n")
            return
        if mode == "partial":
            self.close_connection = True
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npart")
            return
        answer = "status %d for %s %s\n" % (code, self.command, self.path)
        if echo:
            answer += "".join("%s: %s\n" % (k, v) for k, v in self.headers.items())
        data = answer.encode("utf-8")
        self.send_response(code)
        if retry_after is not None:
            self.send_header("Retry-After", retry_after)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


def main():
    args = parse_args()
    server = Receiver((args.host, args.port), args.log, args.control)
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
