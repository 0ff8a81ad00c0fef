#!/usr/bin/python3
"""The system service's face on a real X server with a real panel.

Root runs `postvane service=1` on a runtime directory of the test's own (open to every user, as
systemd makes /run/postvane) and, on a private system bus, systemd's mock
(tests/service/systemd_template.py) with the unit PostvaneSpooler.service active, as the face's
service control sees it where systemd runs the service (Pause and Continue themselves go over the
service's control channel and wait for its STATE). A
throwaway member of the group postvane (made for the test and removed after it, with the group
when the system had none) runs the built `postvane` at the same Xvfb (-ac: another user's
client) and trayer, with a session bus of its own and python3-dbusmock's notification daemon;
its tray becomes the service's face. The service delivers to a scripted relay on 127.0.0.1 that
holds its greeting until released.

The screen is read as tray_test.py reads it (its helpers are borrowed): the icon's pixels
against the four pictures, the menu's entries found in its screenshot, the tooltip window on
hover. The service's state is asked on its control socket directly (STATE).

usage: face_test.py --postvane BIN --icons DIR --systemd-template FILE --work DIR --artifacts DIR
Exit codes: 0 passed, 1 failed, 77 skipped (not root, or tools missing).
"""
import argparse
import grp
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tray_test as tray  # noqa: E402
from tray_test import Failure, log, poll, run, stop  # noqa: E402

PYTHON = "/usr/bin/python3"
TOOLS = tray.TOOLS + ["useradd", "userdel", "groupadd", "groupdel", "/usr/bin/dbus-daemon",
                      "/usr/bin/dbus-send"]
UNIT = "PostvaneSpooler.service"
SUBJECT = "face-test-%d" % os.getpid()
SENT = "1 eMail(s) send out."
# The face's menu is the tray's, with the same entries enabled while waiting and while paused.
MENU_WAITING, MENU_PAUSED = tray.MENU_WAITING, tray.MENU_PAUSED

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>%s</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
  </policy>
</busconfig>
"""


class Member:
    """A user of the test's own in the group postvane; the group is made when there is none."""

    def __init__(self):
        self.name = "pvface%d" % (os.getpid() % 100000)
        self.made_group = self.made_user = False

    def create(self):
        try:
            grp.getgrnam("postvane")
        except KeyError:
            run(["groupadd", "-r", "postvane"], None)
            self.made_group = True
        run(["useradd", "-M", "-d", "/nonexistent", "-s", "/usr/sbin/nologin", "-U", "-G",
             "postvane", self.name], None)
        self.made_user = True
        entry = pwd.getpwnam(self.name)
        self.uid, self.gid = entry.pw_uid, entry.pw_gid

    def remove(self):
        if self.made_user:
            run(["userdel", self.name], None, check=False)
            run(["groupdel", self.name], None, check=False)  # when userdel left it
        if self.made_group:
            run(["groupdel", "postvane"], None, check=False)

    def launcher(self):
        """Runs a command as the member; it dies with the test (set after the change of uid)."""
        return ["setpriv", "--pdeathsig", "KILL", "--reuid=" + self.name,
                "--regid=" + self.name, "--init-groups", "--"]


class Inbox:
    """A datagram socket (sd_notify's, syslog's) whose messages a thread collects."""

    def __init__(self, path):
        self.path, self.messages = path, []
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(path)
        threading.Thread(target=self.collect, daemon=True).start()

    def collect(self):
        while True:
            try:
                self.messages.append(self.sock.recv(65536).decode("utf-8", "replace"))
            except OSError:
                return

    def has(self, text):
        return any(text in m for m in self.messages)

    def close(self):
        self.sock.close()


class FaceTest(tray.TrayTest):
    XVFB_OPTIONS = tray.TrayTest.XVFB_OPTIONS + ["-ac"]
    STATUS_NAME = "the service's STATE"

    def __init__(self, args, member):
        super().__init__(args)
        self.scratch = os.path.join(self.art, ".face-scratch")
        self.member = member
        self.face = self.service = None
        self.system_bus = self.session_bus = None
        self.inboxes = []

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    # -- processes and environment

    def start(self, name, argv, env, pass_fds=(), launcher=tray.DIE_WITH_TEST):
        with open(self.path(name + ".log"), "ab") as out:
            proc = subprocess.Popen(launcher + argv, env=env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT, pass_fds=pass_fds)
        self.running.append(proc)
        return proc

    def member_env(self, **extra):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
               "HOME": self.path("member-home"), "XDG_RUNTIME_DIR": self.path("member-xdg"),
               "DBUS_SESSION_BUS_ADDRESS": self.session_bus or "unix:path=/nonexistent"}
        env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        env.update(extra)
        return env

    def prepare(self):
        shutil.rmtree(self.work, ignore_errors=True)
        tray.clear_artifacts(self.art, lambda name: name.startswith(("face-", ".face-")))
        os.makedirs(self.scratch)
        os.makedirs(self.work)
        os.chmod(self.work, 0o755)
        # As systemd makes /run/postvane: every user reaches the service's socket.
        for sub, mode in (("spool", 0o700), ("logs", 0o700), ("home", 0o700), ("user", 0o700),
                          ("xdg", 0o700), ("run", 0o755), ("system-bus", 0o755)):
            os.makedirs(self.path(sub))
            os.chmod(self.path(sub), mode)
        for sub in ("member-home", "member-xdg", "member-run", "member-bus"):
            os.makedirs(self.path(sub))
            os.chown(self.path(sub), self.member.uid, self.member.gid)
            os.chmod(self.path(sub), 0o700)
        with open(self.path("service.start"), "w") as f:
            f.write("[Settings]\nDefaultSpoolDir=%s/\nDefaultExtension=eml\n"
                    "[Spooler]\nUpDelay=3600\nOnlyIfOnline=0\nRelayHostName=127.0.0.1:%d\n"
                    "RelaySecurity=none\nSenderHostName=client.face.test\nDefaultReturnTo=\n"
                    "LogFileDir=%s/\nShowSuccessBallons=1\nShowErrorBallons=1\n"
                    % (self.path("spool"), self.relay.port, self.path("logs")))

    def start_bus(self, name, kind, directory, launcher=tray.DIE_WITH_TEST):
        """A dbus-daemon of the test's own; its address."""
        sock = os.path.join(directory, "bus.sock")
        config = os.path.join(directory, "bus.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG % (kind, sock))
        os.chmod(config, 0o644)
        self.start(name, ["/usr/bin/dbus-daemon", "--config-file=" + config, "--nofork"],
                   self.env(), launcher=launcher)
        poll("the %s's socket" % name, lambda: os.path.exists(sock))
        return "unix:path=" + sock

    def bus_call(self, kind, env, dest, path, method, *args, launcher=()):
        return run([*launcher, "/usr/bin/dbus-send", "--" + kind, "--print-reply",
                    "--dest=" + dest, path, method, *args], env, check=False)

    def owned(self, kind, env, name, launcher=()):
        return "boolean true" in self.bus_call(
            kind, env, "org.freedesktop.DBus", "/", "org.freedesktop.DBus.NameHasOwner",
            "string:" + name, launcher=launcher).stdout

    def start_systemd_mock(self):
        """systemd's manager on a private system bus, the unit installed and active."""
        self.system_bus = self.start_bus("system-bus", "system", self.path("system-bus"))
        os.chmod(self.system_bus.split("=", 1)[1], 0o666)  # the member connects as well
        env = dict(self.env(), DBUS_SYSTEM_BUS_ADDRESS=self.system_bus)
        self.start("systemd-mock", [PYTHON, "-m", "dbusmock", "--system", "-t",
                                    self.args.systemd_template, "-l", self.path("systemd.calls")],
                   env)
        poll("systemd's mock on the system bus",
             lambda: self.owned("system", env, "org.freedesktop.systemd1"))
        for method, value in (("SetUnitFileState", "linked"), ("SetActiveState", "active")):
            result = self.bus_call("system", env, "org.freedesktop.systemd1",
                                   "/org/freedesktop/systemd1",
                                   "org.freedesktop.DBus.Mock." + method, "string:" + UNIT,
                                   "string:" + value)
            if result.returncode:
                raise Failure("systemd's mock refused %s: %s" % (method, result.stderr.strip()))

    def start_service(self):
        notify, syslog = Inbox(self.path("notify.sock")), Inbox(self.path("syslog.sock"))
        self.inboxes += [notify, syslog]
        env = dict(self.env(), HOME=self.path("home"), POSTVANE_HOME=self.path("home"),
                   POSTVANE_RUNTIME_DIR=self.path("run"),
                   POSTVANE_SETTINGS=self.path("service.start"), NOTIFY_SOCKET=notify.path,
                   POSTVANE_SYSLOG_SOCKET=syslog.path,
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent")
        env.pop("DISPLAY", None)  # a system service has no desktop
        self.service = self.start("service", [self.args.postvane, "service=1"], env)
        poll("READY=1 from the service", lambda: notify.has("READY=1") or self.service_ended())
        poll("the service's STATE answer", self.status)

    def start_session_bus(self):
        """The member's session bus with the notification daemon's mock on it."""
        as_member = self.member.launcher()
        self.session_bus = self.start_bus("session-bus", "session", self.path("member-bus"),
                                          as_member)
        env = self.member_env()
        self.start("notify-mock", [PYTHON, "-m", "dbusmock", "--session", "-t",
                                   "notification_daemon", "-l", self.notify_log()], env,
                   launcher=as_member)
        poll("the notification mock on the member's session bus", lambda: self.owned(
            "session", env, "org.freedesktop.Notifications", as_member))

    def notify_log(self):
        return self.path("member-bus", "notify.log")

    def notifications(self):
        try:
            with open(self.notify_log(), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def start_face(self):
        env = self.member_env(
            DISPLAY=self.display, QT_QPA_PLATFORM="xcb",
            POSTVANE_HOME=self.path("member-home", "pv"),
            POSTVANE_RUNTIME_DIR=self.path("member-run"),
            POSTVANE_SERVICE_RUNTIME_DIR=self.path("run"),
            DBUS_SYSTEM_BUS_ADDRESS=self.system_bus)
        self.face = self.start("face", [self.args.postvane], env,
                                              launcher=self.member.launcher())
        poll("the face's start message", lambda: "the tray shows it" in self.read_log("face")
             or self.face.poll() is not None, 15)
        if self.face.poll() is not None:
            raise Failure("the member's postvane ended with %d instead of showing the service"
                          % self.face.poll())

    def read_log(self, name):
        try:
            with open(self.path(name + ".log"), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def service_ended(self):
        """False while the service runs; a Failure once it has ended."""
        if self.service.poll() is not None:
            raise Failure("the service ended with %d" % self.service.poll())
        return False

    # -- the service's side

    def status(self):
        """The service's STATE answer on its control socket; None when it does not answer."""
        try:
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                s.settimeout(2)
                s.connect(self.path("run", "control"))
                s.sendall(b"STATE\n")
                answer = b""
                while b"\n" not in answer and (chunk := s.recv(4096)):
                    answer += chunk
        except OSError:
            return None
        return answer.split(b"\n")[0].decode("utf-8", "replace") or None

    def spooler_note(self):
        notes = ["the %s has ended with %d" % (name, proc.poll())
                 for name, proc in (("face", self.face), ("service", self.service))
                 if proc and proc.poll() is not None]
        return "".join("; " + n for n in notes)

    def systemd_calls(self):
        try:
            with open(self.path("systemd.calls"), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    # -- the cases

    def case_docks(self):
        self.start_face()
        self.expect_state("waiting", r"state=waiting\t", "face-01-waiting")

    def expect_no_message_box(self, after, name):
        """No message box of the face's (an error of the service control) is open."""
        box = self.titled_window("Postvane")
        if box:
            self.keep(name, box[1:])
            raise Failure("a message box came up after %s (kept as %s)" % (after, name))

    def case_pause_continue(self):
        self.menu_click("Pause", MENU_WAITING, "face-02-menu")
        # The face sends PAUSE and waits for the service's STATE to say paused; had either
        # failed, an error box would be open by the time the picture changes.
        self.expect_picture("paused", "face-02-paused")
        self.expect_no_message_box("Pause", "face-02-error")
        log("ok - pause: the face showed no error")
        self.expect_state("paused", r"state=paused\t", "face-02-paused")
        self.menu_click("Continue", MENU_PAUSED, "face-03-menu-paused")
        self.expect_picture("waiting", "face-03-continued")
        self.expect_no_message_box("Continue", "face-03-error")
        self.expect_state("waiting", r"state=waiting\t", "face-03-continued")

    def case_spool_now(self):
        path = self.path("spool", "face.eml")
        with open(path + ".part", "w") as f:
            f.write("From: Face <face@src.face.test>\r\nTo: rcpt@dest.face.test\r\nSubject: "
                    "%s\r\nMime-Version: 1.0\r\n\r\nHello from the face test.\r\n" % SUBJECT)
        os.rename(path + ".part", path)
        self.menu_click("SpoolNow", MENU_WAITING)
        if not self.relay.connected.wait(10):
            raise Failure("the service did not connect to the relay after the face's Spool now!")
        self.expect_state("spooling", r"state=spooling\t", "face-04-spooling")
        self.relay.released.set()
        poll("the mail at the relay", lambda: any(SUBJECT in m for m in self.relay.messages))
        try:
            poll("the success notification in the mock's log", lambda: SENT in
                 self.notifications())
        except Failure as error:
            raise Failure("%s; it holds %r" % (error, self.notifications()[-500:]))
        self.expect_picture("waiting", "face-04-delivered")
        log("ok - spool now: the mail reached the relay, the member got %r" % SENT)

    def case_service_ends(self):
        code = stop(self.service, 10)
        if code != 0:
            raise Failure("the service ended with %d on SIGTERM" % code)
        try:
            code = self.face.wait(20)
        except subprocess.TimeoutExpired:
            raise Failure("the face did not end with the service")
        if code != 0:
            raise Failure("the face ended with %d" % code)
        poll("the icon to go", lambda: not self.icon(), 5)
        self.keep("face-05-service-gone")
        log("ok - the end: the face ends with 0 after the service, its icon goes")

    def run(self):
        self.prepare()
        self.start_xvfb()
        self.start_trayer()
        self.start_systemd_mock()
        self.start_service()
        self.start_session_bus()
        for case in (self.case_docks, self.case_pause_continue, self.case_spool_now,
                     self.case_service_ends):
            log("# %s" % case.__name__)
            case()

    def report_failure(self, error):
        log("not ok - %s" % error)
        log("# the service's STATE now: %r" % (self.service and self.status()))
        try:
            self.keep("face-failure")
        except Exception:  # the display itself may be gone
            pass
        for name in ("face", "service", "notify-mock", "session-bus", "systemd-mock",
                     "system-bus", "trayer", "xvfb"):
            text = self.read_log(name)
            if text:
                log("--- %s.log (tail) ---\n%s" % (name, text[-3000:]))
        log("--- notifications ---\n%s" % self.notifications()[-2000:])
        log("--- systemd's calls ---\n%s" % self.systemd_calls()[-2000:])

    def close(self):
        for proc in reversed(self.running):
            stop(proc, 3.0)
        self.relay.close()
        for inbox in self.inboxes:
            inbox.close()


def dbusmock_present():
    return subprocess.run([PYTHON, "-c", "import dbusmock"], capture_output=True).returncode == 0


def main():
    parser = argparse.ArgumentParser()
    for option in ("--postvane", "--icons", "--systemd-template", "--work", "--artifacts"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    for name in ("postvane", "icons", "systemd_template", "work", "artifacts"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    if os.geteuid() != 0:
        log("SKIP: needs root (a user of the test's own, the service as root)")
        return 77
    missing = [t for t in TOOLS if not shutil.which(t)]
    if not dbusmock_present():
        missing.append("python3-dbusmock")
    if missing:
        log("SKIP: missing " + " ".join(missing) + " (scripts/install-deps.sh)")
        return 77
    member = Member()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    test = None
    try:
        member.create()
        test = FaceTest(args, member)
        test.run()
    except Failure as error:
        if test:
            test.report_failure(error)
        else:
            log("not ok - %s" % error)
        return 1
    finally:
        if test:
            test.close()
        member.remove()  # after every process of the member's
    log("ok - all cases; artefacts in " + args.artifacts)
    return 0


if __name__ == "__main__":
    sys.exit(main())
