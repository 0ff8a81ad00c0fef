#!/usr/bin/env bash
# Checks of the installed system files as the tools that read them do:
#   check.sh sysusers|tmpfiles SOURCE_DIR    check.sh logrotate SOURCE_DIR    check.sh man PAGE...
#   check.sh desktop CMAKE BUILD_DIR  (exit 77, skipped, without desktop-file-validate)
#   check.sh quoted UNIT BIN_DIR PROGRAM    check.sh unit UNIT UNIT_DIR
set -euo pipefail
what=$1; shift
fail() { echo "FAIL: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# A root directory with the account, the directories and the settings as installed.
make_root() {
  local src=$1
  mkdir -p "$scratch/usr/lib/sysusers.d" "$scratch/usr/lib/tmpfiles.d" "$scratch/etc/postvane"
  cp "$src/dist/postvane-sysusers.conf" "$scratch/usr/lib/sysusers.d/postvane.conf"
  cp "$src/dist/postvane-tmpfiles.conf" "$scratch/usr/lib/tmpfiles.d/postvane.conf"
  cp "$src/dist/postvane.start" "$scratch/etc/postvane/postvane.start"
  # root and adm, as on every Debian system.
  printf 'u root 0 - /root\ng adm 4\n' > "$scratch/usr/lib/sysusers.d/base.conf"
  systemd-sysusers --root="$scratch" >/dev/null 2>&1
}

id_in_root() {  # id_in_root passwd|group NAME
  awk -F: -v n="$2" '$1 == n { print $3 }' "$scratch/etc/$1"
}

expect_stat() {  # expect_stat PATH MODE USER GROUP
  local got want
  got=$(stat -c '%a %u %g' "$scratch$1")
  want="$2 $(id_in_root passwd "$3") $(id_in_root group "$4")"
  [ "$got" = "$want" ] || fail "$1: mode/uid/gid $got, want $want"
}

png_size() {  # png_size FILE: "WIDTH HEIGHT" from the IHDR chunk
  local b
  read -r -a b < <(od -An -tu1 -j16 -N8 "$1")
  echo "$(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3])) $(((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]))"
}

case $what in
  sysusers)
    make_root "$1"
    line=$(grep '^postvane:' "$scratch/etc/passwd") || fail "no user postvane"
    IFS=: read -r _ _ uid gid _ home shell <<<"$line"
    [ "$uid" -lt 1000 ] || fail "uid $uid is not a system uid"
    [ "$gid" = "$(id_in_root group postvane)" ] || fail "primary group is not postvane"
    [ "$home" = /var/spool/postvane ] || fail "home $home"
    [ "$shell" = /usr/sbin/nologin ] || fail "shell $shell"
    ;;
  tmpfiles)
    make_root "$1"
    systemd-tmpfiles --root="$scratch" --create
    expect_stat /var/spool/postvane 3730 postvane postvane
    expect_stat /var/log/postvane 2750 postvane adm
    expect_stat /etc/postvane/postvane.start 640 root postvane
    ;;
  logrotate)
    # The rules on a scratch log directory, run as root. Four daily runs (the state file set back
    # a day after each): the first records the files, the second compresses the week-old ones,
    # the third records the compressed copies, the fourth removes the month-old ones.
    log=$scratch/log
    mkdir "$log"
    sed -e "s|/var/log/postvane|$log|" -e "s|su postvane adm|su root root|" \
      "$1/dist/postvane.logrotate" >"$scratch/rules"
    out=$(logrotate -d -s "$scratch/state" "$scratch/rules" 2>&1) || fail "logrotate -d: $out"
    ! grep -q '^error' <<<"$out" || fail "logrotate -d: $out"
    for age in 0 1 6 8 29 40; do
      echo "date,msg" >"$log/PVX-$age.csv"
      touch -d "$age days ago" "$log/PVX-$age.csv"
    done
    yesterday=$(date -d yesterday +%Y-%-m-%-d)
    for _ in 1 2 3 4; do
      logrotate -s "$scratch/state" "$scratch/rules"
      sed -i -E "s/ [0-9]+-[0-9]+-[0-9]+-/ $yesterday-/" "$scratch/state"
    done
    got=$(cd "$log" && ls | sort | tr '\n' ' ')
    want="PVX-0.csv PVX-1.csv PVX-29.csv.1.gz PVX-6.csv PVX-8.csv.1.gz "
    [ "$got" = "$want" ] || fail "after four runs: '$got', want '$want'"
    ;;
  man)
    for page in "$@"; do
      out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
      [ -z "$out" ] || fail "$page: $out"
    done
    ;;
  desktop)
    # The desktop entry and the application icon as `cmake --install` puts them under /usr.
    DESTDIR=$scratch "$1" --install "$2" --component desktop --prefix /usr >/dev/null
    entry=$scratch/usr/share/applications/postvane.desktop
    hicolor=$scratch/usr/share/icons/hicolor
    [ -f "$entry" ] || fail "no desktop entry at $entry"
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ "$icon" = postvane ] || fail "Icon=$icon"
    [ -f "$hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon"
    for size in 16 22 24 32 48 64 128 256; do
      png=$hicolor/${size}x$size/apps/$icon.png
      [ -f "$png" ] || fail "no icon at ${size}x$size"
      [ "$(png_size "$png")" = "$size $size" ] || fail "$png is $(png_size "$png") pixels"
    done
    if ! command -v desktop-file-validate >/dev/null; then
      echo "skipped: desktop-file-validate (desktop-file-utils) is missing"
      exit 77
    fi
    # Hints and warnings count as failures too: the entry must be clean.
    out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate: $out"
    ;;
  quoted)
    # The unit names BIN_DIR/postvane, quoted; verify finds the program only when systemd reads
    # the name exactly (it checks that the program is there and executable).
    unit=$1 bin_dir=$2 program=$3
    grep -q '^ExecStart="' "$unit" || fail "ExecStart is not quoted in $unit"
    mkdir -p "$bin_dir"
    cp "$program" "$bin_dir/postvane"
    trap 'rm -rf "$scratch" "$bin_dir"' EXIT
    out=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $out"
    rm -f "$bin_dir/postvane"
    ! out=$(systemd-analyze verify "$unit" 2>&1) || fail "verify passed without the program at $bin_dir"
    ;;
  unit)
    # The shipped unit at UNIT_DIR inside a scratch root, handled as the service window does.
    unit=$1 dir=$2 name=PostvaneSpooler.service
    mkdir -p "$scratch$dir" "$scratch/etc/systemd/system"
    cp "$unit" "$scratch$dir/$name"
    sc() { systemctl --root="$scratch" "$@" 2>/dev/null; }
    state() { sc is-enabled "$name" || true; }
    link=$scratch/etc/systemd/system/$name
    wants=$scratch/etc/systemd/system/multi-user.target.wants/$name
    sc enable "$dir/$name" || fail "enable by path"
    [ "$(state)" = enabled ] || fail "after enable: '$(state)'"
    [ "$(readlink "$link")" = "$dir/$name" ] || fail "enable: no link $link"
    [ "$(readlink "$wants")" = "$dir/$name" ] || fail "enable: no link $wants"
    sc disable "$name" || fail "disable"
    [ -z "$(state)" ] || fail "after disable: '$(state)'"
    [ ! -L "$link" ] && [ ! -L "$wants" ] || fail "disable left a link behind"
    sc link "$dir/$name" || fail "link by path"
    [ "$(state)" = linked ] || fail "after link: '$(state)'"
    [ ! -L "$wants" ] || fail "link made a wants link"
    ! sc mask "$name" || fail "mask over the link worked without disable"
    sc disable "$name" && sc mask "$name" || fail "disable, then mask"
    [ "$(state)" = masked ] || fail "after mask: '$(state)'"
    [ "$(readlink "$link")" = /dev/null ] || fail "mask: $link is not a link to /dev/null"
    sc unmask "$name" || fail "unmask"
    [ -z "$(state)" ] || fail "after unmask: '$(state)'"
    ;;
  *) fail "unknown check $what" ;;
esac
echo "ok: $what"
