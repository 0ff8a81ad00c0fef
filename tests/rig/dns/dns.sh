#!/bin/bash
# dnsmasq on one loopback address/port, serving the records of one conf file (dns/zone.conf).
# usage: dns.sh start|stop|status [NAME]   (NAME default "dns"; several instances may run)
# env:   DNS_ADDR (default 127.0.0.10)  DNS_PORT (default 53)  TESTRIG_STATE
#        DNS_CONF (default dns/zone.conf; dns/upstream.conf for the instance zone.conf forwards to)
set -u
. "$(dirname "$0")/../lib.sh"

cmd=${1:-}; name=${2:-dns}
addr=${DNS_ADDR:-127.0.0.10}; port=${DNS_PORT:-53}
dir=$TESTRIG_STATE/$name; pidfile=$dir/dnsmasq.pid; log=$dir/dnsmasq.log
# The conf file is part of the command line that identifies the process; stop and status find it
# in $dir/conf, which start writes.
conf=${DNS_CONF:-$(cat "$dir/conf" 2>/dev/null || echo "$TESTRIG_HOME/dns/zone.conf")}
pat="dnsmasq --conf-file=$conf "

case $cmd in
start)
    is_loopback "$addr" || rig_die "$name: $addr is not a loopback address"
    command -v dnsmasq >/dev/null || rig_die "dnsmasq not installed (apt-get install dnsmasq-base)"
    mkdir -p "$dir"
    if running "$pidfile" "$pat"; then rig_log "$name: already running (pid $(read_pid "$pidfile"))"; exit 0; fi
    port_free udp "$addr" "$port" && port_free tcp "$addr" "$port" || rig_die "$name: port busy"
    echo "$conf" >"$dir/conf"
    # --conf-file replaces /etc/dnsmasq.conf (and with it /etc/dnsmasq.d); -k = stay in foreground;
    # --pid-file keeps it away from /run/dnsmasq.pid; --log-facility=- logs to stderr.
    dnsmasq --conf-file="$conf" --keep-in-foreground \
        --listen-address="$addr" --port="$port" --pid-file="$pidfile" \
        --log-queries --log-facility=- </dev/null >>"$log" 2>&1 &
    pid=$!
    echo "$pid" >"$pidfile"
    if ! wait_listen udp "$addr" "$port" "$pid" "$pat"; then
        tail -n 5 "$log" >&2; stop_pidfile "$pidfile" "$pat" "$name"; rig_die "$name: did not come up"
    fi
    rig_log "$name: dnsmasq pid $pid on $addr port $port (log $log)"
    ;;
stop)   stop_pidfile "$pidfile" "$pat" "$name" ;;
status) if running "$pidfile" "$pat"; then echo "$name: running (pid $(read_pid "$pidfile"))"; else echo "$name: stopped"; exit 3; fi ;;
*) echo "usage: $0 start|stop|status [NAME]" >&2; exit 2 ;;
esac
