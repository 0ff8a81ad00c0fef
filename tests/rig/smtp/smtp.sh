#!/bin/bash
# Scripted aiosmtpd server (smtp_server.py) on one or more loopback ADDR:PORT.
# usage: smtp.sh start NAME [--tls] [--auth USER:PASS] [--implicit-tls ADDR:PORT] ADDR:PORT ...
#        smtp.sh stop NAME | status NAME
# State: $TESTRIG_STATE/smtp-NAME/{pid,transcript.log,mail/}.  --tls offers STARTTLS with the
# certificate made by mkcert.sh.  --implicit-tls ADDR:PORT (repeatable) listens with TLS from the
# first byte (port 465 style) with the same certificate; it implies --tls for the other ADDR:PORTs.
# --no-8bitmime and --broken-starttls (implies --tls) go to smtp_server.py as they are.
# --auth makes the server require AUTH PLAIN/LOGIN with these credentials, offered over TLS only.
# SMTP_PYTHON overrides the interpreter (default /usr/bin/python3: Debian's python3-aiosmtpd is
# not visible to a pyenv/venv python earlier in PATH).
set -u
. "$(dirname "$0")/../lib.sh"

cmd=${1:-}; name=${2:-}
[ -n "$name" ] || { echo "usage: $0 start NAME [--tls] [--auth USER:PASS] [--implicit-tls ADDR:PORT] ADDR:PORT... | stop NAME | status NAME" >&2; exit 2; }
shift 2
dir=$TESTRIG_STATE/smtp-$name; pidfile=$dir/pid; log=$dir/transcript.log
pat="smtp_server.py --name $name "
py=${SMTP_PYTHON:-/usr/bin/python3}

case $cmd in
start)
    tls=(); listens=(); tls_listens=(); auth=(); extra=()
    while [ $# -gt 0 ]; do
        case $1 in
        --tls)  tls=(--tls-cert "$TESTRIG_STATE/tls/cert.pem" --tls-key "$TESTRIG_STATE/tls/key.pem") ;;
        --no-8bitmime) extra+=(--no-8bitmime) ;;
        --broken-starttls) extra+=(--broken-starttls)
                tls=(--tls-cert "$TESTRIG_STATE/tls/cert.pem" --tls-key "$TESTRIG_STATE/tls/key.pem") ;;
        --auth) [[ ${2:-} == ?*:?* ]] || rig_die "$name: --auth needs USER:PASS"; auth=(--auth "$2"); shift ;;
        --implicit-tls)
                [[ ${2:-} == *:* ]] || rig_die "$name: --implicit-tls needs ADDR:PORT"
                is_loopback "${2%:*}" || rig_die "$name: $2 is not on loopback"
                tls_listens+=("$2"); shift ;;
        *:*)    is_loopback "${1%:*}" || rig_die "$name: $1 is not on loopback"; listens+=("$1") ;;
        *)      rig_die "$name: bad argument $1" ;;
        esac
        shift
    done
    [ ${#listens[@]} -gt 0 ] || [ ${#tls_listens[@]} -gt 0 ] || rig_die "$name: no ADDR:PORT given"
    if [ ${#tls[@]} -gt 0 ] || [ ${#tls_listens[@]} -gt 0 ]; then
        "$TESTRIG_HOME/smtp/mkcert.sh" || exit 1
        tls=(--tls-cert "$TESTRIG_STATE/tls/cert.pem" --tls-key "$TESTRIG_STATE/tls/key.pem")
    fi
    "$py" -c 'import aiosmtpd' 2>/dev/null || rig_die "$py cannot import aiosmtpd (apt-get install python3-aiosmtpd)"
    mkdir -p "$dir/mail"
    if running "$pidfile" "$pat"; then rig_log "smtp $name: already running (pid $(read_pid "$pidfile"))"; exit 0; fi
    all=("${listens[@]}" "${tls_listens[@]}")
    for a in "${all[@]}"; do port_free tcp "${a%:*}" "${a##*:}" || rig_die "smtp $name: port busy"; done
    largs=()
    for a in "${listens[@]}"; do largs+=(--listen "$a"); done
    for a in "${tls_listens[@]}"; do largs+=(--listen-tls "$a"); done
    "$py" "$TESTRIG_HOME/smtp/smtp_server.py" --name "$name" "${largs[@]}" "${tls[@]}" "${auth[@]}" "${extra[@]}" \
        --maildir "$dir/mail" --transcript </dev/null >>"$log" 2>&1 &
    pid=$!
    echo "$pid" >"$pidfile"
    for a in "${all[@]}"; do
        if ! wait_listen tcp "${a%:*}" "${a##*:}" "$pid" "$pat"; then
            tail -n 5 "$log" >&2; stop_pidfile "$pidfile" "$pat" "smtp $name"; rig_die "smtp $name: did not come up on $a"
        fi
    done
    rig_log "smtp $name: pid $pid on ${listens[*]}${tls:+ (STARTTLS)}${tls_listens:+ ${tls_listens[*]} (implicit TLS)}${auth:+ (AUTH required)} (mail in $dir/mail)"
    ;;
stop)   stop_pidfile "$pidfile" "$pat" "smtp $name" ;;
status) if running "$pidfile" "$pat"; then echo "smtp $name: running (pid $(read_pid "$pidfile"))"; else echo "smtp $name: stopped"; exit 3; fi ;;
*) echo "usage: $0 start NAME [--tls] [--auth USER:PASS] [--implicit-tls ADDR:PORT] ADDR:PORT... | stop NAME | status NAME" >&2; exit 2 ;;
esac
