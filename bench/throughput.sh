#!/bin/bash
# Delivery throughput of the headless spooler through a relay to Postfix's smtp-sink on loopback.
#
# usage (as root): bench/throughput.sh N RCPTS [REPEATS]
#
# Each repeat: a fresh smtp-sink on 127.0.0.51:2525, N spool files of about 2 KB with RCPTS
# recipients each, a fresh `postvane service=1` (waited for through NOTIFY_SOCKET), then
# `postvane --spool-now`; the time runs from that request until the sink has taken N
# transactions and the spool directory holds no spool file. One line per repeat, then medians.
# POSTVANE_BIN names the program (default: build-bench/postvane beside the repository);
# SPOOLER_KEYS adds KEY=VALUE pairs to [Spooler] (SPOOLER_KEYS="MaxConnections=1").
# PROFILE_CMD, when set, is started with the spooler's PID appended just before the request
# and stopped with SIGINT when the run is over; its output goes to stderr. For example
#   PROFILE_CMD="perf stat -e task-clock,context-switches -p"   or   "perf trace -s -p"
set -u
export LC_ALL=C

readonly SINK_ADDR=127.0.0.51 SINK_PORT=2525
readonly START_TIMEOUT=30 STOP_TIMEOUT=30

usage() { echo "usage: $0 N RCPTS [REPEATS]" >&2; exit 2; }
die() { echo "throughput: $*" >&2; exit 1; }

if [ $# -lt 2 ] || [ $# -gt 3 ]; then usage; fi
n=$1; rcpts=$2; repeats=${3:-3}
[[ $n =~ ^[1-9][0-9]*$ && $rcpts =~ ^[1-9][0-9]*$ && $repeats =~ ^[1-9][0-9]*$ ]] || usage
[ "$(id -u)" = 0 ] || die "run as root (smtp-sink and the service mode expect it)"

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/lib.sh
. "$here/lib.sh"
helper=$here/throughput_helper.py
bin=${POSTVANE_BIN:-$here/../../build-bench/postvane}
sink_bin=/usr/sbin/smtp-sink
[ -x "$bin" ] || die "$bin missing: build it (see bench/README.md) or set POSTVANE_BIN"
[ -x "$sink_bin" ] || die "$sink_bin missing (package postfix)"
[ -z "$(ss -Hltn "src $SINK_ADDR:$SINK_PORT")" ] || die "$SINK_ADDR:$SINK_PORT is taken"

work=$(mktemp -d /tmp/pvbench-throughput.XXXXXX) || die "no temp dir"
sink_pid=; spooler_pid=; notify_pid=; profile_pid=

cleanup() {
    stop_pid "$profile_pid"; profile_pid=
    stop_pid "$spooler_pid"; spooler_pid=
    stop_pid "$notify_pid"; notify_pid=
    stop_pid "$sink_pid"; sink_pid=
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_sink() {  # start_sink DIR
    "$sink_bin" -u root -c -D "$1/sink.dump" "$SINK_ADDR:$SINK_PORT" 1024 \
        </dev/null >"$1/sink.count" 2>"$1/sink.log" &
    sink_pid=$!
    local i
    for ((i = 0; i < 100; i++)); do
        [ -n "$(ss -Hltn "src $SINK_ADDR:$SINK_PORT")" ] && return 0
        kill -0 "$sink_pid" 2>/dev/null || break
        sleep 0.05
    done
    cat "$1/sink.log" >&2
    die "smtp-sink did not come up"
}

write_settings() {  # write_settings DIR
    cat >"$1/postvane.start" <<EOF
[Settings]
DefaultSpoolDir=$1/spool/
[Spooler]
UpDelay=3600
RelayHostName=$SINK_ADDR:$SINK_PORT
RelaySecurity=none
EOF
    # shellcheck disable=SC2086
    for pair in ${SPOOLER_KEYS:-}; do echo "$pair"; done >>"$1/postvane.start"
}

start_profile() {  # start_profile DIR
    [ -n "${PROFILE_CMD:-}" ] || return 0
    # shellcheck disable=SC2086
    $PROFILE_CMD "$spooler_pid" >"$1/profile.out" 2>&1 &
    profile_pid=$!
    sleep 0.5
}

stop_profile() {  # stop_profile DIR
    [ -n "$profile_pid" ] || return 0
    kill -INT "$profile_pid" 2>/dev/null
    local i
    for ((i = 0; i < STOP_TIMEOUT * 10; i++)); do
        kill -0 "$profile_pid" 2>/dev/null || break
        sleep 0.1
    done
    stop_pid "$profile_pid"; profile_pid=
    cat "$1/profile.out" >&2
}

# The columns of a result line. first_s: when the sink took the first mail; after_first/s: the
# rate from then on; startup_cpu_s: the spooler's CPU before the request; pss_mb: at the end.
readonly columns="mails/s wall_s first_s cpu_s cpu_ms/mail rss_mb startup_cpu_s after_first/s
                 pss_mb"
readonly row='%-7s %9s %8s %8s %7s %12s %8s %14s %14s %7s\n'

# One repeat (in this shell, so that the trap knows its processes): appends a result line to
# RESULTS.
run_once() {  # run_once DIR RESULTS
    local dir=$1 results=$2 wall first cpu0 cpu rss pss got
    mkdir -p "$dir/spool" "$dir/home" "$dir/run"
    write_settings "$dir"
    python3 "$helper" spool "$dir/spool" "$n" "$rcpts" || die "cannot write the spool files"
    start_sink "$dir"
    start_spooler "$dir" "$bin" "$helper"
    start_profile "$dir"
    cpu0=$(cpu_seconds "$spooler_pid")
    read -r wall first < <(env POSTVANE_RUNTIME_DIR="$dir/run" python3 "$helper" flush \
        "$dir/sink.count" "$dir/spool" "$n" $((60 + n / 10)) "$bin" --spool-now)
    [ -n "${first:-}" ] || die "the run did not finish"
    cpu=$(cpu_seconds "$spooler_pid")
    rss=$(peak_rss_mb "$spooler_pid")
    pss=$(pss_mb "$spooler_pid")
    stop_profile "$dir"
    stop_pid "$spooler_pid"; spooler_pid=
    stop_pid "$sink_pid"; sink_pid=
    got=$(grep -c '^X-Rcpt-Args:' "$dir/sink.dump")
    [ "$got" = $((n * rcpts)) ] || die "the sink took $got recipients, not $((n * rcpts))"
    awk -v n="$n" -v w="$wall" -v f="$first" -v c="$cpu" -v r="$rss" -v c0="$cpu0" \
        -v p="$pss" 'BEGIN {
        d = (n > 1 && w > f) ? (n - 1) / (w - f) : n / w
        printf "%.1f %.3f %.3f %.2f %.2f %.1f %.2f %.1f %.1f\n",
            n / w, w, f, c, c * 1000 / n, r, c0, d, p
    }' >>"$results"
}

med() { awk -v c="$1" '{ print $c }' "$results" | median; }

echo "postvane throughput: $n mails x $rcpts recipients, $repeats repeats" \
    "($(nproc) cpus, $(uname -r))"
results=$work/results
# shellcheck disable=SC2059,SC2086
printf "$row" repeat $columns
for ((r = 1; r <= repeats; r++)); do
    run_once "$work/r$r" "$results"
    read -r -a fields < <(tail -n 1 "$results")
    # shellcheck disable=SC2059
    printf "$row" "$r" "${fields[@]}"
done
printf 'median  mails/s %s, wall %s s, first mail %s s, CPU %s s, CPU %s ms/mail, peak RSS %s MB' \
    "$(med 1)" "$(med 2)" "$(med 3)" "$(med 4)" "$(med 5)" "$(med 6)"
printf ', PSS at the end %s MB, after the first mail %s mails/s\n' "$(med 9)" "$(med 8)"
