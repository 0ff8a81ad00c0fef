#!/usr/bin/python3
"""The parts of bench/soak.sh that a shell does badly.

  soak_helper.py spool DIR N DRAW MANIFEST
      writes N mails with 1-3 recipients each into DIR (each under a hidden name, then renamed
      to soak-NNNNNN.eml): a unique Message-ID and a body whose first line is
      "Soak-Checksum: <sha256 of the rest of the body>". MANIFEST gets one line per mail:
      message-id, body sha256, recipients (tab separated).
  soak_helper.py drive WORK BIN SINKLOG PAIRS KILLS DRAW TIMEOUT
      runs `BIN service=1` with the environment of WORK, kills it with SIGKILL KILLS times at
      random moments spread over the run (when the sink has accepted a random share of the
      PAIRS expected (mail, recipient) pairs, plus a random 0-400 ms) and starts it again each
      time; then waits until the spool directory holds no mail or working file and the sink
      has been quiet for a while (at most TIMEOUT seconds), and stops it with SIGTERM. Kill
      times go to WORK/kills, one per line.
  soak_helper.py report WORK SINKLOG
      compares the manifest with the sink's log and the spool directory; prints the figures and
      returns 0 when nothing was lost, stuck, corrupted or duplicated outside a kill, else 1.
"""
import collections
import hashlib
import os
import random
import signal
import socket
import subprocess
import sys
import threading
import time

WORDS = ("spool", "relay", "mail", "queue", "retry", "deliver", "report", "batch", "night",
         "sender", "domain", "header", "folded", "dot", "line", "kill", "restart", "soak")
SETTLE_S = 8  # how long the sink must stay quiet, with an empty spool directory, at the end


def body_lines(rng, index):
    lines = []
    for n in range(rng.randint(5, 400)):
        text = " ".join(rng.choice(WORDS) for _ in range(rng.randint(0, 14)))
        # Lines that start with a dot test the transparency of DATA.
        if rng.random() < 0.05:
            text = "." + text
        lines.append("%d.%d %s" % (index, n, text))
    return "".join(line + "\r\n" for line in lines).encode()


def mail(rng, index, draw):
    mid = "<soak-%06d.%d@soak.example>" % (index, draw)
    rcpts = ["user%d.%d@rcpt%d.soak.example" % (index, r, r) for r in range(rng.randint(1, 3))]
    rest = body_lines(rng, index)
    body = b"Soak-Checksum: " + hashlib.sha256(rest).hexdigest().encode() + b"\r\n" + rest
    head = ("From: Soak Sender <sender@soak.example>\r\n"
            "To: %s\r\n"
            "Subject: soak %d\r\n"
            "Message-ID: %s\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=us-ascii\r\n"
            "\r\n") % (",\r\n ".join(rcpts), index, mid)
    return mid, rcpts, head.encode() + body, hashlib.sha256(body).hexdigest()


def spool(directory, count, draw, manifest):
    rng = random.Random(draw)
    with open(manifest, "w") as out:
        for i in range(count):
            mid, rcpts, text, digest = mail(rng, i, draw)
            hidden = os.path.join(directory, ".soak-%06d.tmp" % i)
            with open(hidden, "wb") as f:
                f.write(text)
            os.rename(hidden, os.path.join(directory, "soak-%06d.eml" % i))
            out.write("\t".join([mid, digest] + rcpts) + "\n")
    return 0


def read_sink(path):
    """The sink's log as lists of fields, complete lines only."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return []
    end = data.rfind(b"\n")
    return [line.split("\t") for line in data[:end + 1].decode("utf-8", "replace").splitlines()]


def accepted_count(path):
    return sum(1 for f in read_sink(path) if f[0] == "A")


def spool_left(spool_dir):
    """Files that are mail in the spool directory: spool files, working files, error files."""
    names = []
    for name in sorted(os.listdir(spool_dir)):
        low = name.lower()
        if low.endswith((".eml", ".$$$", ".error")):
            names.append(name)
    return names


class Syslog:
    """A datagram socket that takes the spooler's system log entries and counts them."""

    def __init__(self, path):
        if os.path.exists(path):
            os.unlink(path)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(path)
        self.count = 0
        threading.Thread(target=self.drain, daemon=True).start()

    def drain(self):
        while True:
            self.sock.recv(1 << 17)
            self.count += 1


class Spooler:
    def __init__(self, work, binary):
        self.work = work
        self.binary = binary
        self.proc = None
        self.starts = 0
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "POSTVANE_SETTINGS": os.path.join(work, "postvane.start"),
            "POSTVANE_HOME": os.path.join(work, "home"),
            "POSTVANE_RUNTIME_DIR": os.path.join(work, "run"),
            "POSTVANE_SYSLOG_SOCKET": os.path.join(work, "syslog.sock"),
            "XDG_CONFIG_HOME": os.path.join(work, "home"),
            "XDG_DATA_HOME": os.path.join(work, "home"),
        }
        for name in ("TSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS"):
            if name in os.environ:
                self.env[name] = os.environ[name]

    def start(self):
        self.starts += 1
        with open(os.path.join(self.work, "spooler.log"), "ab") as log:
            log.write(b"---- start %d at %.6f\n" % (self.starts, time.time()))
            log.flush()
            self.proc = subprocess.Popen([self.binary, "service=1"], env=self.env,
                                         stdin=subprocess.DEVNULL, stdout=log, stderr=log)

    def kill(self):
        self.proc.send_signal(signal.SIGKILL)
        at = time.time()
        self.proc.wait()
        return at

    def stop(self, timeout=60):
        self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None

    def check_alive(self):
        code = self.proc.poll()
        if code is not None:
            sys.exit("soak: the spooler ended by itself with %d (see spooler.log)" % code)


def wait_until_done(spooler, spool_dir, sink_log, deadline):
    """Waits for an empty spool directory and a quiet sink; False at the deadline."""
    last_count, quiet_since = -1, time.monotonic()
    while time.monotonic() < deadline:
        spooler.check_alive()
        count = accepted_count(sink_log)
        if count != last_count:
            last_count, quiet_since = count, time.monotonic()
        left = [n for n in spool_left(spool_dir) if not n.lower().endswith(".error")]
        if not left and time.monotonic() - quiet_since >= SETTLE_S:
            return True
        time.sleep(0.5)
    return False


def drive(work, binary, sink_log, pairs, kills, draw, timeout):
    rng = random.Random(draw * 7919 + 1)
    spool_dir = os.path.join(work, "spool")
    # Kill points: shares of the expected pairs, spread over the whole run.
    points = sorted(rng.sample(range(max(1, pairs // 50), max(2, pairs * 97 // 100)), kills))
    Syslog(os.path.join(work, "syslog.sock"))
    spooler = Spooler(work, binary)
    spooler.start()
    deadline = time.monotonic() + timeout
    started = time.monotonic()
    with open(os.path.join(work, "kills"), "w") as kill_log:
        for n, point in enumerate(points, 1):
            while accepted_count(sink_log) < point:
                if time.monotonic() > deadline:
                    sys.exit("soak: timed out waiting for %d accepted pairs" % point)
                spooler.check_alive()
                time.sleep(0.02)
            time.sleep(rng.uniform(0, 0.4))
            at = spooler.kill()
            kill_log.write("%.6f\n" % at)
            kill_log.flush()
            print("  kill %2d/%d at %6.1f s, %d pairs accepted" %
                  (n, kills, time.monotonic() - started, accepted_count(sink_log)), flush=True)
            spooler.start()
    done = wait_until_done(spooler, spool_dir, sink_log, deadline)
    code = spooler.stop()
    print("  run over after %.1f s (%s); the spooler's last exit code %s" %
          (time.monotonic() - started, "finished" if done else "TIMED OUT", code), flush=True)
    return 0


def load_manifest(path):
    mails = {}
    with open(path) as f:
        for line in f:
            mid, digest, *rcpts = line.rstrip("\n").split("\t")
            mails[mid] = (digest, [r.lower() for r in rcpts])
    return mails


def in_flight_mails(accepts, kills):
    """For each kill, the mail whose end of DATA the sink accepted last before it: the mail
    the spooler may not have recorded as delivered when it died."""
    times = sorted((t, mid) for t, mid in accepts)
    result, i, last = [], 0, None
    for k in sorted(kills):
        while i < len(times) and times[i][0] < k:
            last = times[i][1]
            i += 1
        result.append((k, last))
    return result


def report(work, sink_log):
    mails = load_manifest(os.path.join(work, "manifest"))
    with open(os.path.join(work, "kills")) as f:
        kills = [float(line) for line in f if line.strip()]
    deliveries = collections.defaultdict(list)  # (mid, rcpt) -> [time...]
    accepts, corrupted, unexpected, deferred, sessions = [], [], [], 0, 0
    for fields in read_sink(sink_log):
        kind = fields[0]
        if kind == "S":
            sessions += 1
        elif kind == "D":
            deferred += 1
        elif kind == "A":
            t, mid, rcpt, digest, verdict = float(fields[1]), fields[3], fields[4].lower(), \
                fields[5], fields[6]
            accepts.append((t, mid))
            if mid not in mails or rcpt not in mails[mid][1]:
                unexpected.append((mid, rcpt))
                continue
            deliveries[(mid, rcpt)].append(t)
            if verdict != "ok" or digest != mails[mid][0]:
                corrupted.append((mid, rcpt))
    flights = in_flight_mails(accepts, kills)
    expected = [(mid, r) for mid, (_, rcpts) in mails.items() for r in rcpts]
    lost = [p for p in expected if not deliveries.get(p)]
    dup_pairs, dup_explained, dup_mails_at_kill = [], 0, set()
    for pair, times in deliveries.items():
        if len(times) < 2:
            continue
        times.sort()
        explained = all(
            any(times[i] < k < times[i + 1] and mid == pair[0] for k, mid in flights)
            for i in range(len(times) - 1))
        dup_pairs.append((pair, len(times), explained))
        if explained:
            dup_explained += 1
            dup_mails_at_kill.add(pair[0])
    left = spool_left(os.path.join(work, "spool"))
    unexplained = [d for d in dup_pairs if not d[2]]
    print("mails %d, expected (mail, recipient) pairs %d, kills %d, sessions %d, "
          "RCPTs deferred %d" % (len(mails), len(expected), len(kills), sessions, deferred))
    print("delivered pairs    %d (distinct %d)" %
          (sum(len(t) for t in deliveries.values()), len(deliveries)))
    print("lost               %d" % len(lost))
    print("duplicated         %d pairs (%d of them of %d mails in flight at a kill, %d outside)"
          % (len(dup_pairs), dup_explained, len(dup_mails_at_kill), len(unexplained)))
    print("stuck              %d files left in the spool directory" % len(left))
    print("corrupted          %d deliveries" % len(corrupted))
    print("unexpected         %d deliveries (mail or recipient not written by the soak)"
          % len(unexpected))
    for label, items in (("lost", lost), ("duplicated outside a kill", unexplained),
                         ("stuck", left), ("corrupted", corrupted), ("unexpected", unexpected)):
        for item in items[:10]:
            print("  %s: %s" % (label, item))
        if len(items) > 10:
            print("  %s: ... %d more" % (label, len(items) - 10))
    bad = lost or unexplained or left or corrupted or unexpected
    print("verdict            %s" % ("FAIL" if bad else "PASS"))
    return 1 if bad else 0


def main(argv):
    if len(argv) == 6 and argv[1] == "spool":
        return spool(argv[2], int(argv[3]), int(argv[4]), argv[5])
    if len(argv) == 9 and argv[1] == "drive":
        return drive(argv[2], argv[3], argv[4], int(argv[5]), int(argv[6]), int(argv[7]),
                     float(argv[8]))
    if len(argv) == 4 and argv[1] == "report":
        return report(argv[2], argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
