#!/bin/bash
# Stop everything rig-up.sh started (by pid file), remove the SOCKS test user it created, and
# delete $TESTRIG_STATE (set RIG_KEEP_STATE=1 to keep logs and received mail).  Idempotent.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

"$here/socks/socks.sh" stop micro
"$here/socks/socks.sh" stop auth
"$here/socks/socks.sh" stop noauth
"$here/smtp/sink.sh" stop busy.test
"$here/smtp/sink.sh" stop sink.test
"$here/smtp/smtp.sh" stop badtls.test
"$here/smtp/smtp.sh" stop no8bit.test
"$here/smtp/smtp.sh" stop relay
"$here/smtp/smtp.sh" stop mx2.a.test
"$here/smtp/smtp.sh" stop mx1.a.test
"$here/dns/dns.sh" stop dns-hi
"$here/dns/dns.sh" stop dns
"$here/dns/dns.sh" stop dns-up

if [ "${RIG_KEEP_STATE:-0}" != 1 ] && [ -d "$TESTRIG_STATE" ]; then
    # only a directory that rig-up.sh marked as its own
    if [ -f "$TESTRIG_STATE/.testrig-state" ]; then
        rm -rf -- "$TESTRIG_STATE" && rig_log "removed $TESTRIG_STATE"
    else
        rig_log "not deleting $TESTRIG_STATE: no .testrig-state marker (not made by rig-up.sh)"
    fi
fi
rig_log "rig is down"
