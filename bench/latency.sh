#!/bin/bash
# Delivery of the headless spooler to servers that take their time: a latency sink of our own
# (tests/rig/smtp/latency_sink.py) waits DELAY_MS before each reply to the final dot.
#
# usage (as root): bench/latency.sh relay|mx N DELAY_MS [REPEATS [KEY=VALUE...]]
#
#   relay  through one relay host, the sink on 127.0.1.100:2525
#   mx     straight to 20 mail exchangers: mail i goes to par(i mod 20 + 1).test, whose MX is
#          127.0.1.1 ... 127.0.1.20 port 25 in the test rig's DNS zone (dnsmasq on 127.0.0.70)
#
# KEY=VALUE pairs go into [Spooler] of the settings (MaxConnections=1, MaxConnectionsPerHost=50).
# The sink is bench_latency_sink (built beside the program, SINK_BIN names another): one
# thread with epoll, so that the sink is not what limits the rate.
# Each repeat: fresh sink, N spool files of about 2 KB with one recipient each, a fresh
# `postvane service=1`, then `postvane --spool-now`; the time runs from that request until the
# sink has all N messages and the spool directory is empty. Columns: mails/s, wall, the
# connections the sink saw and the most open at once, the spooler's CPU during the run and its
# peak RSS, the sink's CPU. KEEP=1 keeps the work directory (logs, settings) for a look.
set -u
export LC_ALL=C

readonly START_TIMEOUT=30 STOP_TIMEOUT=30 DNS_ADDR=127.0.0.70 RELAY=127.0.1.100:2525

usage() { echo "usage: $0 relay|mx N DELAY_MS [REPEATS [KEY=VALUE...]]" >&2; exit 2; }
die() { echo "latency: $*" >&2; exit 1; }

[ $# -ge 3 ] || usage
mode=$1; n=$2; delay=$3; repeats=${4:-3}; shift $(($# < 4 ? $# : 4))
[[ $mode =~ ^(relay|mx)$ && $n =~ ^[1-9][0-9]*$ && $delay =~ ^[0-9]+$ && $repeats =~ ^[1-9][0-9]*$ ]] ||
    usage
[ "$(id -u)" = 0 ] || die "run as root (port 25, the service mode)"

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/lib.sh
. "$here/lib.sh"
helper=$here/throughput_helper.py
zone=$here/../tests/rig/dns/zone.conf
bin=${POSTVANE_BIN:-$here/../../build-bench/postvane}
[ -x "$bin" ] || die "$bin missing: build it (see bench/README.md) or set POSTVANE_BIN"
command -v dnsmasq >/dev/null || die "dnsmasq missing (package dnsmasq-base)"

work=$(mktemp -d /tmp/pvbench-latency.XXXXXX) || die "no temp dir"
sink_bin=${SINK_BIN:-$(dirname "$bin")/bench_latency_sink}
[ -x "$sink_bin" ] || die "$sink_bin missing: ninja bench_latency_sink"

sink_pid=; spooler_pid=; notify_pid=; dns_pid=

cleanup() {
    stop_pid "$spooler_pid"; stop_pid "$notify_pid"; stop_pid "$sink_pid"; stop_pid "$dns_pid"
    [ -n "${KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

listen_args=(--listen "$RELAY")
if [ "$mode" = mx ]; then
    listen_args=()
    for ((i = 1; i <= 20; i++)); do listen_args+=(--listen "127.0.1.$i:25"); done
    dnsmasq --conf-file="$zone" --keep-in-foreground --listen-address=$DNS_ADDR --port=53 \
        --pid-file="$work/dnsmasq.pid" </dev/null >"$work/dnsmasq.log" 2>&1 &
    dns_pid=$!
    for ((i = 0; i < 100; i++)); do
        [ -n "$(ss -Hlun "src $DNS_ADDR:53")" ] && break
        sleep 0.05
    done
    [ -n "$(ss -Hlun "src $DNS_ADDR:53")" ] || die "dnsmasq did not come up: $(cat "$work/dnsmasq.log")"
fi

start_sink() {  # start_sink DIR
    "$sink_bin" "${listen_args[@]}" --log "$1/sink.log" --data-ms "$delay" \
        --ready "$1/sink.ready" </dev/null >"$1/sink.out" 2>&1 &
    sink_pid=$!
    for ((i = 0; i < 200; i++)); do [ -e "$1/sink.ready" ] && return 0; sleep 0.05; done
    cat "$1/sink.out" >&2
    die "the sink did not come up"
}

write_settings() {  # write_settings DIR KEY=VALUE...
    local dir=$1
    shift
    {
        echo "[Settings]"
        echo "DefaultSpoolDir=$dir/spool/"
        echo "DNSServer=$DNS_ADDR"
        echo "[Spooler]"
        echo "UpDelay=3600"
        echo "SenderHostName=bench.example"
        if [ "$mode" = relay ]; then echo "RelayHostName=$RELAY"; echo "RelaySecurity=none"; fi
        for pair in "$@"; do echo "$pair"; done
    } >"$dir/postvane.start"
}

# One repeat: appends "mails/s wall_s first_s connections most_open cpu_s rss_mb" to RESULTS
# (first_s: when the sink took the first mail, DELAY_MS included).
run_once() {  # run_once DIR RESULTS KEY=VALUE...
    local dir=$1 results=$2 wall first cpu0 cpu rss conns most sink_cpu
    shift 2
    mkdir -p "$dir/spool" "$dir/home" "$dir/run"
    write_settings "$dir" "$@"
    python3 "$helper" spool "$dir/spool" "$n" 1 "$([ "$mode" = mx ] && echo par%d.test:20 ||
        echo bench.example)" || die "cannot write the spool files"
    start_sink "$dir"
    start_spooler "$dir" "$bin" "$helper"
    cpu0=$(cpu_seconds "$spooler_pid")
    read -r wall first < <(env POSTVANE_RUNTIME_DIR="$dir/run" python3 "$helper" flush-log \
        "$dir/sink.log" "$dir/spool" "$n" $((60 + n * (delay + 10) / 1000)) "$bin" --spool-now)
    [ -n "${first:-}" ] || { tail -n 5 "$dir/spooler.log" >&2; die "the run did not finish"; }
    cpu=$(cpu_seconds "$spooler_pid")
    rss=$(peak_rss_mb "$spooler_pid")
    sink_cpu=$(cpu_seconds "$sink_pid")
    stop_pid "$spooler_pid"; spooler_pid=
    stop_pid "$sink_pid"; sink_pid=
    conns=$(grep -c '^C' "$dir/sink.log")
    most=$(awk -F'\t' '$1 == "C" && $4 > m { m = $4 } END { print m + 0 }' "$dir/sink.log")
    awk -v n="$n" -v w="$wall" -v f="$first" -v c="$cpu" -v c0="$cpu0" -v r="$rss" -v k="$conns" \
        -v m="$most" -v s="$sink_cpu" 'BEGIN {
        printf "%.1f %.3f %.3f %d %d %.2f %.1f %.2f\n", n / w, w, f, k, m, c - c0, r, s }' \
        >>"$results"
}

med() { awk -v c="$1" '{ print $c }' "$results" | median; }

echo "postvane latency: $mode, $n mails x 1 recipient, the sink waits $delay ms, $repeats repeats," \
    "settings: ${*:-defaults} ($(nproc) cpus, $(uname -r))"
results=$work/results
row='%-7s %9s %8s %8s %12s %10s %10s %8s %11s\n'
# shellcheck disable=SC2059
printf "$row" repeat mails/s wall_s first_s connections most_open run_cpu_s rss_mb sink_cpu_s
for ((r = 1; r <= repeats; r++)); do
    run_once "$work/r$r" "$results" "$@"
    read -r -a fields < <(tail -n 1 "$results")
    # shellcheck disable=SC2059
    printf "$row" "$r" "${fields[@]}"
done
printf 'median  mails/s %s, wall %s s, first mail %s s, connections %s (at most %s open), run CPU %s s, peak RSS %s MB, sink CPU %s s\n' \
    "$(med 1)" "$(med 2)" "$(med 3)" "$(med 4)" "$(med 5)" "$(med 6)" "$(med 7)" "$(med 8)"
