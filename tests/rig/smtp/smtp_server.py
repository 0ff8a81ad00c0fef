#!/usr/bin/python3
"""Scripted SMTP test server for loopback integration tests (Debian: python3-aiosmtpd).

Run it with Debian's /usr/bin/python3: aiosmtpd is installed for that interpreter only.

Behaviour is chosen by the local part / address text (case-insensitive substring):
  MAIL FROM containing "rejectsender" -> 550 5.7.1          "defersender" -> 451 4.7.1
  RCPT TO   containing "reject"       -> 550 5.1.1          "defer"       -> 451 4.2.1
  RCPT TO   containing "deferonce"    -> 451 4.2.1 the first time this server process sees the
                                         address (any case), 250 from then on
  RCPT TO   containing "dataperm"     -> accepted at RCPT, but the message gets 554 5.6.0 after DATA
  RCPT TO   containing "datatemp"     -> accepted at RCPT, but the message gets 452 4.3.1 after DATA
  RCPT TO   containing "slowdata"     -> accepted; the message is stored, then the 250 after DATA
                                         waits SLOW_DATA_SECONDS (a client killed meanwhile
                                         leaves a stored message it never saw accepted)
  anything else                       -> 250
Every accepted message is written to --maildir as NNNNNN-PID.eml (raw data as received) plus
NNNNNN-PID.json (envelope: server name, listen address, peer, HELO, TLS, MAIL FROM, accepted and
refused RCPTs, the final DATA reply); the .json appears last, so it marks a complete message.
Messages refused after DATA (dataperm/datatemp) go to --maildir/rejected/ in the same form.
The full SMTP dialogue of every session goes to stderr (">>" client lines, "<<" server replies)
when --transcript is given.

STARTTLS is offered when --tls-cert/--tls-key are given; --require-starttls makes it mandatory.
Several --listen ADDR:PORT may be given; all share the behaviour and the maildir.
--listen-tls ADDR:PORT listens with implicit TLS (TLS from the first byte, as on port 465); it
needs --tls-cert/--tls-key too and offers no STARTTLS there.

--auth USER:PASSWORD makes it a relay that requires authentication: AUTH PLAIN and LOGIN are
offered only on a TLS connection (after STARTTLS, or at once with implicit TLS), MAIL before a
successful AUTH gets 530 5.7.0, and wrong credentials get 535 5.7.8.  The .json of a message
records "auth_user" and "auth_mechanism" (null without AUTH) and "auth_failures" (refused AUTH
attempts earlier in the same session).
--no-8bitmime leaves 8BITMIME out of the EHLO reply.  --broken-starttls offers STARTTLS, answers
it 220 and then sends plain text and closes, so the client's TLS handshake fails.
The .json of a message records "connection": a number per TCP connection, the same for every
message of one connection (and across STARTTLS).
SIGTERM/SIGINT stop it cleanly (exit 0, pid file removed).
"""
import argparse
import asyncio
import itertools
import json
import logging
import os
import signal
import ssl
import sys
import time
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, syntax

SEQ = itertools.count(1)
CONNECTIONS = itertools.count(1)
SLOW_DATA_SECONDS = 4


class Authenticator:
    """Accepts one user name and password; remembers the outcome in the session."""

    def __init__(self, user, password):
        self.user = user.encode()
        self.password = password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        ok = auth_data.login == self.user and auth_data.password == self.password
        if ok:
            session.rig_auth_mechanism = mechanism
        else:
            session.rig_auth_failures = getattr(session, "rig_auth_failures", 0) + 1
        return AuthResult(success=ok, handled=False, auth_data=auth_data)


class RigSMTP(SMTP):
    """aiosmtpd's server with a number per connection and an optional broken STARTTLS."""

    def __init__(self, *args, broken_starttls=False, **kwargs):
        super().__init__(*args, **kwargs)
        self.rig_connection = next(CONNECTIONS)
        self.rig_broken_starttls = broken_starttls

    @syntax('STARTTLS', when='tls_context')
    async def smtp_STARTTLS(self, arg):
        if not self.rig_broken_starttls:
            return await super().smtp_STARTTLS(arg)
        await self.push('220 Ready to start TLS')
        # what follows is no TLS handshake: the client's handshake fails. The pause lets the
        # client read the reply alone and begin its handshake; text in the same read would be
        # taken for data injected after the reply, another failure than the one shown here.
        await asyncio.sleep(0.3)
        self._writer.write(b"this is not a TLS server hello\r\n" * 4)
        await self._writer.drain()
        self.transport.close()


class ScriptedHandler:
    def __init__(self, name, maildir, offer_auth=False, eight_bit_mime=True):
        self.name = name
        self.maildir = maildir
        self.offer_auth = offer_auth
        self.eight_bit_mime = eight_bit_mime
        os.makedirs(maildir, exist_ok=True)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        # aiosmtpd advertises "AUTH" after STARTTLS even where no login can succeed; a server
        # without --auth drops it
        session.host_name = hostname
        if not self.eight_bit_mime:
            responses = [r for r in responses if r != "250-8BITMIME"]
        if self.offer_auth:
            return responses
        return [r for r in responses if not r.startswith("250-AUTH")]

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        low = address.lower()
        if "rejectsender" in low:
            return "550 5.7.1 Sender <%s> rejected (scripted)" % address
        if "defersender" in low:
            return "451 4.7.1 Sender <%s> deferred (scripted)" % address
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        envelope.refused = []
        return "250 2.1.0 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        low = address.lower()
        if "reject" in low:
            envelope.refused.append([address, 550])
            return "550 5.1.1 <%s>: Recipient address rejected (scripted)" % address
        once = self.__dict__.setdefault("deferred_once", set())
        if "deferonce" in low and low in once:
            low = ""
        elif "deferonce" in low:
            once.add(low)
        if "defer" in low:
            envelope.refused.append([address, 451])
            return "451 4.2.1 <%s>: Recipient deferred, try again later (scripted)" % address
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return "250 2.1.5 OK"

    async def handle_DATA(self, server, session, envelope):
        low = " ".join(envelope.rcpt_tos).lower()
        if "dataperm" in low:
            reply = "554 5.6.0 Message rejected after DATA (scripted)"
        elif "datatemp" in low:
            reply = "452 4.3.1 Insufficient system storage, try later (scripted)"
        else:
            reply = None
        n = next(SEQ)
        # messages refused at the end of DATA are kept apart, so maildir/*.json = accepted mail
        outdir = self.maildir if reply is None else os.path.join(self.maildir, "rejected")
        os.makedirs(outdir, exist_ok=True)
        base = os.path.join(outdir, "%06d-%d" % (n, os.getpid()))
        sock = server.transport.get_extra_info("sockname") if server.transport else None
        # session.ssl is set by STARTTLS only; an implicit-TLS transport has its ssl_object
        sslobj = server.transport.get_extra_info("ssl_object") if server.transport else None
        tls = session.ssl is not None or sslobj is not None
        cipher = sslobj.cipher()[0] if sslobj else None
        tls_mode = None
        if tls:
            tls_mode = "starttls" if session.ssl is not None else "implicit"
        auth = session.auth_data if session.authenticated else None
        if reply is None:
            reply = "250 2.0.0 OK queued as %s-%06d" % (self.name, n)
        meta = {
            "server": self.name,
            "connection": getattr(server, "rig_connection", None),
            "listen": "%s:%s" % (sock[0], sock[1]) if sock else None,
            "peer": "%s:%s" % (session.peer[0], session.peer[1]) if session.peer else None,
            "helo": session.host_name,
            "esmtp": session.extended_smtp,
            "tls": tls,
            "tls_cipher": cipher,
            "tls_mode": tls_mode,
            "auth_user": auth.login.decode(errors="replace") if auth is not None else None,
            "auth_mechanism": getattr(session, "rig_auth_mechanism", None) if auth is not None else None,
            "auth_failures": getattr(session, "rig_auth_failures", 0),
            "mail_from": envelope.mail_from,
            "mail_options": envelope.mail_options,
            "rcpt_tos": envelope.rcpt_tos,
            "refused": getattr(envelope, "refused", []),
            "data_reply": reply,
            "time": time.time(),
            "size": len(envelope.original_content or b""),
        }
        # data first, then the json: a harness can poll for *.json as the "message complete" marker
        with open(base + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content or b"")
        os.rename(base + ".eml.tmp", base + ".eml")
        with open(base + ".json.tmp", "w") as f:
            json.dump(meta, f, indent=1)
        os.rename(base + ".json.tmp", base + ".json")
        if "slowdata" in low:
            await asyncio.sleep(SLOW_DATA_SECONDS)
        return reply


def parse_listen(text):
    host, _, port = text.rpartition(":")
    host = host.strip("[]")
    if not host or not port.isdigit():
        raise argparse.ArgumentTypeError("expected ADDR:PORT, got %r" % text)
    if not (host.startswith("127.") or host == "::1"):
        raise argparse.ArgumentTypeError("refusing non-loopback address %r" % host)
    return host, int(port)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--name", default="smtp", help="server name (banner host name, queue ids)")
    ap.add_argument("--listen", action="append", type=parse_listen, required=True,
                    help="ADDR:PORT on loopback; may be repeated")
    ap.add_argument("--maildir", required=True, help="directory for received messages")
    ap.add_argument("--listen-tls", action="append", type=parse_listen, default=[],
                    help="ADDR:PORT on loopback with implicit TLS; may be repeated")
    ap.add_argument("--tls-cert", help="PEM certificate: offer STARTTLS")
    ap.add_argument("--tls-key", help="PEM private key for --tls-cert")
    ap.add_argument("--require-starttls", action="store_true", help="refuse MAIL before STARTTLS")
    ap.add_argument("--auth", metavar="USER:PASSWORD",
                    help="require AUTH (PLAIN or LOGIN, over TLS only) with these credentials")
    ap.add_argument("--no-8bitmime", action="store_true", help="do not offer 8BITMIME")
    ap.add_argument("--broken-starttls", action="store_true",
                    help="answer STARTTLS 220, then send plain text and close (needs --tls-cert)")
    ap.add_argument("--pidfile", help="write our pid here once listening; removed on exit")
    ap.add_argument("--transcript", action="store_true", help="log the SMTP dialogue to stderr")
    args = ap.parse_args()
    if args.listen_tls and not args.tls_cert:
        ap.error("--listen-tls needs --tls-cert and --tls-key")
    if args.broken_starttls and not args.tls_cert:
        ap.error("--broken-starttls needs --tls-cert and --tls-key")
    if args.auth is not None and ":" not in args.auth:
        ap.error("--auth expects USER:PASSWORD")

    logging.basicConfig(stream=sys.stderr, format="%(asctime)s " + args.name + " %(message)s",
                        level=logging.DEBUG if args.transcript else logging.WARNING)
    # asyncio's own debug chatter is not wanted, nor aiosmtpd's per-line read debugging
    logging.getLogger("asyncio").setLevel(logging.WARNING)
    # implicit TLS sets auth_require_tls=False (see implicit_tls_factory), which aiosmtpd warns about
    warnings.filterwarnings("ignore", message="Requiring AUTH while not requiring TLS")
    logging.getLogger("mail.log").addFilter(
        lambda rec: not any(s in str(rec.msg) for s in
                            ("readline", "AUTH mechanisms", "auth_require_tls == False")))

    tls_context = None
    if args.tls_cert:
        tls_context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls_context.load_cert_chain(args.tls_cert, args.tls_key)

    handler = ScriptedHandler(args.name, args.maildir, offer_auth=args.auth is not None,
                              eight_bit_mime=not args.no_8bitmime)
    auth = {}
    if args.auth is not None:
        user, _, password = args.auth.partition(":")
        auth = dict(authenticator=Authenticator(user, password), auth_required=True)

    def factory():
        # hostname given explicitly: the default calls socket.getfqdn(), which may block on DNS
        return RigSMTP(handler, hostname=args.name, ident="scripted test server",
                       tls_context=tls_context, require_starttls=args.require_starttls,
                       auth_require_tls=True, timeout=60, broken_starttls=args.broken_starttls,
                       **auth)

    def implicit_tls_factory():
        # The connection is TLS from the start: no STARTTLS, and AUTH need not wait for it
        # (aiosmtpd only knows about TLS that STARTTLS started).
        return RigSMTP(handler, hostname=args.name, ident="scripted test server",
                       auth_require_tls=False, timeout=60, **auth)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    servers = []
    for host, port in args.listen:
        servers.append(loop.run_until_complete(
            loop.create_server(factory, host=host, port=port, reuse_address=True)))
    for host, port in args.listen_tls:
        servers.append(loop.run_until_complete(
            loop.create_server(implicit_tls_factory, host=host, port=port, reuse_address=True,
                               ssl=tls_context, ssl_handshake_timeout=30)))
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stop.done() or stop.set_result(None))
    if args.pidfile:
        with open(args.pidfile + ".tmp", "w") as f:
            f.write("%d\n" % os.getpid())
        os.rename(args.pidfile + ".tmp", args.pidfile)
    print("%s listening on %s" % (args.name, ", ".join(
        ["%s:%d" % l for l in args.listen] + ["%s:%d (TLS)" % l for l in args.listen_tls])),
          file=sys.stderr, flush=True)
    try:
        loop.run_until_complete(stop)
    finally:
        for s in servers:
            s.close()
        for s in servers:
            loop.run_until_complete(s.wait_closed())
        if args.pidfile:
            try:
                os.unlink(args.pidfile)
            except FileNotFoundError:
                pass
        loop.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
