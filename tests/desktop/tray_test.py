#!/usr/bin/python3
"""The tray spooler on a real X server with a real panel.

Starts its own Xvfb (a free display by -displayfd), trayer as the notification area, an SMTP
relay on 127.0.0.1 that holds its greeting until released, and the built `postvane` without
switches; drives the icon and its menu with xdotool and reads the screen with ImageMagick.
Every daemon dies with the test (PR_SET_PDEATHSIG by setpriv) and is stopped on every way out.

A state's picture is told apart by comparing the icon window's pixels with each of the four
PNGs laid on the panel's background: the state's own PNG must match, the three others not.
Tooltip text is not read (no OCR): `postvane --status` answers with the tooltip's second line.

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

TOOLS = ["setpriv", "Xvfb", "trayer", "xdotool", "xprop", "/usr/bin/import", "/usr/bin/convert",
         "/usr/bin/compare"]
STATES = ["waiting", "spooling", "paused", "offline"]
# The menu's entries from the top, and which are enabled while the spooler waits / is paused.
MENU = ["About", "Settings", "Autostart", "TestObject", "Pause", "Continue", "SpoolNow", "Stop"]
MENU_WAITING = [True, True, True, True, True, False, True, True]
MENU_PAUSED = [True, True, True, True, False, True, False, True]
SUBJECT = "tray-test-%d" % os.getpid()
DIE_WITH_TEST = ["setpriv", "--pdeathsig", "KILL", "--"]


class Failure(Exception):
    pass


def log(text):
    print(text, flush=True)


def poll(what, probe, timeout=10.0):
    """Calls probe until it returns something true and returns that; Failure after timeout."""
    deadline = time.monotonic() + timeout
    while not (value := probe()):
        if time.monotonic() >= deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(0.2)
    return value


def run(argv, env, check=True):
    result = subprocess.run([str(a) for a in argv], env=env, capture_output=True, text=True,
                            timeout=20)
    if check and result.returncode != 0:
        raise Failure("%s: exit %d: %s" % (" ".join(map(str, argv)), result.returncode,
                                           result.stderr.strip()))
    return result


def stop(proc, timeout=5.0):
    """SIGTERM, SIGKILL after timeout; the exit code."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
    return proc.wait()


class SlowRelay:
    """A plain SMTP server on 127.0.0.1 that greets a connection only once released."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.connected, self.released = threading.Event(), threading.Event()
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
            conn.sendall(b"220 relay.tray.test ESMTP\r\n")
            while line := rfile.readline():
                verb = line[:4].upper()
                if verb == b"DATA":
                    conn.sendall(b"354 go ahead\r\n")
                    data = b""
                    while not data.endswith(b"\r\n.\r\n") and (chunk := rfile.readline()):
                        data += chunk
                    self.messages.append(data.decode("utf-8", "replace"))
                reply = {b"EHLO": b"250-relay.tray.test\r\n250 8BITMIME", b"QUIT": b"221 bye"}
                conn.sendall(reply.get(verb, b"250 ok") + b"\r\n")
                if verb == b"QUIT":
                    return

    def close(self):
        self.released.set()
        self.listener.close()


def clear_artifacts(directory, mine):
    """Removes the entries of directory whose names are mine(name): face_test.py shares it."""
    for name in os.listdir(directory) if os.path.isdir(directory) else ():
        if mine(name):
            path = os.path.join(directory, name)
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)


class TrayTest:
    # Xvfb's options; face_test.py adds -ac, since its tray runs as another user.
    XVFB_OPTIONS = ["-nolisten", "tcp", "-noreset"]
    # What status() asks, for the log.
    STATUS_NAME = "--status"

    def __init__(self, args):
        self.args, self.work, self.art = args, args.work, args.artifacts
        self.scratch = os.path.join(self.art, ".scratch")
        self.running = []
        self.relay = SlowRelay()
        self.display = self.trayer = self.spooler = None
        self.crops = []  # the icon in each state, for states.png

    # -- processes and environment

    def env(self, settings=None):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
               "HOME": os.path.join(self.work, "user"),
               "XDG_RUNTIME_DIR": os.path.join(self.work, "xdg"),
               # No session bus: nothing autolaunches one, and Qt docks by XEmbed.
               "DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent"}
        env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        if self.display:
            env["DISPLAY"] = self.display
        if settings:
            env.update({"QT_QPA_PLATFORM": "xcb", "POSTVANE_HOME": os.path.join(self.work, "home"),
                        "POSTVANE_RUNTIME_DIR": os.path.join(self.work, "run"),
                        "POSTVANE_SETTINGS": os.path.join(self.work, settings)})
        return env

    def start(self, name, argv, env, pass_fds=()):
        with open(os.path.join(self.work, name + ".log"), "ab") as out:
            proc = subprocess.Popen(DIE_WITH_TEST + argv, env=env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT, pass_fds=pass_fds)
        self.running.append(proc)
        return proc

    def prepare(self):
        shutil.rmtree(self.work, ignore_errors=True)
        clear_artifacts(self.art, lambda name: not name.startswith(("face-", ".face-")))
        os.makedirs(self.scratch)
        for sub in ("spool", "logs", "home", "user", "xdg", "run"):
            os.makedirs(os.path.join(self.work, sub), 0o700)
        for name, only_if_online in (("online.start", 0), ("offline.start", 1)):
            with open(os.path.join(self.work, name), "w") as f:
                f.write("[Settings]\nDefaultSpoolDir=%s/spool/\nDefaultExtension=eml\n"
                        "[Spooler]\nUpDelay=3600\nOnlyIfOnline=%d\nRelayHostName=127.0.0.1:%d\n"
                        "RelaySecurity=none\nSenderHostName=client.tray.test\nDefaultReturnTo=\n"
                        "LogFileDir=%s/logs/\nShowSuccessBallons=0\nShowErrorBallons=0\n"
                        % (self.work, only_if_online, self.relay.port, self.work))

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        self.start("xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24",
                            *self.XVFB_OPTIONS], self.env(), pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()  # EOF when Xvfb fails
        if not number.isdigit():
            raise Failure("Xvfb did not name its display")
        self.display = ":" + number
        log("# Xvfb on display %s" % self.display)

    def start_trayer(self):
        self.trayer = self.start("trayer", [
            "trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width",
            "200", "--height", "48", "--SetDockType", "false", "--transparent", "false"],
            self.env())
        poll("the panel", self.panel)

    def start_spooler(self, settings):
        self.settings = settings
        self.spooler = self.start("postvane-" + settings.split(".")[0], [self.args.postvane],
                                  self.env(settings))
        poll("the spooler's control socket", self.status)

    def status(self):
        """The spooler's answer to --status without the socket's path; None when none runs."""
        result = run([self.args.postvane, "--status"], self.env(self.settings), check=False)
        return result.returncode == 0 and result.stdout.strip().split(": ", 1)[-1]

    # -- the screen

    def xdotool(self, *args, check=True):
        return run(["xdotool", *args], self.env(), check).stdout

    def windows(self, *search):
        """Visible windows that match an xdotool search: (id, x, y, width, height)."""
        found = []
        for wid in self.xdotool("search", "--onlyvisible", *search, check=False).split():
            geometry = dict(re.findall(r"^(\w+)=(-?\d+)$", self.xdotool(
                "getwindowgeometry", "--shell", wid, check=False), re.M))
            if {"X", "Y", "WIDTH", "HEIGHT"} <= geometry.keys():
                found.append((wid, *(int(geometry[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))))
        return found

    def titled_window(self, title):
        """A visible window titled exactly title (xdotool's search ignores case)."""
        return next((w for w in self.windows("--name", "^%s$" % re.escape(title))
                     if self.xdotool("getwindowname", w[0], check=False).strip() == title), None)

    def panel(self):
        return next(iter(self.windows("--classname", "^panel$")), None)

    def icon(self):
        """The spooler's visible window inside the panel: (id, x, y, w, h), or None."""
        panel = self.panel()
        return panel and next((w for w in self.windows("--classname", "^postvane$")
                               if panel[1] <= w[1] and w[1] + w[3] <= panel[1] + panel[3]
                               and panel[2] <= w[2] and w[2] + w[4] <= panel[2] + panel[4]), None)

    def icon_centre(self):
        _, x, y, w, h = poll("the icon in the panel", self.icon)
        return x + w // 2, y + h // 2

    def capture(self, path):
        # A window going away while it is read fails the grab.
        poll("a screenshot", lambda: run(["/usr/bin/import", "-window", "root", path],
                                         self.env(), check=False).returncode == 0, 2)
        return path

    def crop(self, source, box, target):
        run(["/usr/bin/convert", source, "-crop", "%dx%d+%d+%d" % (box[2], box[3], box[0], box[1]),
             "+repage", target], self.env())
        return target

    def keep(self, name, box=None):
        """Keeps a screenshot as an artefact, and a crop of box (default: around the icon)."""
        full = self.capture(os.path.join(self.art, name + "-full.png"))
        icon = None if box else self.icon()
        if icon:
            box = (max(0, icon[1] - 19), icon[2], icon[3] + 38, icon[4])
        return box and self.crop(full, box, os.path.join(self.art, name + "-crop.png"))

    def scores(self):
        """Differing pixels of the icon window against each state's picture; None without icon."""
        icon = self.icon()
        if not icon:
            return None
        _, x, y, w, h = icon
        png = self.crop(self.capture(os.path.join(self.scratch, "screen.png")), (x, y, w, h),
                        os.path.join(self.scratch, "icon.png"))
        size = max([s for s in (16, 22, 24, 32, 48, 64) if s <= min(w, h)] or [16])
        background = run(["/usr/bin/convert", png, "-format", "%[pixel:p{0,0}]", "info:"],
                         self.env()).stdout.strip()
        scores = {}
        for state in STATES:
            ref = os.path.join(self.scratch, "ref-%s.png" % state)
            run(["/usr/bin/convert", "-size", "%dx%d" % (w, h), "xc:" + background,
                 os.path.join(self.args.icons, "%s-%d.png" % (state, size)), "-gravity", "center",
                 "-composite", ref], self.env())
            out = run(["/usr/bin/compare", "-metric", "AE", "-fuzz", "12%", png, ref, "null:"],
                      self.env(), check=False).stderr
            try:
                scores[state] = float(out.split()[0])
            except (IndexError, ValueError):
                raise Failure("compare failed: " + out.strip())
        return scores, size * size

    # -- expectations

    def expect_picture(self, state, name):
        """Waits until the icon shows state's picture and no other; keeps the screenshot.

        Up to 5 % of the picture's pixels may differ from its PNG (scaling, rounding); every
        other picture must differ in more."""
        seen = [None]

        def shows():
            seen[0] = self.scores()
            return seen[0] and seen[0][0][state] <= 0.05 * seen[0][1] < min(
                v for s, v in seen[0][0].items() if s != state)

        try:
            poll("the %s picture" % state, shows)
        except Failure as error:
            raise Failure("%s; differing pixels: %s%s" % (
                error, seen[0] and seen[0][0] or "no icon in the panel", self.spooler_note()))
        finally:
            crop = self.keep(name)
        log("ok - %s: the icon shows the %s picture, differing pixels %s" % (name, state,
                                                                             seen[0][0]))
        return crop

    def spooler_note(self):
        code = self.spooler and self.spooler.poll()
        return "" if code is None else "; the spooler has ended with %d" % code

    def expect_state(self, state, pattern, name):
        """The picture, --status's text and a tooltip window on hover, for one state."""
        self.crops.append(self.expect_picture(state, name))
        try:
            text = poll("--status to match %r" % pattern,
                        lambda: (t := self.status()) and re.match(pattern, t) and t)
        except Failure as error:
            raise Failure("%s; it said %r%s" % (error, self.status(), self.spooler_note()))
        log("ok - %s: %s says %r" % (name, self.STATUS_NAME, text))
        x, y = self.icon_centre()
        self.xdotool("mousemove", 5, 300, "sleep", "0.1", "mousemove", x, y)

        def tooltip():
            return next((w for w in self.windows("--classname", "^postvane$") if "TOOLTIP" in run(
                ["xprop", "-id", w[0], "_NET_WM_WINDOW_TYPE"], self.env(), False).stdout), None)

        _, tx, ty, tw, th = poll("a tooltip window on hover", tooltip)
        left = max(0, tx - 60)
        self.keep(name + "-tooltip", (left, 0, min(800, tx + tw + 60) - left, ty + th + 8))
        self.xdotool("mousemove", 5, 300)
        poll("the tooltip to go", lambda: tooltip() is None)
        log("ok - %s: a tooltip window (%dx%d) appears on hover" % (name, tw, th))

    def grey_rows(self, box):
        """The screen's rows in box (x, y, width, height) as grey values, a bytes object each."""
        crop = self.crop(self.capture(os.path.join(self.scratch, "screen.png")), box,
                         os.path.join(self.scratch, "area.png"))
        pgm = subprocess.run(["/usr/bin/convert", crop, "-colorspace", "Gray", "-depth", "8",
                              "pgm:-"], capture_output=True, check=True).stdout
        header = re.match(rb"P5\s+(\d+)\s+(\d+)\s+\d+\s", pgm)
        width = int(header.group(1))
        return [pgm[header.end() + r * width:header.end() + (r + 1) * width]
                for r in range(box[3])]

    def menu_entries(self, menu):
        """The open menu's entries from the top, (centre y on screen, enabled), and its
        background's grey.

        Entries are blocks of rows with text between the separators; enabled text is near
        black, disabled grey. Found on the screen, the clicks do not depend on font metrics."""
        _, mx, my, mw, mh = menu
        rows = self.grey_rows(menu[1:])
        background = max(set(rows[mh // 2]), key=rows[mh // 2].count)
        entries = []
        for r in range(2, mh - 2):
            inner = rows[r][4:-4]
            ink = [v for v in inner if abs(v - background) > 40]
            if ink and sum(v != background for v in inner) <= 0.8 * len(inner):  # no separator
                if entries and r - entries[-1][1] <= 3:
                    entries[-1][1:] = r, min(entries[-1][2], min(ink))
                else:
                    entries.append([r, r, min(ink)])
        return [(my + (top + bottom) // 2, darkest < 100)
                for top, bottom, darkest in entries], background

    def highlighted(self, menu, y, background):
        """Whether the menu's row at screen height y is filled with the highlight."""
        row = self.grey_rows((menu[1], y, menu[3], 1))[0][4:-4]
        return sum(abs(v - background) > 40 for v in row) > 0.5 * len(row)

    def menu_click(self, entry, enabled_pattern, name=None):
        def postvane_windows():
            return self.windows("--classname", "^postvane$")

        before = {w[0] for w in postvane_windows()}
        x, y = self.icon_centre()
        self.xdotool("mousemove", x, y, "click", 3)
        menu = poll("the menu", lambda: next(
            (w for w in postvane_windows() if w[0] not in before and w[4] > 100), None))
        self.xdotool("mousemove", 5, 300)  # no entry highlighted while they are read
        entries, background = poll("the menu's %d entries" % len(MENU), lambda: (
            e := self.menu_entries(menu)) and len(e[0]) == len(MENU) and e, 3)
        if name:
            self.keep(name, (menu[1], 0, menu[3], menu[2] + menu[4]))
        enabled = [e[1] for e in entries]
        if enabled != enabled_pattern:
            raise Failure("menu entries enabled %s, expected %s" % (
                dict(zip(MENU, enabled)), dict(zip(MENU, enabled_pattern))))
        # Qt triggers an entry on the release only when it is the menu's current one, the one
        # it shows highlighted: the click waits for that.
        y = entries[MENU.index(entry)][0]
        self.xdotool("mousemove", menu[1] + 40, y)
        poll("%s to be highlighted" % entry, lambda: self.highlighted(menu, y, background), 3)
        self.xdotool("click", 1)
        poll("the menu to close", lambda: all(w[0] != menu[0] for w in postvane_windows()), 3)
        log("ok - menu: entries as expected, clicked %s" % entry)

    def expect_window(self, title, name, key="Escape", held=False):
        """A window titled title of the spooler's process; kept, then closed with key."""
        window = poll("the window %r" % title, lambda: self.titled_window(title))
        owner = self.xdotool("getwindowpid", window[0], check=False).strip()
        if owner != str(self.spooler.pid):
            raise Failure("%r belongs to pid %s, not to the spooler" % (title, owner))
        self.keep(name, window[1:])
        if held:
            self.expect_picture("paused", name + "-held")  # spooling is held while it is open
        # There is no window manager: the window needs the keyboard focus first.
        self.xdotool("windowfocus", "--sync", window[0])
        self.xdotool("key", key)
        poll("the window to close", lambda: all(w[0] != window[0] for w in self.windows(
            "--name", ".")), 5)

    # -- the cases

    def case_docks_late(self):
        self.start_spooler("online.start")
        if self.panel():
            raise Failure("a panel exists before trayer was started")
        self.keep("01-before-panel")
        self.start_trayer()
        self.expect_state("waiting", r"Next Run at \S+ \S+", "01-docked-waiting")

    def case_pause_and_panel_restart(self):
        self.menu_click("Pause", MENU_WAITING, "02-menu")
        self.expect_state("paused", r"Paused(;|$)", "02-paused")
        stop(self.trayer)
        poll("the panel to go", lambda: not self.panel())
        self.keep("03-panel-gone")
        if self.spooler.poll() is not None:
            raise Failure("the spooler ended with the panel")
        self.start_trayer()
        self.expect_picture("paused", "03-panel-back")
        log("ok - panel restart: the icon came back by itself, still paused")
        self.menu_click("Continue", MENU_PAUSED, "03-menu-paused")
        self.expect_picture("waiting", "03-continued")

    def case_spooling(self):
        path = os.path.join(self.work, "spool", "tray.eml")
        with open(path + ".part", "w") as f:
            f.write("From: Tray <tray@src.tray.test>\r\nTo: rcpt@dest.tray.test\r\nSubject: "
                    "%s\r\nMime-Version: 1.0\r\n\r\nHello from the tray test.\r\n" % SUBJECT)
        os.rename(path + ".part", path)
        self.menu_click("SpoolNow", MENU_WAITING)
        if not self.relay.connected.wait(10):
            raise Failure("the spooler did not connect to the relay after Spool now!")
        self.expect_state("spooling", r"Spooling eMail(;|$)", "04-spooling")
        self.relay.released.set()
        poll("the mail at the relay", lambda: any(SUBJECT in m for m in self.relay.messages))
        poll("the spool file to go", lambda: not os.path.exists(path))
        self.expect_picture("waiting", "04-delivered")
        log("ok - spooling: the mail reached the relay, the spool file is gone")

    def spooler_log(self):
        with open(os.path.join(self.work, "postvane-online.log"), errors="replace") as f:
            return f.read()

    def case_windows(self):
        x, y = self.icon_centre()
        self.xdotool("mousemove", x, y, "click", "--repeat", 2, "--delay", 80, 1)
        window = poll("the settings window", lambda: self.titled_window("Postvane"))
        self.keep("05-settings-window", window[1:])
        log("ok - double click: the icon opens the settings window")
        # The spool interval is the fifth stop of the tab chain; Alt+C (Close) asks to save.
        self.xdotool("windowfocus", "--sync", window[0])
        self.xdotool("key", "Tab", "Tab", "Tab", "Tab", "ctrl+a", "type", "7200")
        self.xdotool("key", "alt+c")
        question = poll("the save question", lambda: next(
            (w for w in self.windows("--name", "^Postvane$") if w[0] != window[0]), None))
        self.keep("05-save-question", question[1:])
        self.xdotool("windowfocus", "--sync", question[0])
        self.xdotool("key", "alt+y")
        poll("the reload after the save", lambda: "UpDelay = 7200" in self.spooler_log())
        with open(os.path.join(self.work, self.settings)) as f:
            if "UpDelay=7200" not in f.read():
                raise Failure("the save did not reach the settings file")
        poll("the window to close", lambda: not self.windows("--name", "^Postvane$"), 5)
        log("ok - settings window: a change saved with Alt+C and Yes reloads the spooler")
        result = run([self.args.postvane], self.env(self.settings), check=False)
        if result.returncode or "The running spooler shows its settings window." not in \
                result.stdout:
            raise Failure("second start: exit %d, output %r" % (result.returncode,
                                                                result.stdout[-300:]))
        self.expect_window("Postvane", "06-second-start", "alt+c")
        log("ok - second start: exit 0, the running spooler shows its settings window")

    def case_stop(self):
        self.menu_click("Stop", MENU_WAITING)
        self.expect_window("Postvane", "07-stop-question", "Return", True)
        self.expect_picture("waiting", "07-stop-declined")
        if self.spooler.poll() is not None or not self.status():
            raise Failure("Return (No) ended the spooler")
        self.menu_click("Stop", MENU_WAITING)
        self.expect_window("Postvane", "08-stop-question", "alt+y", True)
        try:
            code = self.spooler.wait(10)
        except subprocess.TimeoutExpired:
            raise Failure("alt+y (Yes) did not end the spooler")
        if code != 0:
            raise Failure("the spooler ended with %d after Stop" % code)
        poll("the icon to go", lambda: not self.icon(), 5)
        self.keep("08-stopped")
        log("ok - stop: No keeps it running, Yes ends it with 0 and takes the icon away")

    def case_remote_settings_mode(self):
        env = dict(self.env(self.settings), SSH_CONNECTION="127.0.0.1 50000 127.0.0.1 22")
        proc = self.start("postvane-settings", [self.args.postvane, "settingsmode=1"], env)
        box = poll("the remote-session message", lambda: self.titled_window("Postvane"))
        self.keep("09-remote-message", box[1:])
        self.xdotool("windowfocus", "--sync", box[0])
        self.xdotool("key", "Return")
        window = poll("the settings window", lambda: next(
            (w for w in self.windows("--name", "^Postvane$") if w[0] != box[0]), None))
        self.keep("09-remote-settings-window", window[1:])
        self.xdotool("windowfocus", "--sync", window[0])
        self.xdotool("key", "alt+c")
        try:
            code = proc.wait(10)
        except subprocess.TimeoutExpired:
            raise Failure("Alt+C did not end settings mode")
        if code != 0:
            raise Failure("settings mode ended with %d" % code)
        log("ok - settings mode over SSH: the message, then the settings window; Alt+C ends it")

    def case_offline(self):
        self.start_spooler("offline.start")
        self.expect_state("offline", r"Not connected to the internet(;|$)", "09-offline")
        code = stop(self.spooler, 10)
        if code != 0:
            raise Failure("the offline spooler ended with %s on SIGTERM" % code)

    def run(self, offline_possible):
        self.prepare()
        self.start_xvfb()
        cases = [self.case_docks_late, self.case_pause_and_panel_restart, self.case_spooling,
                 self.case_windows, self.case_stop, self.case_remote_settings_mode] + [self.case_offline] * offline_possible
        for case in cases:
            log("# %s" % case.__name__)
            case()
        run(["/usr/bin/convert", *self.crops, "+append", os.path.join(self.art, "states.png")],
            self.env())

    def report_failure(self, error):
        log("not ok - %s" % error)
        try:
            self.keep("failure")
        except Exception:  # the display itself may be gone
            pass
        for name in ("postvane-online", "postvane-offline", "trayer", "xvfb"):
            try:
                with open(os.path.join(self.work, name + ".log"), errors="replace") as f:
                    log("--- %s.log (tail) ---\n%s" % (name, f.read()[-3000:]))
            except OSError:
                pass


def has_default_route():
    return any(" dev lo" not in line for family in ("-4", "-6") for line in run(
        ["ip", family, "route", "show", "default"], None, False).stdout.splitlines())


def main():
    parser = argparse.ArgumentParser()
    for option in ("--postvane", "--icons", "--work", "--artifacts"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    missing = [t for t in TOOLS if not shutil.which(t)]
    if missing:
        log("SKIP: missing " + " ".join(missing) + " (scripts/install-deps.sh)")
        return 77
    offline_possible = not has_default_route()
    if not offline_possible and not os.environ.get("PV_TRAY_NETNS") and os.geteuid() == 0 \
            and shutil.which("unshare"):
        # Again in a network namespace of its own with only loopback.
        return subprocess.call(DIE_WITH_TEST + [
            "unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$0" "$@"', sys.executable,
            os.path.abspath(__file__)] + sys.argv[1:], env=dict(os.environ, PV_TRAY_NETNS="1"))
    test = TrayTest(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        test.run(offline_possible)
    except Failure as error:
        test.report_failure(error)
        return 1
    finally:
        for proc in reversed(test.running):
            stop(proc, 3.0)
        test.relay.close()
    if not offline_possible:
        log("SKIP: the offline case needs a network namespace without a default route "
            "(unshare -n)")
        return 77
    log("ok - all cases; artefacts in " + args.artifacts)
    return 0


if __name__ == "__main__":
    sys.exit(main())
