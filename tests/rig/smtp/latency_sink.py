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
    """What every connection shares: the log, the replies and the counters."""

    def __init__(self, args):
        self.fd = os.open(args.log, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        self.data_s = args.data_ms / 1000.0
        self.rcpt_s = args.rcpt_ms / 1000.0
        self.rcpt_reply = args.rcpt_reply.encode() + b"\r\n"
        self.rcpt_ok = args.rcpt_reply.startswith("2")
        self.ids = itertools.count(1)
        self.queued = itertools.count(1)
        self.open = 0

    def log(self, *fields):
        line = "\t".join([fields[0], "%.6f" % time.time()] + [str(f) for f in fields[1:]])
        os.write(self.fd, (line + "\n").encode("utf-8", "replace"))


class Session(asyncio.Protocol):
    """One connection. Commands are answered in order; a reply that waits (the final dot, a
    slow RCPT) holds back the input after it, and pipelined replies go out in one write."""

    def __init__(self, sink):
        self.sink = sink
        self.buffer = b""
        self.in_data = False
        self.rcpts = []
        self.out = []
        self.waiting = False
        self.transport = None
        self.number = 0

    def connection_made(self, transport):
        self.transport = transport
        self.number = next(self.sink.ids)
        self.sink.open += 1
        self.sink.log("C", self.number, self.sink.open)
        transport.write(b"220 sink.test ESMTP latency sink\r\n")

    def connection_lost(self, exc):
        self.sink.open -= 1
        self.sink.log("X", self.number)

    def data_received(self, data):
        self.buffer += data
        if not self.waiting:
            self.work()

    def work(self):
        while not self.waiting:
            if self.in_data:
                end = self.buffer.find(b"\r\n.\r\n")
                if end < 0:
                    break
                message, self.buffer = self.buffer[:end + 2], self.buffer[end + 5:]
                self.in_data = False
                self.later(self.sink.data_s, self.accept, message)
                continue
            end = self.buffer.find(b"\r\n")
            if end < 0:
                break
            line, self.buffer = self.buffer[:end], self.buffer[end + 2:]
            self.command(line)
        self.flush()

    def later(self, delay, answer, *args):
        if not delay:
            answer(*args)
            return
        self.waiting = True
        self.flush()

        def resume():
            self.waiting = False
            answer(*args)
            if not self.transport.is_closing():
                self.work()
        asyncio.get_running_loop().call_later(delay, resume)

    def flush(self):
        if self.out and not self.transport.is_closing():
            self.transport.write(b"".join(self.out))
        self.out = []

    def accept(self, message):
        subject = SUBJECT.search(message)
        self.sink.log("M", self.number, ",".join(self.rcpts),
                      subject.group(1).decode("utf-8", "replace") if subject else "")
        self.rcpts = []
        self.out.append(b"250 2.0.0 Ok: queued as %d\r\n" % next(self.sink.queued))

    def rcpt(self, line):
        found = ADDRESS.search(line)
        rcpt = found.group(1).decode("utf-8", "replace") if found else "?"
        if self.sink.rcpt_ok:
            self.rcpts.append(rcpt)
        else:
            self.sink.log("R", self.number, rcpt)
        self.out.append(self.sink.rcpt_reply)

    def command(self, line):
        verb = line[:4].upper()
        if verb == b"EHLO":
            self.out.append(b"250-sink.test\r\n250-PIPELINING\r\n250-8BITMIME\r\n250 SIZE 0\r\n")
        elif verb == b"HELO":
            self.out.append(b"250 sink.test\r\n")
        elif verb == b"MAIL":
            self.rcpts = []
            self.out.append(b"250 2.1.0 Ok\r\n")
        elif verb == b"RCPT":
            self.later(self.sink.rcpt_s, self.rcpt, line)
        elif verb == b"DATA":
            if self.rcpts:
                self.in_data = True
                self.out.append(b"354 End data with <CR><LF>.<CR><LF>\r\n")
            else:
                self.out.append(b"554 5.5.1 No valid recipients\r\n")
        elif verb in (b"RSET", b"NOOP"):
            if verb == b"RSET":
                self.rcpts = []
            self.out.append(b"250 2.0.0 Ok\r\n")
        elif verb == b"QUIT":
            self.out.append(b"221 2.0.0 Bye\r\n")
            self.flush()
            self.transport.close()
            self.waiting = True  # nothing after QUIT is read
        else:
            self.out.append(b"502 5.5.2 Command not recognized\r\n")


def loopback(listen):
    host, _, port = listen.rpartition(":")
    if not host.startswith("127."):
        raise SystemExit("latency_sink.py: only 127.0.0.0/8 addresses: " + listen)
    return host, int(port)


async def main(args):
    sink = Sink(args)
    loop = asyncio.get_running_loop()
    servers = [await loop.create_server(lambda: Session(sink), host, port, backlog=512,
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
