#!/usr/bin/python3
"""The small pieces of bench/throughput.sh that a shell does badly.

  throughput_helper.py spool DIR N RCPTS [DOMAINS]
      writes N mails of about 2 KB (CR LF; From, To with RCPTS distinct recipients, Subject,
      MIME-Version) into DIR, each under a hidden name first and then renamed to NNNNNN.eml.
      DOMAINS "par%d.test:20" sends mail i to par(i mod 20 + 1).test (default bench.example).
  throughput_helper.py notify SOCKET TIMEOUT
      binds the datagram socket SOCKET (what systemd's NOTIFY_SOCKET is) and returns 0 as soon
      as a message carrying READY=1 arrives, 1 after TIMEOUT seconds without one.
  throughput_helper.py flush COUNTER SPOOLDIR N TIMEOUT COMMAND...
      runs COMMAND (the spool-now request) and waits until the smtp-sink counter file COUNTER
      says mesg=N and SPOOLDIR holds no spool or working file. Prints
      "wall_s first_mail_s" measured from the start of COMMAND; returns 1 after TIMEOUT seconds.
  throughput_helper.py flush-log LOG SPOOLDIR N TIMEOUT COMMAND...
      the same with the log of bench_latency_sink, whose lines "M..." count.
"""
import os
import re
import socket
import subprocess
import sys
import time

POLL_S = 0.002
COUNTER = re.compile(rb"mesg=(\d+)")


def mail_text(index, rcpts, domain="bench.example"):
    tos = [f'"Bench User {index}-{r}" <user{index}.{r}@{domain}>' for r in range(rcpts)]
    # Long lists fold after every address, as mail programs write them.
    to = ",\r\n ".join(tos)
    head = (f"From: Bench Sender <sender@bench.example>\r\n"
            f"To: {to}\r\n"
            f"Subject: Nightly report {index}\r\n"
            f"MIME-Version: 1.0\r\n"
            f"Content-Type: text/plain; charset=utf-8\r\n"
            f"Content-Transfer-Encoding: 8bit\r\n"
            f"\r\n")
    body = []
    size = len(head)
    line = 0
    while size < 2000:
        text = f"Line {line} of report {index}: all jobs finished, nothing to do for anyone.\r\n"
        body.append(text)
        size += len(text)
        line += 1
    return (head + "".join(body)).encode()


def spool(directory, count, rcpts, domains="bench.example:1"):
    pattern, _, many = domains.partition(":")
    for i in range(count):
        hidden = os.path.join(directory, f".{i:06d}.tmp")
        domain = pattern % (i % int(many or 1) + 1) if "%" in pattern else pattern
        with open(hidden, "wb") as f:
            f.write(mail_text(i, rcpts, domain))
        os.rename(hidden, os.path.join(directory, f"{i:06d}.eml"))
    return 0


def notify(path, timeout):
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    sock.bind(path)
    deadline = time.monotonic() + timeout
    try:
        while (left := deadline - time.monotonic()) > 0:
            sock.settimeout(left)
            try:
                data = sock.recv(4096)
            except socket.timeout:
                break
            if b"READY=1" in data.split(b"\n"):
                return 0
        return 1
    finally:
        sock.close()
        os.unlink(path)


def sink_count(path):
    try:
        with open(path, "rb") as f:
            f.seek(0, os.SEEK_END)
            f.seek(max(0, f.tell() - 64))
            found = COUNTER.findall(f.read())
            return int(found[-1]) if found else 0
    except OSError:
        return 0


class LogCount:
    """Counts the "M" lines of a latency sink log, reading only what was added since."""

    def __init__(self):
        self.offset = 0
        self.count = 0
        self.rest = b""

    def __call__(self, path):
        try:
            with open(path, "rb") as f:
                f.seek(self.offset)
                chunk = f.read()
        except OSError:
            return self.count
        self.offset += len(chunk)
        lines = (self.rest + chunk).split(b"\n")
        self.rest = lines.pop()
        self.count += sum(1 for line in lines if line.startswith(b"M\t"))
        return self.count


def spool_empty(directory):
    with os.scandir(directory) as entries:
        for entry in entries:
            name = entry.name.lower()
            if name.endswith(".eml") or name.endswith(".$$$"):
                return False
    return True


def flush(counter, directory, count, timeout, command, seen_by=sink_count):
    start = time.monotonic()
    request = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    first = None
    deadline = start + timeout
    while time.monotonic() < deadline:
        seen = seen_by(counter)
        now = time.monotonic()
        if seen > 0 and first is None:
            first = now - start
        if seen >= count and spool_empty(directory):
            answer = request.communicate(timeout=5)[0].decode(errors="replace").strip()
            if request.returncode != 0 or not answer.endswith(": OK"):
                print(f"spool-now request failed: {answer}", file=sys.stderr)
                return 1
            print(f"{now - start:.4f} {first:.4f}")
            return 0
        time.sleep(POLL_S)
    request.kill()
    print(f"timed out: the sink has {seen_by(counter)} of {count}", file=sys.stderr)
    return 1


def main(argv):
    if len(argv) in (5, 6) and argv[1] == "spool":
        return spool(argv[2], int(argv[3]), int(argv[4]), *argv[5:])
    if len(argv) == 4 and argv[1] == "notify":
        return notify(argv[2], float(argv[3]))
    if len(argv) >= 7 and argv[1] == "flush":
        return flush(argv[2], argv[3], int(argv[4]), float(argv[5]), argv[6:])
    if len(argv) >= 7 and argv[1] == "flush-log":
        return flush(argv[2], argv[3], int(argv[4]), float(argv[5]), argv[6:], LogCount())
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except KeyboardInterrupt:
        sys.exit(130)
