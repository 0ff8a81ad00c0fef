#!/bin/bash
# Start the whole loopback test rig (needs root: ports 25/53, danted's password check).
# Idempotent: components already running are left alone.  On any failure everything is torn
# down again and the exit status is 1.
# env: TESTRIG_STATE (default ${TMPDIR:-/tmp}/testrig)
#      RIG_SINK=auto|1|0        smtp-sink instances (needs package postfix); auto = if installed
#      RIG_MICROSOCKS=auto|1|0  microsocks instance; auto = if installed
# Writes $TESTRIG_STATE/rig.env (shell syntax) with every address, port and directory.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

[ "$(id -u)" = 0 ] || rig_die "rig-up.sh must run as root (ports 25 and 53, danted user check)"
[ -e "$TESTRIG_STATE" ] && [ ! -f "$TESTRIG_STATE/.testrig-state" ] && [ -n "$(ls -A "$TESTRIG_STATE")" ] &&
    rig_die "$TESTRIG_STATE exists, is not empty and was not made by rig-up.sh"
mkdir -p "$TESTRIG_STATE" && touch "$TESTRIG_STATE/.testrig-state"

want() {  # want VAR BINARY -> 0 if the optional component should start
    local v=${!1:-auto}
    case $v in
    0) return 1 ;;
    1) [ -x "$2" ] || rig_die "$1=1 but $2 is not installed"; return 0 ;;
    *) [ -x "$2" ] ;;
    esac
}

fail() { rig_log "rig-up failed: $*; tearing down"; RIG_KEEP_STATE=1 "$here/rig-down.sh"; exit 1; }

# --- DNS: dnsmasq on 127.0.0.10 port 53 and (second instance) port 10053; both forward
# servfail.test to the third (dns-up, 127.0.0.12 port 10053) and answer it SERVFAIL
DNS_ADDR=127.0.0.12 DNS_PORT=10053 DNS_CONF="$here/dns/upstream.conf" \
                                   "$here/dns/dns.sh" start dns-up || fail dns-up
DNS_ADDR=127.0.0.10 DNS_PORT=53    "$here/dns/dns.sh" start dns    || fail dns
DNS_ADDR=127.0.0.10 DNS_PORT=10053 "$here/dns/dns.sh" start dns-hi || fail dns-hi

# --- SMTP: mx1 (STARTTLS offered) and mx2 (plain), each on port 25 and 10025
"$here/smtp/smtp.sh" start mx1.a.test --tls 127.0.0.2:25 127.0.0.2:10025 || fail mx1
"$here/smtp/smtp.sh" start mx2.a.test       127.0.0.3:25 127.0.0.3:10025 || fail mx2
# relay: AUTH required, offered over TLS only: STARTTLS on 587, implicit TLS on 465
RELAY_USER=relayuser RELAY_PASS=relay-secret-1
"$here/smtp/smtp.sh" start relay --tls --auth "$RELAY_USER:$RELAY_PASS" 127.0.0.7:587 \
    --implicit-tls 127.0.0.7:465 || fail relay
# no8bit: offers no 8BITMIME; badtls: offers STARTTLS, but no TLS handshake can succeed
"$here/smtp/smtp.sh" start no8bit.test --no-8bitmime 127.0.0.8:25 || fail no8bit
"$here/smtp/smtp.sh" start badtls.test --broken-starttls 127.0.0.9:25 || fail badtls

sink=0
if want RIG_SINK /usr/sbin/smtp-sink; then
    "$here/smtp/sink.sh" start sink.test 127.0.0.5:25 || fail sink
    "$here/smtp/sink.sh" start busy.test 127.0.0.6:25 -Q CONNECT || fail busy   # 421 at connect
    sink=1
fi

# --- SOCKS
"$here/socks/socks.sh" start noauth danted-noauth 127.0.0.20:1080 127.0.0.30 || fail socks-noauth
"$here/socks/socks.sh" start auth   danted-auth   127.0.0.20:1081 127.0.0.31 || fail socks-auth
micro=0
if want RIG_MICROSOCKS /usr/bin/microsocks; then
    "$here/socks/socks.sh" start micro microsocks 127.0.0.20:1082 127.0.0.32 || fail microsocks
    micro=1
fi

cat >"$TESTRIG_STATE/rig.env" <<ENV
# written by rig-up.sh; source it from a shell or parse KEY=VALUE lines
TESTRIG_STATE=$TESTRIG_STATE
RIG_DNS_SERVER=127.0.0.10
RIG_DNS_PORT=53
RIG_DNS_HI_SERVER=127.0.0.10:10053
RIG_DNS_UPSTREAM=127.0.0.12:10053
RIG_DNS_DEAD_SERVER=127.0.0.11
RIG_MX1=127.0.0.2
RIG_MX2=127.0.0.3
RIG_SMTP_PORT=25
RIG_SMTP_HI_PORT=10025
RIG_MX1_MAILDIR=$TESTRIG_STATE/smtp-mx1.a.test/mail
RIG_MX2_MAILDIR=$TESTRIG_STATE/smtp-mx2.a.test/mail
RIG_MX1_TRANSCRIPT=$TESTRIG_STATE/smtp-mx1.a.test/transcript.log
RIG_MX2_TRANSCRIPT=$TESTRIG_STATE/smtp-mx2.a.test/transcript.log
RIG_TLS_CERT=$TESTRIG_STATE/tls/cert.pem
RIG_RELAY_HOST=127.0.0.7
RIG_RELAY_AUTH=127.0.0.7:587
RIG_RELAY_TLS=127.0.0.7:465
RIG_RELAY_USER=$RELAY_USER
RIG_RELAY_PASS=$RELAY_PASS
RIG_RELAY_MAILDIR=$TESTRIG_STATE/smtp-relay/mail
RIG_RELAY_TRANSCRIPT=$TESTRIG_STATE/smtp-relay/transcript.log
RIG_NO8BIT=127.0.0.8
RIG_NO8BIT_MAILDIR=$TESTRIG_STATE/smtp-no8bit.test/mail
RIG_BADTLS=127.0.0.9
RIG_BADTLS_MAILDIR=$TESTRIG_STATE/smtp-badtls.test/mail
RIG_DEAD_HOST=127.0.0.4
RIG_SINK_UP=$sink
RIG_SINK=127.0.0.5:25
RIG_SINK_DUMPDIR=$TESTRIG_STATE/sink-sink.test/dump
RIG_BUSY=127.0.0.6:25
RIG_SOCKS4=127.0.0.20:1080
RIG_SOCKS5_NOAUTH=127.0.0.20:1080
RIG_SOCKS5_NOAUTH_SOURCE=127.0.0.30
RIG_SOCKS5_AUTH=127.0.0.20:1081
RIG_SOCKS5_AUTH_SOURCE=127.0.0.31
RIG_SOCKS_USER=${SOCKS_USER:-rigsocks}
RIG_SOCKS_PASS=${SOCKS_PASS:-rig-secret-1}
RIG_MICROSOCKS_UP=$micro
RIG_MICROSOCKS=127.0.0.20:1082
RIG_MICROSOCKS_SOURCE=127.0.0.32
ENV
rig_log "rig is up; settings in $TESTRIG_STATE/rig.env"
