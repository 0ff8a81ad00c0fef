#!/bin/bash
# Crash soak of the headless spooler: N mails with 1-3 recipients each through a slow loopback
# sink that defers about 4 % of the recipients, the spooler killed with SIGKILL at KILLS random
# moments and started again each time. Prints delivered, lost, duplicated (and how many of
# those belong to the mail in flight at a kill), stuck and corrupted counts.
#
# usage (as root): bench/soak.sh [POSTVANE_BINARY [N [KILLS [DRAW]]]]
#   defaults: build/postvane of this repository, 1000 mails, 30 kills, a draw number (for the
#   random choices) from the clock.
# Environment: SOAK_REPLY_MS (5) and SOAK_DATA_MS (150) slow the sink's replies and the end of
# DATA; SOAK_DEFER (4) is the share of RCPTs answered 451 in percent; SOAK_TIMEOUT (1800)
# bounds the whole run in seconds; SOAK_KEEP=1 keeps the work directory (it is also kept when
# the verdict is FAIL).
#
# It runs in a private network namespace of its own (unshare -n), so the sink on
# 127.0.0.61:2525 never meets a test rig or another soak. It builds nothing.
set -u
export LC_ALL=C

readonly SINK_ADDR=127.0.0.61 SINK_PORT=2525

die() { echo "soak: $*" >&2; exit 1; }

here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${SOAK_IN_NAMESPACE:-}" ]; then
    [ "$(id -u)" = 0 ] || die "run as root (unshare -n and the service mode expect it)"
    export SOAK_IN_NAMESPACE=1
    exec unshare -n /bin/bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi

bin=$(realpath -m "${1:-$here/../build/postvane}")
n=${2:-1000}
kills=${3:-30}
draw=${4:-$(date +%s)}
[[ $n =~ ^[1-9][0-9]*$ && $kills =~ ^[0-9]+$ && $draw =~ ^[0-9]+$ ]] ||
    die "usage: $0 [POSTVANE_BINARY [N [KILLS [DRAW]]]]"
[ -x "$bin" ] || die "$bin missing: build it first"
python=/usr/bin/python3
"$python" -c 'import aiosmtpd' 2>/dev/null || die "python3-aiosmtpd missing"

work=$(mktemp -d /tmp/pvsoak.XXXXXX) || die "no temp dir"
sink_pid=
cleanup() {
    if [ -n "$sink_pid" ]; then kill -TERM "$sink_pid" 2>/dev/null; wait "$sink_pid" 2>/dev/null; fi
    if [ "${SOAK_KEEP:-0}" = 1 ] || [ "${verdict:-1}" != 0 ]; then
        echo "soak: work directory kept: $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$work/spool" "$work/home" "$work/run" "$work/log"
cat >"$work/postvane.start" <<EOF
[Settings]
DefaultSpoolDir=$work/spool/
DefaultExtension=eml
[Spooler]
UpDelay=1
RelayHostName=$SINK_ADDR:$SINK_PORT
RelaySecurity=none
RetryInterval=0
MaxRetryCount=100000
LogFileDir=$work/log/
LogFileName=PVX-year\$-month\$-day\$.csv
WriteSuccessCSVLog=1
WriteErrorCSVLog=1
WriteSuccessNTEventLog=0
WriteErrorNTEventLog=1
EOF

echo "postvane soak: $n mails, $kills kills, draw $draw, $bin ($(nproc) cpus)"
"$python" "$here/soak_helper.py" spool "$work/spool" "$n" "$draw" "$work/manifest" ||
    die "cannot write the spool files"
pairs=$(awk -F'\t' '{ s += NF - 2 } END { print s }' "$work/manifest")

"$python" "$here/soak_sink.py" --listen "$SINK_ADDR:$SINK_PORT" --log "$work/sink.log" \
    --reply-ms "${SOAK_REPLY_MS:-5}" --data-ms "${SOAK_DATA_MS:-150}" \
    --defer "${SOAK_DEFER:-4}" --draw "$draw" >"$work/sink.out" 2>&1 &
sink_pid=$!
for ((i = 0; i < 100; i++)); do
    [ -n "$(ss -Hltn "src $SINK_ADDR:$SINK_PORT")" ] && break
    kill -0 "$sink_pid" 2>/dev/null || break
    sleep 0.05
done
[ -n "$(ss -Hltn "src $SINK_ADDR:$SINK_PORT")" ] || { cat "$work/sink.out" >&2; die "no sink"; }

start=$(date +%s)
"$python" "$here/soak_helper.py" drive "$work" "$bin" "$work/sink.log" "$pairs" "$kills" \
    "$draw" "${SOAK_TIMEOUT:-1800}" || die "the run failed (work directory: $work)"
kill -TERM "$sink_pid" 2>/dev/null; wait "$sink_pid" 2>/dev/null; sink_pid=
echo "wall $(($(date +%s) - start)) s"
"$python" "$here/soak_helper.py" report "$work" "$work/sink.log"
verdict=$?
exit $verdict
