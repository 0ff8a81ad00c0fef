#!/usr/bin/python3
"""The tray spooler on a real X server with a real panel.

Starts its own Xvfb (a free display by -displayfd), trayer as the notification area, a scripted
SMTP relay on 127.0.0.1 that holds its greeting until told, and the built `postvane` without
switches; drives the icon and its menu with xdotool and reads the screen with ImageMagick.
Every daemon it starts dies with it (PR_SET_PDEATHSIG by setpriv) and is stopped on every way
out.

The picture of a state is told apart by comparing the icon window's pixels with each of the
four PNGs laid on the panel's background: the state's own PNG must match, the three others not.
Tooltips cannot be read without OCR: the test checks that a tooltip window appears on hover and
that `postvane --status`, which answers with the same text as the tooltip's second line, agrees.

usage: tray_test.py --postvane BIN --icons DIR --work DIR --artifacts DIR
Exit codes: 0 passed, 1 failed, 77 skipped (tools missing, or no offline namespace to be had).
"""
import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

SKIP = 77
TOOLS = ["setpriv", "Xvfb", "trayer", "xdotool", "xprop", "/usr/bin/import", "/usr/bin/convert",
         "/usr/bin/compare"]
STATES = ["waiting", "spooling", "paused", "offline"]
# The menu's entries from the top, and which are enabled while the spooler waits / is paused.
MENU = ["About", "Settings", "Autostart", "TestObject", "Pause", "Continue", "SpoolNow", "Stop"]
MENU_WAITING = [True, True, False, False, True, False, True, True]
MENU_PAUSED = [True, True, False, False, False, True, False, True]
SUBJECT = "tray-test-%d" % os.getpid()


class Failure(Exception):
    pass


def log(text):
    print(text, flush=True)


def poll(what, probe, timeout=10.0, interval=0.2):
    """Calls probe until it returns something true; that value, or Failure after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


# --- processes ------------------------------------------------------------------------------

# Every daemon gets SIGKILL when the test ends, however it ends (PR_SET_PDEATHSIG, kept
# across exec).
DIE_WITH_TEST = ["setpriv", "--pdeathsig", "KILL", "--"]


class Processes:
    """Every process the test starts; stop_all ends them newest first."""

    def __init__(self, work):
        self.work = work
        self.running = []

    def start(self, name, argv, env, pass_fds=()):
        out = open(os.path.join(self.work, name + ".log"), "ab")
        proc = subprocess.Popen(DIE_WITH_TEST + argv, env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=subprocess.STDOUT, pass_fds=pass_fds)
        out.close()
        proc.name = name
        self.running.append(proc)
        return proc

    def stop(self, proc, timeout=5.0):
        """SIGTERM, SIGKILL after timeout; the exit code."""
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        if proc in self.running:
            self.running.remove(proc)
        return proc.returncode

    def forget(self, proc):
        if proc in self.running:
            self.running.remove(proc)

    def stop_all(self):
        for proc in reversed(list(self.running)):
            self.stop(proc, 3.0)

    def log_of(self, name):
        try:
            with open(os.path.join(self.work, name + ".log"), errors="replace") as f:
                return f.read()
        except OSError:
            return ""


# --- the scripted relay ---------------------------------------------------------------------

class SlowRelay:
    """A plain SMTP server on 127.0.0.1 that answers a connection only once released."""

    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.connected = threading.Event()
        self.released = threading.Event()
        self.messages = []
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.session, args=(conn,), daemon=True).start()

    def session(self, conn):
        self.connected.set()
        self.released.wait(60)
        with conn, conn.makefile("rb") as rfile:
            def say(line):
                conn.sendall(line.encode() + b"\r\n")
            say("220 relay.tray.test ESMTP")
            while True:
                line = rfile.readline()
                if not line:
                    return
                verb = line[:4].upper()
                if verb == b"EHLO":
                    say("250-relay.tray.test")
                    say("250 8BITMIME")
                elif verb == b"DATA":
                    say("354 go ahead")
                    data = b""
                    while not data.endswith(b"\r\n.\r\n"):
                        chunk = rfile.readline()
                        if not chunk:
                            return
                        data += chunk
                    self.messages.append(data.decode("utf-8", "replace"))
                    say("250 2.0.0 queued")
                elif verb == b"QUIT":
                    say("221 bye")
                    return
                else:  # HELO, MAIL, RCPT, RSET, NOOP
                    say("250 ok")

    def close(self):
        self.released.set()
        self.listener.close()


# --- the screen -----------------------------------------------------------------------------

class Screen:
    def __init__(self, env, artifacts, icons):
        self.env = env
        self.artifacts = artifacts
        self.icons = icons
        self.scratch = os.path.join(artifacts, ".scratch")
        os.makedirs(self.scratch, exist_ok=True)

    def run(self, argv, check=True):
        result = subprocess.run(argv, env=self.env, capture_output=True, text=True, timeout=20)
        if check and result.returncode != 0:
            raise Failure("%s: exit %d: %s" % (" ".join(argv), result.returncode,
                                               result.stderr.strip()))
        return result

    def xdotool(self, *args, check=True):
        return self.run(["xdotool"] + [str(a) for a in args], check).stdout

    def windows(self, *search):
        """Visible windows that match an xdotool search: (id, x, y, width, height)."""
        found = []
        for wid in self.xdotool("search", "--onlyvisible", *search, check=False).split():
            geometry = self.xdotool("getwindowgeometry", "--shell", wid, check=False)
            values = dict(re.findall(r"^(\w+)=(-?\d+)$", geometry, re.M))
            if {"X", "Y", "WIDTH", "HEIGHT"} <= values.keys():
                found.append((wid, int(values["X"]), int(values["Y"]),
                              int(values["WIDTH"]), int(values["HEIGHT"])))
        return found

    def window_type(self, wid):
        return self.run(["xprop", "-id", wid, "_NET_WM_WINDOW_TYPE"], check=False).stdout

    def capture(self, path=None):
        path = path or os.path.join(self.scratch, "screen.png")
        for _ in range(3):  # a window going away while it is read fails one grab
            if self.run(["/usr/bin/import", "-window", "root", path], check=False).returncode == 0:
                return path
            time.sleep(0.2)
        raise Failure("cannot take a screenshot")

    def crop(self, source, box, target):
        x, y, w, h = box
        self.run(["/usr/bin/convert", source, "-crop", "%dx%d+%d+%d" % (w, h, x, y),
                  "+repage", target])
        return target

    def keep(self, name, boxes=()):
        """A screenshot kept as an artefact: the full screen and a crop per (suffix, box)."""
        full = self.capture(os.path.join(self.artifacts, name + "-full.png"))
        for suffix, box in boxes:
            self.crop(full, box, os.path.join(self.artifacts, "%s-%s.png" % (name, suffix)))
        return full

    def gray_rows(self, png):
        """The pixels of a PNG as rows of gray values 0..255 (read back through PGM)."""
        pgm = subprocess.run(["/usr/bin/convert", png, "-colorspace", "Gray", "-depth", "8",
                              "pgm:-"], capture_output=True, check=True).stdout
        header = re.match(rb"P5\s+(\d+)\s+(\d+)\s+(\d+)\s", pgm)
        width, height = int(header.group(1)), int(header.group(2))
        body = pgm[header.end():]
        return [body[r * width:(r + 1) * width] for r in range(height)]

    def differing_pixels(self, actual, reference):
        result = self.run(["/usr/bin/compare", "-metric", "AE", "-fuzz", "12%", actual,
                           reference, "null:"], check=False)
        try:
            return float(result.stderr.split()[0])
        except (IndexError, ValueError):
            raise Failure("compare failed: " + result.stderr.strip())

    def match_pictures(self, icon_png, width, height):
        """Differing pixels of the icon window against each state's picture on its background."""
        side = min(width, height)
        size = max([s for s in (16, 22, 24, 32, 48, 64) if s <= side] or [16])
        background = self.run(["/usr/bin/convert", icon_png, "-format", "%[pixel:p{0,0}]",
                               "info:"]).stdout.strip()
        scores = {}
        for state in STATES:
            reference = os.path.join(self.scratch, "ref-%s-%dx%d.png" % (state, width, height))
            self.run(["/usr/bin/convert", "-size", "%dx%d" % (width, height),
                      "xc:" + background, os.path.join(self.icons, "%s-%d.png" % (state, size)),
                      "-gravity", "center", "-composite", reference])
            scores[state] = self.differing_pixels(icon_png, reference)
        return scores, size


# --- the test -------------------------------------------------------------------------------

class TrayTest:
    def __init__(self, args):
        self.args = args
        self.work = args.work
        self.procs = Processes(self.work)
        self.relay = SlowRelay()
        self.trayer = None
        self.spooler = None
        self.display = None
        self.crops = {}  # state -> a crop around the icon, for the side-by-side picture
        self.tips = {}  # state -> (width, height) of its tooltip window

    # -- set-up

    def base_env(self):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
               "HOME": os.path.join(self.work, "user"),
               "XDG_RUNTIME_DIR": os.path.join(self.work, "xdg"),
               # No session bus: nothing autolaunches one, and Qt docks by XEmbed.
               "DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent"}
        if self.display:
            env["DISPLAY"] = self.display
        # A sanitizer build's options, as scripts/test.sh sets them.
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        return env

    def spooler_env(self, settings):
        env = self.base_env()
        env.update({"QT_QPA_PLATFORM": "xcb",
                    "POSTVANE_HOME": os.path.join(self.work, "home"),
                    "POSTVANE_RUNTIME_DIR": os.path.join(self.work, "run"),
                    "POSTVANE_SETTINGS": os.path.join(self.work, settings)})
        return env

    def write_settings(self, name, only_if_online):
        spool = os.path.join(self.work, "spool")
        text = ("[Settings]\nDefaultSpoolDir=%s/\nDefaultExtension=eml\n"
                "[Spooler]\nUpDelay=3600\nOnlyIfOnline=%d\nRelayHostName=127.0.0.1:%d\n"
                "RelaySecurity=none\nSenderHostName=client.tray.test\nDefaultReturnTo=\n"
                "LogFileDir=%s/\nShowSuccessBallons=0\nShowErrorBallons=0\n"
                % (spool, only_if_online, self.relay.port, os.path.join(self.work, "logs")))
        with open(os.path.join(self.work, name), "w") as f:
            f.write(text)

    def prepare(self):
        shutil.rmtree(self.work, ignore_errors=True)
        for sub in ("spool", "logs", "home", "user", "xdg", "run"):
            os.makedirs(os.path.join(self.work, sub))
        for private in ("run", "xdg"):
            os.chmod(os.path.join(self.work, private), 0o700)
        shutil.rmtree(self.args.artifacts, ignore_errors=True)
        os.makedirs(self.args.artifacts)
        self.write_settings("online.start", 0)
        self.write_settings("offline.start", 1)

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        self.procs.start("xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                  "800x600x24", "-nolisten", "tcp", "-noreset"],
                         self.base_env(), pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 10
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            raise Failure("Xvfb did not name its display:\n" + self.procs.log_of("xvfb"))
        self.display = ":" + number.decode().strip()
        self.screen = Screen(self.base_env(), self.args.artifacts, self.args.icons)
        log("# Xvfb on display %s" % self.display)

    def start_trayer(self):
        self.trayer = self.procs.start("trayer", [
            "trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width",
            "200", "--height", "48", "--SetDockType", "false", "--transparent", "false"],
            self.base_env())
        return poll("the panel", self.panel)

    def stop_trayer(self):
        self.procs.stop(self.trayer)
        self.trayer = None
        poll("the panel to go", lambda: self.panel() is None)

    def start_spooler(self, settings):
        self.spooler = self.procs.start("postvane-" + settings.split(".")[0],
                                        [self.args.postvane], self.spooler_env(settings))
        self.settings = settings
        poll("the spooler's control socket", lambda: self.status(check=False) is not None)

    # -- reading the state

    def status(self, check=True):
        """The spooler's answer to --status, without the socket's path; None when none runs."""
        result = subprocess.run([self.args.postvane, "--status"], capture_output=True,
                                text=True, env=self.spooler_env(self.settings), timeout=10)
        if result.returncode != 0:
            if check:
                raise Failure("postvane --status: exit %d: %s" % (result.returncode,
                                                                 result.stderr.strip()))
            return None
        return result.stdout.strip().split(": ", 1)[-1]

    def panel(self):
        panels = self.screen.windows("--classname", "^panel$")
        return panels[0] if panels else None

    def icon(self):
        """The spooler's visible window inside the panel: (id, x, y, w, h), or None."""
        panel = self.panel()
        if not panel:
            return None
        _, px, py, pw, ph = panel
        for window in self.screen.windows("--classname", "^postvane$"):
            _, x, y, w, h = window
            if px <= x and x + w <= px + pw and py <= y and y + h <= py + ph:
                return window
        return None

    def icon_centre(self):
        _, x, y, w, h = poll("the icon in the panel", self.icon)
        return x + w // 2, y + h // 2

    def picture_on_screen(self):
        """(scores per state, icon area) of the icon now on the screen; None without icon."""
        icon = self.icon()
        if not icon:
            return None
        _, x, y, w, h = icon
        shot = self.screen.capture()
        icon_png = self.screen.crop(shot, (x, y, w, h), os.path.join(self.screen.scratch,
                                                                     "icon.png"))
        scores, size = self.screen.match_pictures(icon_png, w, h)
        return scores, size * size

    def expect_picture(self, state, name, timeout=10.0):
        """Waits until the icon shows the picture of state and no other; keeps screenshots.

        Tolerance: 5 % of the picture's pixels may differ from its PNG (scaling, rounding);
        every other picture must differ in more."""
        last = {}

        def shows():
            seen = self.picture_on_screen()
            last["scores"] = seen and seen[0]
            if not seen:
                return False
            scores, area = seen
            tolerance = 0.05 * area
            others = [scores[s] for s in STATES if s != state]
            return scores[state] <= tolerance < min(others)

        try:
            poll("the %s picture" % state, shows, timeout)
        except Failure as error:
            raise Failure("%s; differing pixels per picture: %s%s" % (
                error, last.get("scores") or "no icon in the panel", self.spooler_note()))
        finally:
            self.keep(name)
        log("ok - %s: the icon shows the %s picture, differing pixels %s" % (
            name, state, last.get("scores")))

    def spooler_note(self):
        if self.spooler and self.spooler.poll() is not None:
            return "; the spooler has ended with %d" % self.spooler.returncode
        return ""

    def keep(self, name):
        boxes = []
        panel = self.panel()
        if panel:
            boxes.append(("tray", panel[1:]))
        icon = self.icon()
        if icon:
            _, x, y, w, h = icon
            boxes.append(("icon", (max(0, x - 19), y, w + 38, h)))
        return self.screen.keep(name, boxes)

    def expect_status(self, pattern, name):
        last = {}

        def matches():
            last["text"] = self.status(check=False)
            return last["text"] if last["text"] and re.match(pattern, last["text"]) else None

        try:
            text = poll("--status to match %r" % pattern, matches)
        except Failure as error:
            raise Failure("%s; it said %r%s" % (error, last.get("text"), self.spooler_note()))
        log("ok - %s: --status says %r" % (name, text))

    # -- tooltip, menu, windows

    def hover_tooltip(self, state, name):
        x, y = self.icon_centre()
        self.screen.xdotool("mousemove", 5, 300)
        time.sleep(0.1)
        self.screen.xdotool("mousemove", x, y)

        def tooltip():
            for window in self.screen.windows("--classname", "^postvane$"):
                if "_NET_WM_WINDOW_TYPE_TOOLTIP" in self.screen.window_type(window[0]):
                    return window
            return None

        tip = poll("a tooltip window on hover", tooltip)
        left = max(0, tip[1] - 60)
        boxes = [("tip", (left, 0, min(800, tip[1] + tip[3] + 60) - left, tip[2] + tip[4] + 8))]
        self.screen.keep(name, boxes)
        self.tips[state] = (tip[3], tip[4])
        self.screen.xdotool("mousemove", 5, 300)
        poll("the tooltip to go", lambda: tooltip() is None)
        log("ok - %s: a tooltip window (%dx%d) appears on hover" % (name, tip[3], tip[4]))

    def open_menu(self):
        before = {w[0] for w in self.screen.windows("--classname", "^postvane$")}
        x, y = self.icon_centre()
        self.screen.xdotool("mousemove", x, y, "click", 3)
        return poll("the menu", lambda: next(
            (w for w in self.screen.windows("--classname", "^postvane$")
             if w[0] not in before and w[4] > 100), None))

    def menu_entries(self, menu):
        """The entries of the open menu from the top: (centre y on screen, enabled)."""
        _, mx, my, mw, mh = menu
        shot = self.screen.capture()
        crop = self.screen.crop(shot, (mx, my, mw, mh), os.path.join(self.screen.scratch,
                                                                     "menu.png"))
        rows = self.screen.gray_rows(crop)
        background = max(set(rows[mh // 2]), key=rows[mh // 2].count)
        entries, block = [], None
        for r, row in enumerate(rows[2:-2], start=2):
            inner = row[4:-4]
            ink = [v for v in inner if abs(v - background) > 40]
            separator = len([v for v in inner if v != background]) > 0.8 * len(inner)
            if ink and not separator:
                if block and r - block[1] <= 3:
                    block[1], block[2] = r, min(block[2], min(ink))
                else:
                    block = [r, r, min(ink)]
                    entries.append(block)
        # Enabled text is near black; disabled text is grey.
        return [(my + (top + bottom) // 2, darkest < 100) for top, bottom, darkest in entries]

    def menu_click(self, entry, enabled_pattern, name):
        menu = self.open_menu()
        # Off the menu: no entry is highlighted while the entries are read from the screen.
        self.screen.xdotool("mousemove", 5, 300)
        entries = poll("the menu's %d entries" % len(MENU),
                       lambda: (lambda e: e if len(e) == len(MENU) else None)(
                           self.menu_entries(menu)), timeout=3)
        if name:
            self.screen.keep(name, [("menu", (menu[1], 0, menu[3], menu[2] + menu[4]))])
        enabled = [e[1] for e in entries]
        if enabled != enabled_pattern:
            raise Failure("menu entries enabled %s, expected %s" % (
                dict(zip(MENU, enabled)), dict(zip(MENU, enabled_pattern))))
        y = entries[MENU.index(entry)][0]
        self.screen.xdotool("mousemove", menu[1] + 40, y, "click", 1)
        poll("the menu to close", lambda: not any(
            w[0] == menu[0] for w in self.screen.windows("--classname", "^postvane$")), 3)
        log("ok - menu: entries as expected, clicked %s" % entry)

    def titled_window(self, title):
        """A visible window titled exactly title (xdotool's search ignores case)."""
        for window in self.screen.windows("--name", "^%s$" % re.escape(title)):
            if self.screen.xdotool("getwindowname", window[0], check=False).strip() == title:
                return window
        return None

    def answer_stop_question(self, key, name):
        box = poll("the Stop question", lambda: self.titled_window("Postvane"))
        self.screen.keep(name, [("box", box[1:])])
        self.expect_picture("paused", name + "-held")  # spooling is held while it is open
        self.screen.xdotool("windowfocus", "--sync", box[0])
        self.screen.xdotool("key", key)
        poll("the Stop question to close", lambda: self.titled_window("Postvane") is None, 5)

    # -- the cases

    def case_docks_late(self):
        self.start_spooler("online.start")
        if self.panel() is not None:
            raise Failure("a panel exists before trayer was started")
        self.screen.keep("01-before-panel")
        self.start_trayer()
        self.expect_picture("waiting", "01-docked")

    def case_waiting(self):
        self.expect_picture("waiting", "02-waiting")
        self.crops["waiting"] = self.icon_crop("02-waiting")
        self.expect_status(r"Next Run at \S+ \S+", "waiting")
        self.hover_tooltip("waiting", "02-tooltip-waiting")

    def case_pause_and_panel_restart(self):
        self.menu_click("Pause", MENU_WAITING, "03-menu")
        self.expect_picture("paused", "04-paused")
        self.crops["paused"] = self.icon_crop("04-paused")
        self.expect_status(r"Paused(;|$)", "paused")
        self.hover_tooltip("paused", "04-tooltip-paused")
        self.stop_trayer()
        self.keep("05-panel-gone")
        if self.spooler.poll() is not None:
            raise Failure("the spooler ended with the panel")
        self.start_trayer()
        self.expect_picture("paused", "05-panel-back")
        log("ok - panel restart: the icon came back by itself, still paused")
        self.menu_click("Continue", MENU_PAUSED, "05-menu-paused")
        self.expect_picture("waiting", "05-continued")

    def case_spooling(self):
        path = os.path.join(self.work, "spool", "tray.eml")
        with open(path + ".part", "w") as f:
            f.write("From: Tray <tray@src.tray.test>\r\nTo: rcpt@dest.tray.test\r\n"
                    "Subject: %s\r\nMime-Version: 1.0\r\n\r\nHello from the tray test.\r\n"
                    % SUBJECT)
        os.rename(path + ".part", path)
        self.menu_click("SpoolNow", MENU_WAITING, None)
        if not self.relay.connected.wait(10):
            raise Failure("the spooler did not connect to the relay after Spool now!")
        self.expect_picture("spooling", "06-spooling")
        self.crops["spooling"] = self.icon_crop("06-spooling")
        self.expect_status(r"Spooling eMail(;|$)", "spooling")
        self.hover_tooltip("spooling", "06-tooltip-spooling")
        self.relay.released.set()
        poll("the mail at the relay", lambda: any(SUBJECT in m for m in self.relay.messages))
        poll("the spool file to go", lambda: not os.path.exists(path))
        self.expect_picture("waiting", "06-delivered")
        log("ok - spooling: the mail reached the relay, the spool file is gone")

    def case_about(self):
        self.menu_click("About", MENU_WAITING, None)
        box = poll("the About box", lambda: self.titled_window("About Postvane"))
        self.expect_owned_by_spooler(box, "the About box")
        self.screen.keep("07-about", [("box", box[1:])])
        self.close_window(box, "Return")
        log("ok - about: the menu opens the About box, Return closes it")

    def expect_owned_by_spooler(self, window, what):
        owner = self.screen.xdotool("getwindowpid", window[0], check=False).strip()
        if owner != str(self.spooler.pid):
            raise Failure("%s belongs to pid %s, not to the spooler (%d)"
                          % (what, owner, self.spooler.pid))

    def case_double_click(self):
        x, y = self.icon_centre()
        self.screen.xdotool("mousemove", x, y, "click", "--repeat", 2, "--delay", 80, 1)
        window = poll("the settings window after a double click",
                      lambda: self.titled_window("Postvane"))
        self.expect_owned_by_spooler(window, "the settings window")
        self.close_window(window)
        log("ok - double click: the icon opens the settings window")

    def close_window(self, window, key="Escape"):
        """Gives the window the keyboard focus (there is no window manager) and presses key."""
        self.screen.xdotool("windowfocus", "--sync", window[0])
        self.screen.xdotool("key", key)
        poll("the window to close", lambda: not any(
            w[0] == window[0] for w in self.screen.windows("--name", ".")), 5)

    def case_second_start(self):
        result = subprocess.run([self.args.postvane], capture_output=True, text=True,
                                env=self.spooler_env(self.settings), timeout=15)
        if result.returncode != 0 or \
                "The running spooler shows its settings window." not in result.stdout:
            raise Failure("second start: exit %d, output %r" % (result.returncode,
                                                                result.stdout[-300:]))
        window = poll("the settings window", lambda: self.titled_window("Postvane"))
        self.expect_owned_by_spooler(window, "the settings window")
        self.screen.keep("07-settings-window", [("window", window[1:])])
        log("ok - second start: exit 0, the running spooler shows its settings window")
        self.close_window(window)

    def case_stop(self):
        self.menu_click("Stop", MENU_WAITING, None)
        self.answer_stop_question("Return", "08-stop-question")
        self.expect_picture("waiting", "08-stop-declined")
        self.expect_status(r"Next Run at ", "stop declined")
        if self.spooler.poll() is not None:
            raise Failure("Return (No) ended the spooler")
        self.menu_click("Stop", MENU_WAITING, None)
        self.answer_stop_question("alt+y", "09-stop-question")
        try:
            code = self.spooler.wait(10)
        except subprocess.TimeoutExpired:
            raise Failure("alt+y (Yes) did not end the spooler")
        self.procs.forget(self.spooler)
        if code != 0:
            raise Failure("the spooler ended with %d after Stop" % code)
        poll("the icon to go", lambda: self.icon() is None, 5)
        self.keep("09-stopped")
        log("ok - stop: No keeps it running, Yes ends it with 0 and takes the icon away")

    def case_offline(self):
        self.start_spooler("offline.start")
        self.expect_picture("offline", "10-offline")
        self.crops["offline"] = self.icon_crop("10-offline")
        self.expect_status(r"Not connected to the internet(;|$)", "offline")
        self.hover_tooltip("offline", "10-tooltip-offline")
        code = self.procs.stop(self.spooler, 10)
        if code != 0:
            raise Failure("the offline spooler ended with %s on SIGTERM" % code)

    def check_tooltips(self):
        """The tooltip follows the state: all two lines high, as wide as their second line is
        long ("Paused" < "Spooling eMail" < "Next Run at ..." and "Not connected to the
        internet")."""
        heights = {h for _, h in self.tips.values()}
        width = {state: w for state, (w, _) in self.tips.items()}
        longest = min(width[s] for s in ("waiting", "offline") if s in width)
        if len(heights) != 1 or not width["paused"] < width["spooling"] < longest:
            raise Failure("tooltip sizes do not follow their texts: %s" % self.tips)
        log("ok - tooltips: sizes follow their texts %s" % self.tips)

    def icon_crop(self, name):
        return os.path.join(self.args.artifacts, name + "-icon.png")

    def side_by_side(self):
        """states.png: the icon in each state, labelled (unlabelled where no font is found)."""
        shown = [s for s in STATES if s in self.crops]
        if not shown:
            return
        target = os.path.join(self.args.artifacts, "states.png")
        labelled = ["/usr/bin/montage", "-font", "DejaVu-Sans", "-pointsize", "11"]
        for state in shown:
            labelled += ["-label", state, self.crops[state]]
        labelled += ["-tile", "%dx1" % len(shown), "-geometry", "+6+2", "-background",
                     "#dcdad5", "-depth", "8", target]
        if self.screen.run(labelled, check=False).returncode != 0:
            self.screen.run(["/usr/bin/convert"] + [self.crops[s] for s in shown]
                            + ["+append", target])

    def run(self, offline_possible):
        self.prepare()
        self.start_xvfb()
        cases = [self.case_docks_late, self.case_waiting, self.case_pause_and_panel_restart,
                 self.case_spooling, self.case_about, self.case_double_click,
                 self.case_second_start, self.case_stop]
        if offline_possible:
            cases.append(self.case_offline)
        for case in cases + [self.check_tooltips]:
            log("# %s" % case.__name__)
            case()
        self.side_by_side()

    def report_failure(self, error):
        log("not ok - %s" % error)
        try:
            self.screen.keep("failure")
        except Exception:  # the display itself may be gone
            pass
        for proc in ("postvane-online", "postvane-offline", "trayer", "xvfb"):
            text = self.procs.log_of(proc)
            if text:
                log("--- %s.log (tail) ---\n%s" % (proc, text[-3000:]))


def has_default_route():
    for table in ("/proc/net/route", "/proc/net/ipv6_route"):
        try:
            with open(table) as f:
                for line in f.read().splitlines():
                    fields = line.split()
                    if table.endswith("ipv6_route"):
                        if len(fields) >= 10 and fields[9] != "lo" and fields[1] == "00" \
                                and fields[0] == "0" * 32 and not int(fields[8], 16) & 0x200:
                            return True
                    elif len(fields) >= 4 and fields[0] != "lo" and fields[1] == "00000000":
                        return True
        except OSError:
            pass
    return False


def reexec_without_network(argv):
    """Runs the test again in a network namespace of its own with only loopback, if allowed."""
    if os.environ.get("PV_TRAY_NETNS") or not shutil.which("unshare") or os.geteuid() != 0:
        return None
    env = dict(os.environ, PV_TRAY_NETNS="1")
    return subprocess.call(DIE_WITH_TEST + ["unshare", "-n", "sh", "-c",
                                            'ip link set lo up && exec "$0" "$@"',
                                            sys.executable] + argv, env=env)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--postvane", "--icons", "--work", "--artifacts"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    missing = [t for t in TOOLS if not shutil.which(t)]
    if missing:
        log("SKIP: missing " + " ".join(missing) + " (scripts/install-deps.sh)")
        return SKIP
    offline_possible = not has_default_route()
    if not offline_possible:
        code = reexec_without_network([os.path.abspath(__file__)] + sys.argv[1:])
        if code is not None:
            return code
    test = TrayTest(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        test.run(offline_possible)
    except Failure as error:
        test.report_failure(error)
        return 1
    finally:
        test.procs.stop_all()
        test.relay.close()
    if not offline_possible:
        log("SKIP: the offline case needs a network namespace without a default route "
            "(unshare -n)")
        return SKIP
    log("ok - all cases; artefacts in " + args.artifacts)
    return 0


if __name__ == "__main__":
    sys.exit(main())
