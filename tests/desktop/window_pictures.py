#!/usr/bin/python3
"""Pictures of the settings windows (the autostart and service window among them, in four
states of the service) on a real X server.

Starts its own Xvfb (a free display by -displayfd) and runs the gui tests' picture test on it
with Qt's xcb platform; the pictures go to the artefacts directory. Xvfb dies with the test.

usage: window_pictures.py --gui-tests BIN --artifacts DIR
Exit codes: 0 passed, 1 failed, 77 skipped (Xvfb missing).
"""
import argparse
import os
import shutil
import subprocess
import sys

DIE_WITH_TEST = ["setpriv", "--pdeathsig", "KILL", "--"]
PICTURES = ["output-settings", "settings-window", "smtp-settings",
            "service-settings-not-installed", "service-settings-stopped",
            "service-settings-running", "service-settings-paused"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gui-tests", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    if not shutil.which("Xvfb") or not shutil.which("setpriv"):
        print("SKIP: missing Xvfb or setpriv (scripts/install-deps.sh)")
        return 77
    shutil.rmtree(args.artifacts, ignore_errors=True)
    os.makedirs(args.artifacts)
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(DIE_WITH_TEST + ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                             "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    try:
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number.isdigit():
            print("not ok - Xvfb did not name its display")
            return 1
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
               "HOME": args.artifacts, "XDG_RUNTIME_DIR": args.artifacts,
               "DISPLAY": ":" + number, "QT_QPA_PLATFORM": "xcb",
               "DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent",
               "POSTVANE_PICTURE_DIR": args.artifacts}
        env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        code = subprocess.call([args.gui_tests, "--gtest_filter=WindowPicturesTest.*"], env=env,
                               timeout=60)
        pictures = sorted(p for p in os.listdir(args.artifacts) if p.endswith(".png"))
        print("# pictures: %s" % ", ".join(pictures))
        missing = [name for name in PICTURES if name + ".png" not in pictures]
        if code == 0 and missing:
            print("not ok - no picture of %s" % ", ".join(missing))
            return 1
        return code
    finally:
        xvfb.terminate()
        xvfb.wait(5)


if __name__ == "__main__":
    sys.exit(main())
