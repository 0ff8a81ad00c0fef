#!/bin/bash
# Quick check that every part of a running rig answers as the tests expect (dig, swaks, curl).
# Prints one line per check and "N passed, N failed"; exits 1 when a check failed.  The mail it
# sends carries "X-Rig-Smoke:" and is deleted again, so that the tests find only their own.
# env: TESTRIG_STATE (the rig's state directory, with rig.env)
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
[ -r "$TESTRIG_STATE/rig.env" ] || rig_die "no $TESTRIG_STATE/rig.env: is the rig up?"
. "$TESTRIG_STATE/rig.env"

passed=0 failed=0
out=$TESTRIG_STATE/smoke.out
# check NAME REGEX COMMAND...: the command's output (stdout and stderr) must match REGEX
check() {
    local name=$1 re=$2; shift 2
    "$@" >"$out" 2>&1
    if grep -Eq -- "$re" "$out"; then
        passed=$((passed + 1)); echo "ok   $name"
    else
        failed=$((failed + 1)); echo "FAIL $name: no /$re/ in the output of: $*"; sed 's/^/     | /' "$out" | tail -n 15
    fi
}
dig_() { dig +tries=1 +time=2 "$@" | tr '\n' ' '; }  # one line: a pattern can span the sections
mail() {  # mail SERVER:PORT [swaks options]
    local server=$1; shift
    swaks --server "$server" --from smoke@src.test --timeout 10 --helo smoke.test \
        --add-header "X-Rig-Smoke: yes" "$@"
}

# DNS: the records and answers the tests rely on, on both ports
for s in "@$RIG_DNS_SERVER" "@${RIG_DNS_HI_SERVER%:*} -p ${RIG_DNS_HI_SERVER##*:}"; do
    # shellcheck disable=SC2086
    check "dns $s MX a.test"        'a\.test\..*MX.*10 mx1\.a\.test' dig_ $s MX a.test
    # shellcheck disable=SC2086
    check "dns $s nullmx.test"      'IN[[:space:]]+MX[[:space:]]+0 \. ' dig_ $s MX nullmx.test
    # shellcheck disable=SC2086
    check "dns $s servfail.test"    'status: SERVFAIL' dig_ $s MX servfail.test
    # shellcheck disable=SC2086
    check "dns $s nx.test"          'status: NXDOMAIN' dig_ $s MX nx.test
    # shellcheck disable=SC2086
    check "dns $s b.test no MX"     'status: NOERROR.*ANSWER: 0,' dig_ $s MX b.test
    # shellcheck disable=SC2086
    check "dns $s submit.test"      'submit\.test\..*A[[:space:]]+127\.0\.0\.7' dig_ $s A submit.test
done

ca=(--tls-verify --tls-ca-path "$RIG_TLS_CERT")
check "mx1 STARTTLS, per-recipient answers" '<~\*? *550 5\.1\.1.*' \
    mail "$RIG_MX1:$RIG_SMTP_PORT" --tls "${ca[@]}" --to ok@a.test,reject@a.test
check "mx2 plain on the high port" 'queued as mx2\.a\.test' \
    mail "$RIG_MX2:$RIG_SMTP_HI_PORT" --to ok@a.test

user=(--auth-user "$RIG_RELAY_USER" --auth-password "$RIG_RELAY_PASS")
check "relay: MAIL without AUTH" '530 5\.7\.0' mail "$RIG_RELAY_AUTH" --to ok@a.test
check "relay: no AUTH before STARTTLS" 'did not advertise authentication' \
    mail "$RIG_RELAY_AUTH" --auth PLAIN "${user[@]}" --to ok@a.test
check "relay: STARTTLS + AUTH PLAIN" 'queued as relay-' \
    mail "$RIG_RELAY_AUTH" --tls "${ca[@]}" --auth PLAIN "${user[@]}" --to ok@a.test
check "relay: implicit TLS + AUTH LOGIN" 'queued as relay-' \
    mail "$RIG_RELAY_TLS" --tlsc "${ca[@]}" --auth LOGIN "${user[@]}" --to ok@a.test
check "relay: wrong password" '535 5\.7\.8' \
    mail "$RIG_RELAY_TLS" --tlsc --auth LOGIN --auth-user "$RIG_RELAY_USER" --auth-password wrong --to ok@a.test
check "relay: AUTH recorded" '"auth_user": "'"$RIG_RELAY_USER"'"' cat "$RIG_RELAY_MAILDIR"/*.json

msg=$TESTRIG_STATE/smoke.msg
printf 'Subject: smoke\r\nX-Rig-Smoke: yes\r\n\r\nthrough a proxy\r\n' >"$msg"
via() {  # via CURL_PROXY_OPTIONS... : one mail to mx2, then the peer the server recorded
    curl -sS --max-time 10 "$@" "smtp://$RIG_MX2:$RIG_SMTP_PORT" --mail-from smoke@src.test \
        --mail-rcpt ok@a.test --upload-file "$msg" &&
        grep -h '"peer"' "$(ls -t "$RIG_MX2_MAILDIR"/*.json | head -n1)"
}
check "socks4 (danted)" "\"peer\": \"$RIG_SOCKS5_NOAUTH_SOURCE:" via --socks4 "$RIG_SOCKS4"
check "socks5 user/password (danted)" "\"peer\": \"$RIG_SOCKS5_AUTH_SOURCE:" \
    via --socks5 "$RIG_SOCKS5_AUTH" --proxy-user "$RIG_SOCKS_USER:$RIG_SOCKS_PASS"
if [ "$RIG_MICROSOCKS_UP" = 1 ]; then
    check "socks5 user/password (microsocks)" "\"peer\": \"$RIG_MICROSOCKS_SOURCE:" \
        via --socks5 "$RIG_MICROSOCKS" --proxy-user "$RIG_SOCKS_USER:$RIG_SOCKS_PASS"
fi
if [ "$RIG_SINK_UP" = 1 ]; then
    check "busy.test answers 421" '421' mail "$RIG_BUSY" --to ok@busy.test
fi

rm -f "$out" "$msg"
for eml in "$TESTRIG_STATE"/smtp-*/mail/*.eml "$TESTRIG_STATE"/smtp-*/mail/rejected/*.eml; do
    [ -f "$eml" ] && grep -q '^X-Rig-Smoke:' "$eml" && rm -f "$eml" "${eml%.eml}.json"
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
