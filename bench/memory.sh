#!/bin/bash
# Peak memory of delivering one large mail through a relay to Postfix's smtp-sink on loopback.
#
# usage (as root): bench/memory.sh [MB]          (default 50)
#
# Makes one spool file of about MB megabytes (text lines of 78 characters, every 40th with
# code page 1252 umlauts), then delivers it four ways and prints the peak resident set size of
# the program for each (/usr/bin/time -v "Maximum resident set size" for --deliver, VmHWM of the
# running spooler for the service):
#   deliver-8bit   `postvane --deliver FILE` to a sink that offers 8BITMIME (the bytes as they are)
#   deliver-7bit   the same to a sink without 8BITMIME (-8): the 8-bit text goes quoted-printable
#   service-8bit   `postvane service=1` with the file in its spool directory, `--spool-now`
#   service-7bit   the same to the sink without 8BITMIME
# POSTVANE_BIN names the program (default: build-bench/postvane beside the repository).
set -u
export LC_ALL=C

readonly SINK_ADDR=127.0.0.52 SINK_PORT=2526 WAIT_SECONDS=120
usage() { echo "usage: $0 [MB]" >&2; exit 2; }
die() { echo "memory: $*" >&2; exit 1; }

[ $# -le 1 ] || usage
mb=${1:-50}
[[ $mb =~ ^[1-9][0-9]*$ ]] || usage
[ "$(id -u)" = 0 ] || die "run as root (smtp-sink and the service mode expect it)"
here=$(cd "$(dirname "$0")" && pwd)
bin=${POSTVANE_BIN:-$here/../../build-bench/postvane}
sink_bin=/usr/sbin/smtp-sink
[ -x "$bin" ] || die "$bin missing: build it (see bench/README.md) or set POSTVANE_BIN"
[ -x "$sink_bin" ] || die "$sink_bin missing (package postfix)"
[ -x /usr/bin/time ] || die "/usr/bin/time missing (package time)"
[ -z "$(ss -Hltn "src $SINK_ADDR:$SINK_PORT")" ] || die "$SINK_ADDR:$SINK_PORT is taken"

work=$(mktemp -d /tmp/pvbench-memory.XXXXXX) || die "no temp dir"
sink_pid=; spooler_pid=
stop_pid() {  # stop_pid PID: SIGTERM, a bounded wait, then SIGKILL
    local pid=$1 i
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null
    for ((i = 0; i < 300; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 0
}
cleanup() { stop_pid "$spooler_pid"; stop_pid "$sink_pid"; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

# The mail: CR LF text in code page 1252.
python3 - "$work/mail.eml" "$mb" <<'PY'
import sys
path, mb = sys.argv[1], int(sys.argv[2])
head = (b"From: Bench <bench@src.example>\r\nTo: big@bench.example\r\nSubject: large mail\r\n"
        b"MIME-Version: 1.0\r\nContent-Type: text/plain; charset=windows-1252\r\n\r\n")
plain = b"All jobs finished, nothing to do for anyone; the report follows line by line..\r\n"
umlaut = b"Gr\xfc\xdfe aus K\xf6ln: \xc4rger, \xd6l und S\xfc\xdfes f\xfcr alle, \x80 5,00 je St\xfcck..\r\n"
with open(path, "wb") as f:
    f.write(head)
    size, n = len(head), 0
    while size < mb * 1024 * 1024:
        line = umlaut if n % 40 == 0 else plain
        f.write(line)
        size += len(line)
        n += 1
PY
size_mb=$(awk -v b="$(stat -c %s "$work/mail.eml")" 'BEGIN { printf "%.1f", b / 1048576 }')

start_sink() {  # start_sink [-8]
    "$sink_bin" -u root "$@" "$SINK_ADDR:$SINK_PORT" 16 </dev/null >"$work/sink.log" 2>&1 &
    sink_pid=$!
    local i
    for ((i = 0; i < 100; i++)); do
        [ -n "$(ss -Hltn "src $SINK_ADDR:$SINK_PORT")" ] && return 0
        sleep 0.05
    done
    die "smtp-sink did not come up"
}

write_settings() {
    mkdir -p "$work/spool" "$work/home" "$work/run"
    cat >"$work/postvane.start" <<EOF
[Settings]
DefaultSpoolDir=$work/spool/
[Spooler]
UpDelay=3600
RelayHostName=$SINK_ADDR:$SINK_PORT
RelaySecurity=none
EOF
}

run_env() {
    env POSTVANE_SETTINGS="$work/postvane.start" POSTVANE_HOME="$work/home" \
        POSTVANE_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home" XDG_DATA_HOME="$work/home" "$@"
}

# In a background job: the job's PID is then the program's own.
exec_env() {
    exec env POSTVANE_SETTINGS="$work/postvane.start" POSTVANE_HOME="$work/home" \
        POSTVANE_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home" XDG_DATA_HOME="$work/home" "$@"
}

peak_kb() { awk -F': ' '/Maximum resident set size/ { print $2 }' "$1"; }

deliver() {  # deliver NAME: --deliver FILE; prints NAME peak_mb
    run_env /usr/bin/time -v -o "$work/time.$1" "$bin" --deliver "$work/mail.eml" \
        >"$work/deliver.$1" 2>&1 || { tail -n 5 "$work/deliver.$1" >&2; die "$1: not delivered"; }
    awk -v k="$(peak_kb "$work/time.$1")" -v n="$1" 'BEGIN { printf "%-14s %8.1f\n", n, k / 1024 }'
}

mail_files() { ls -A "$work/spool" | grep -v '\.csv$'; }  # the CSV log is written there too

service() {  # service NAME: the spooler delivers the file from its spool directory
    rm -f "$work/spool/"* "$work/spool/".[!.]*
    cp "$work/mail.eml" "$work/spool/.incoming" && mv "$work/spool/.incoming" "$work/spool/big.eml"
    exec_env "$bin" service=1 </dev/null >"$work/service.$1" 2>&1 &
    spooler_pid=$!
    sleep 1
    run_env "$bin" --spool-now >/dev/null 2>&1
    local i
    for ((i = 0; i < WAIT_SECONDS * 10; i++)); do
        [ -z "$(mail_files)" ] && break
        sleep 0.1
    done
    [ -z "$(mail_files)" ] || die "$1: the spool directory still holds $(mail_files)"
    # the spooler's own peak (VmHWM), read before it stops
    awk -v n="$1" '/^VmHWM:/ { printf "%-14s %8.1f\n", n, $2 / 1024 }' "/proc/$spooler_pid/status"
    stop_pid "$spooler_pid"; spooler_pid=
}

write_settings
echo "mail: $size_mb MB"
printf "%-14s %8s\n" run peak_mb
start_sink;    deliver deliver-8bit; service service-8bit; stop_pid "$sink_pid"; sink_pid=
start_sink -8; deliver deliver-7bit; service service-7bit; stop_pid "$sink_pid"; sink_pid=
