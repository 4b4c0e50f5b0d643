#!/usr/bin/python3
"""An SMTP receiver for the delivery tests (aiosmtpd): records every mail
it accepts and refuses when it is told.

Usage:
  /usr/bin/python3 smtp_receiver.py --log FILE [--host 127.0.0.1] [--port 0]
      [--control FILE] [--user NAME --password SECRET]
      [--cert FILE --key FILE [--implicit-tls]]

Once it listens it prints "PORT <n>" on a line of its own on standard
output (--port 0, the default, takes a free port). Every accepted mail is
appended to the log as one JSON line, written before the 250 answer:
  {"mail_from": "...", "rcpt_tos": ["..."], "data": "<the whole mail>",
   "subject": "<decoded>", "text": "<the body, decoded>",
   "login": "<user name or null>", "tls": true|false}
(subject and text as Python's email package reads them: encoded words and
the transfer encoding undone).

--user/--password: a login is required (AUTH PLAIN or LOGIN, also without
TLS). --cert/--key: STARTTLS is offered and required; with --implicit-tls
the connection is TLS from the start (smtps) instead.

The first word of the control file, read at every mail, makes it refuse:
  451       answers the end of the mail with 451 (try later)
  550       answers the end of the mail with 550 (refused for good)
  rcpt550   answers every recipient with 550
  hang      records the mail, then never answers the end of it
A missing or empty control file accepts everything. Stop it with SIGTERM or
SIGKILL.
"""

import argparse
import asyncio
import email
import email.header
import email.policy
import json
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult


def parse_args():
    parser = argparse.ArgumentParser(description="SMTP receiver for tests")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log", required=True, help="JSON lines, one per mail")
    parser.add_argument("--control", help="file whose first word says how to answer")
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--implicit-tls", action="store_true")
    return parser.parse_args()


class Handler:
    def __init__(self, args):
        self.args = args

    def control(self):
        if not self.args.control:
            return ""
        try:
            with open(self.args.control, encoding="utf-8") as control:
                words = control.readline().split()
                return words[0] if words else ""
        except OSError:
            return ""

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.control() == "rcpt550":
            return "550 5.1.1 No such mailbox here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        control = self.control()
        if control == "451":
            return "451 4.3.0 Try again later"
        if control == "550":
            return "550 5.7.1 Message refused"
        login = session.auth_data
        message = email.message_from_bytes(envelope.content, policy=email.policy.default)
        body = message.get_payload(decode=True) or b""
        charset = message.get_content_charset() or "ascii"
        entry = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": list(envelope.rcpt_tos),
            "data": envelope.content.decode("utf-8", "replace"),
            "subject": str(message.get("Subject", "")),
            "text": body.decode(charset, "replace").replace("\r\n", "\n"),
            "login": login.decode("utf-8", "replace") if isinstance(login, bytes) else login,
            "tls": self.args.implicit_tls or session.ssl is not None,
        }
        with open(self.args.log, "a", encoding="utf-8") as log:
            log.write(json.dumps(entry) + "\n")
        if control == "hang":
            await asyncio.Event().wait()
        return "250 OK queued"


def main():
    args = parse_args()
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    handler = Handler(args)

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (auth_data.login.decode() == args.user and
              auth_data.password.decode() == args.password)
        return AuthResult(success=ok, handled=False, auth_data=auth_data.login if ok else None)

    def make_session():
        starttls = context if context is not None and not args.implicit_tls else None
        return SMTP(handler,
                    hostname="receiver.test",
                    tls_context=starttls,
                    require_starttls=starttls is not None,
                    authenticator=authenticator if args.user else None,
                    auth_required=bool(args.user),
                    auth_require_tls=False,
                    decode_data=False)

    async def serve():
        server = await asyncio.get_running_loop().create_server(
            make_session, args.host, args.port,
            ssl=context if args.implicit_tls else None)
        print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
        async with server:
            await server.serve_forever()

    try:
        asyncio.run(serve())
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
