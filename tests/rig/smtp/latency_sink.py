#!/usr/bin/python3
"""A loopback SMTP sink that takes its time, for the concurrency tests and benchmarks.

  latency_sink.py --listen HOST:PORT [--listen ...] --log FILE [--data-ms MS]
                  [--rcpt-reply "451 4.3.0 try later"] [--rcpt-ms MS] [--ready FILE]

Every reply to the final dot of a message waits MS milliseconds (DATA_MS, default 0); RCPT is
answered with RCPT_REPLY (default "250 2.1.5 Ok") after RCPT_MS. Only 127.0.0.0/8 addresses
are accepted for --listen. FILE gets one whole line per event, each appended with a single
write(2), tab separated, times in CLOCK_REALTIME seconds:

  C <time> <connection> <open>                        a connection came in; <open> now open
  M <time> <connection> <rcpt,rcpt...> <subject>      a message was accepted
  R <time> <connection> <rcpt>                        a RCPT was refused with RCPT_REPLY
  X <time> <connection>                               the connection ended

READY (when given) is written once every address listens. SIGTERM ends the sink.
"""
import argparse
import asyncio
import itertools
import os
import re
import signal
import time

SUBJECT = re.compile(rb"^Subject:[ \t]*([^\r\n]*)", re.IGNORECASE | re.MULTILINE)
ADDRESS = re.compile(rb"<([^>]*)>")


class Sink:
    def __init__(self, args):
        self.fd = os.open(args.log, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        self.data_s = args.data_ms / 1000.0
        self.rcpt_s = args.rcpt_ms / 1000.0
        self.rcpt_reply = args.rcpt_reply.encode() + b"\r\n"
        self.rcpt_ok = args.rcpt_reply.startswith("2")
        self.ids = itertools.count(1)
        self.open = 0
        self.queued = itertools.count(1)

    def log(self, *fields):
        line = "\t".join([fields[0], "%.6f" % time.time()] + [str(f) for f in fields[1:]])
        os.write(self.fd, (line + "\n").encode("utf-8", "replace"))

    async def session(self, reader, writer):
        number = next(self.ids)
        self.open += 1
        self.log("C", number, self.open)
        try:
            await self.dialogue(number, reader, writer)
        except (ConnectionError, asyncio.IncompleteReadError, asyncio.LimitOverrunError):
            pass
        finally:
            self.open -= 1
            self.log("X", number)
            writer.close()

    async def dialogue(self, number, reader, writer):
        writer.write(b"220 sink.test ESMTP latency sink\r\n")
        rcpts = []
        while True:
            line = await reader.readuntil(b"\r\n")
            verb = line[:4].upper()
            if verb in (b"EHLO", b"HELO"):
                writer.write(b"250-sink.test\r\n250-PIPELINING\r\n250-8BITMIME\r\n250 SIZE 0\r\n"
                             if verb == b"EHLO" else b"250 sink.test\r\n")
            elif verb == b"MAIL":
                rcpts = []
                writer.write(b"250 2.1.0 Ok\r\n")
            elif verb == b"RCPT":
                if self.rcpt_s:
                    await writer.drain()
                    await asyncio.sleep(self.rcpt_s)
                found = ADDRESS.search(line)
                rcpt = found.group(1).decode("utf-8", "replace") if found else "?"
                if self.rcpt_ok:
                    rcpts.append(rcpt)
                else:
                    self.log("R", number, rcpt)
                writer.write(self.rcpt_reply)
            elif verb == b"DATA":
                if not rcpts:
                    writer.write(b"554 5.5.1 No valid recipients\r\n")
                    continue
                writer.write(b"354 End data with <CR><LF>.<CR><LF>\r\n")
                await writer.drain()
                data = await reader.readuntil(b"\r\n.\r\n")
                if self.data_s:
                    await asyncio.sleep(self.data_s)
                subject = SUBJECT.search(data)
                self.log("M", number, ",".join(rcpts),
                         subject.group(1).decode("utf-8", "replace") if subject else "")
                rcpts = []
                writer.write(b"250 2.0.0 Ok: queued as %d\r\n" % next(self.queued))
            elif verb in (b"RSET", b"NOOP"):
                rcpts = [] if verb == b"RSET" else rcpts
                writer.write(b"250 2.0.0 Ok\r\n")
            elif verb == b"QUIT":
                writer.write(b"221 2.0.0 Bye\r\n")
                await writer.drain()
                return
            else:
                writer.write(b"502 5.5.2 Command not recognized\r\n")
            # Pipelined commands are answered together, the way a server's buffer would.
            if not reader._buffer:  # noqa: SLF001 (asyncio keeps no public peek)
                await writer.drain()


def loopback(listen):
    host, _, port = listen.rpartition(":")
    if not host.startswith("127."):
        raise SystemExit("latency_sink.py: only 127.0.0.0/8 addresses: " + listen)
    return host, int(port)


async def main(args):
    sink = Sink(args)
    servers = [await asyncio.start_server(sink.session, host, port, limit=1 << 24, backlog=512,
                                          reuse_address=True)
               for host, port in map(loopback, args.listen)]
    if args.ready:
        with open(args.ready, "w") as ready:
            ready.write("ready\n")
    stop = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    asyncio.get_running_loop().add_signal_handler(signal.SIGINT, stop.set)
    await stop.wait()
    for server in servers:
        server.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--listen", action="append", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--data-ms", type=float, default=0)
    parser.add_argument("--rcpt-ms", type=float, default=0)
    parser.add_argument("--rcpt-reply", default="250 2.1.5 Ok")
    parser.add_argument("--ready")
    asyncio.run(main(parser.parse_args()))
