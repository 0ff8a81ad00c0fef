#!/usr/bin/env bash
# Installs everything Postvane needs to build, run and test on Debian 12 (run as root).
# Idempotent: packages that are already installed are left as they are.
#   scripts/install-deps.sh            the program, its man pages and every test
#   scripts/install-deps.sh --program  only what building and running the program needs
set -euo pipefail
program_only=false
case ${1:-} in
  --program) program_only=true ;;
  "") ;;
  *) echo "usage: $0 [--program]" >&2; exit 64 ;;
esac
export DEBIAN_FRONTEND=noninteractive

# Build toolchain and libraries.
build_pkgs=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev libc-ares-dev libssl-dev
)
# What the program runs at a desktop: xdg-open, behind QDesktopServices (the manual, folders,
# web addresses), and xdg-settings and xdg-mime, which name the default browser.
run_pkgs=(xdg-utils)
# The man pages (docs/man/*.scd, turned into roff when scdoc is found).
doc_pkgs=(scdoc)
# Unit tests and the checks of the system files (systemd only for systemd-analyze, -sysusers,
# -tmpfiles and systemctl --root on scratch directories; it is not started; man-db for
# `man --warnings`; desktop-file-utils for desktop-file-validate on the installed desktop
# entry). The desktop tests start a private session bus (dbus-daemon) with the notification
# daemon's mock on it, the service tests a private system bus with systemd's mock.
test_pkgs=(
  googletest libgtest-dev libgmock-dev systemd logrotate man-db desktop-file-utils
  dbus-daemon dbus-bin python3-dbusmock
)
# Integration tests: the loopback rig in tests/rig (DNS, scripted SMTP servers, SOCKS proxies).
# swaks's TLS modules are named because recommends are not installed. postfix only provides
# smtp-sink; its debconf answers are set below so that it stays unconfigured and starts no MTA.
rig_pkgs=(
  dnsmasq-base dnsutils python3-aiosmtpd swaks libnet-ssleay-perl libio-socket-ssl-perl
  dante-server microsocks curl openssl iproute2 postfix
  time  # /usr/bin/time -v for bench/memory.sh
)
# The desktop tests (tests/desktop): a virtual X server, a panel (trayer, an XEmbed tray), mouse
# and keys, screenshots, window properties (x11-utils: xprop).
desktop_pkgs=(
  xvfb trayer xdotool imagemagick x11-utils
)

wanted=("${build_pkgs[@]}" "${run_pkgs[@]}")
$program_only ||
  wanted+=("${doc_pkgs[@]}" "${test_pkgs[@]}" "${rig_pkgs[@]}" "${desktop_pkgs[@]}")
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

# Must come before postfix is installed: "No configuration" leaves it without main.cf, so it
# does not start and does not take port 25 (which the rig binds on 127.0.0.x).
echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections

echo "install-deps: installing ${missing[*]}"
# DPkg::Lock::Timeout waits for another apt/dpkg run (unattended upgrades, a second shell).
apt-get -o DPkg::Lock::Timeout=600 update
apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
