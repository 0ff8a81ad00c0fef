#!/bin/bash
# Create a self-signed certificate for the TLS test servers (once; idempotent).
# Output: $TESTRIG_STATE/tls/cert.pem and key.pem.  The certificate names mx1.a.test,
# mx2.a.test, relay.test, submit.test, localhost and the IPs 127.0.0.2, 127.0.0.3 and 127.0.0.7
# (so clients that verify can use it as their CA file); it is its own CA.
set -u
. "$(dirname "$0")/../lib.sh"
dir=$TESTRIG_STATE/tls
mkdir -p "$dir"
if [ -s "$dir/cert.pem" ] && [ -s "$dir/key.pem" ]; then exit 0; fi
command -v openssl >/dev/null || rig_die "openssl not installed"
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 \
    -keyout "$dir/key.pem" -out "$dir/cert.pem" -subj "/CN=mx1.a.test" \
    -addext "subjectAltName=DNS:mx1.a.test,DNS:mx2.a.test,DNS:relay.test,DNS:submit.test,DNS:localhost,IP:127.0.0.2,IP:127.0.0.3,IP:127.0.0.7" \
    -addext "basicConstraints=critical,CA:TRUE" >/dev/null 2>&1 || rig_die "openssl req failed"
chmod 600 "$dir/key.pem"
rig_log "tls: self-signed certificate in $dir/cert.pem"
