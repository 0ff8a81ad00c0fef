#!/usr/bin/python3
"""The slow, sometimes deferring SMTP sink of bench/soak.sh (Debian: python3-aiosmtpd).

  soak_sink.py --listen HOST:PORT --log FILE [--reply-ms MS] [--data-ms MS] [--defer PERCENT]
               [--draw N] [--pidfile FILE]

Every reply waits REPLY_MS (the end of DATA waits DATA_MS); a RCPT is answered 451 with the
probability PERCENT. FILE gets one complete line per event, appended with a single write(2)
each, so a reader never sees half a line (tab separated, times are CLOCK_REALTIME seconds):

  S <time> <session>                                   a session said EHLO/HELO
  D <time> <session> <recipient>                       a RCPT deferred with 451
  A <time> <session> <message-id> <recipient> <sha256 of the body> <ok|bad>
                                                       the end of DATA was accepted for it
  Q <time> <session>                                   the session ended (QUIT or lost)

"ok" means the body's first line "Soak-Checksum: <hex>" matches the SHA-256 of the body lines
after it, as the mail was received (dot-unstuffed, CR LF); "bad" means it does not or is
missing; such a mail is also kept beside FILE as bad-<session>-<sha256 prefix>.eml.
"""
import argparse
import asyncio
import hashlib
import itertools
import os
import random
import re
import signal
import sys
import time

from aiosmtpd.smtp import SMTP

MESSAGE_ID = re.compile(rb"^Message-ID:[ \t]*(<[^>\r\n]*>)", re.IGNORECASE | re.MULTILINE)
CHECKSUM = re.compile(rb"^Soak-Checksum: ([0-9a-f]{64})\r\n")
SESSIONS = itertools.count(1)


class Log:
    def __init__(self, path):
        self.fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)

    def write(self, kind, *fields):
        line = "\t".join([kind, "%.6f" % time.time()] + [str(f) for f in fields]) + "\n"
        os.write(self.fd, line.encode("utf-8", "replace"))


def body_check(content):
    """(sha256 of the body, "ok"/"bad") for the content as received."""
    head, sep, body = content.partition(b"\r\n\r\n")
    digest = hashlib.sha256(body).hexdigest()
    match = CHECKSUM.match(body)
    if not sep or not match:
        return digest, "bad"
    rest = body[match.end():]
    return digest, "ok" if hashlib.sha256(rest).hexdigest() == match.group(1).decode() else "bad"


class SoakHandler:
    def __init__(self, log, reply_s, data_s, defer_share, rng, bad_dir):
        self.log = log
        self.bad_dir = bad_dir
        self.reply_s = reply_s
        self.data_s = data_s
        self.defer_share = defer_share
        self.rng = rng

    def session_id(self, session):
        if not hasattr(session, "soak_id"):
            session.soak_id = next(SESSIONS)
            self.log.write("S", session.soak_id)
        return session.soak_id

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        self.session_id(session)
        session.host_name = hostname
        await asyncio.sleep(self.reply_s)
        return [r for r in responses if not r.startswith("250-AUTH")]

    async def handle_HELO(self, server, session, envelope, hostname):
        self.session_id(session)
        session.host_name = hostname
        await asyncio.sleep(self.reply_s)
        return "250 soak-sink"

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        await asyncio.sleep(self.reply_s)
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 2.1.0 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        await asyncio.sleep(self.reply_s)
        if self.rng.random() < self.defer_share:
            self.log.write("D", self.session_id(session), address)
            return "451 4.2.1 <%s>: try again later (soak)" % address
        envelope.rcpt_tos.append(address)
        return "250 2.1.5 OK"

    async def handle_DATA(self, server, session, envelope):
        await asyncio.sleep(self.data_s)
        content = envelope.original_content or envelope.content or b""
        match = MESSAGE_ID.search(content.partition(b"\r\n\r\n")[0])
        mid = match.group(1).decode("ascii", "replace") if match else "<none>"
        digest, verdict = body_check(content)
        sid = self.session_id(session)
        for rcpt in envelope.rcpt_tos:
            self.log.write("A", sid, mid, rcpt, digest, verdict)
        if verdict == "bad" and self.bad_dir:
            # Kept for a look: the mail as received.
            name = os.path.join(self.bad_dir, "bad-%d-%s.eml" % (sid, digest[:12]))
            with open(name, "wb") as f:
                f.write(content)
        return "250 2.0.0 OK queued"


class SoakSMTP(SMTP):
    def connection_lost(self, error):
        sid = getattr(self.session, "soak_id", None) if self.session else None
        if sid is not None:
            self.event_handler.log.write("Q", sid)
        super().connection_lost(error)


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--listen", required=True, help="HOST:PORT, a loopback address")
    p.add_argument("--log", required=True)
    p.add_argument("--reply-ms", type=float, default=3.0)
    p.add_argument("--data-ms", type=float, default=60.0)
    p.add_argument("--defer", type=float, default=4.0, help="percent of RCPTs answered 451")
    p.add_argument("--draw", type=int, default=None)
    p.add_argument("--pidfile")
    return p.parse_args()


def main():
    args = parse_args()
    host, _, port = args.listen.rpartition(":")
    if not host.startswith("127."):
        sys.exit("soak_sink: listens on 127.0.0.0/8 only, not %s" % host)
    handler = SoakHandler(Log(args.log), args.reply_ms / 1000, args.data_ms / 1000,
                          args.defer / 100, random.Random(args.draw),
                          os.path.dirname(os.path.abspath(args.log)))

    def factory():
        return SoakSMTP(handler, hostname="soak-sink", ident="soak sink", timeout=120)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(
        loop.create_server(factory, host=host, port=int(port), reuse_address=True))
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stop.done() or stop.set_result(None))
    if args.pidfile:
        with open(args.pidfile + ".tmp", "w") as f:
            f.write("%d\n" % os.getpid())
        os.rename(args.pidfile + ".tmp", args.pidfile)
    try:
        loop.run_until_complete(stop)
    finally:
        server.close()


if __name__ == "__main__":
    main()
