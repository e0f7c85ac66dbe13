# Sourced by the tests of contrib/rsyslog/: a "host" rsyslogd with the forwarding half and a
# "central" rsyslogd with the server half, talking RELP over TLS on loopback in a network
# namespace of the test's own, with certificates that the test makes. The contrib files are
# used as shipped but for what a test must change: the server's name and port, the paths of
# the certificates and of the per-host files, and the retry interval (1 s instead of 10).

need_command rsyslogd rsyslog
need_command openssl openssl
need_command jq jq
need_command ip iproute2
[ -n "$(find /usr/lib -name omrelp.so -print -quit)" ] ||
    skip_or_fail "RELP is not installed (Debian package rsyslog-relp)"
[ -n "$(find /usr/lib -name lmnsd_ossl.so -print -quit)" ] ||
    skip_or_fail "rsyslog's OpenSSL driver is not installed (Debian package rsyslog-openssl)"
[ "$(id -u)" -eq 0 ] || skip_or_fail "needs root: a network namespace of its own"

# The test runs again inside a network namespace where only loopback is up, so that its
# port is nobody else's.
if [ -z "${OMBREX_RSYSLOG_NETNS:-}" ]; then
    unshare -n true 2>/dev/null || skip_or_fail "network namespaces are not available"
    rm -rf "$scratch"
    trap - EXIT
    OMBREX_RSYSLOG_NETNS=1 exec unshare -n bash "$0" "$@"
fi
ip link set lo up

contrib=$OMBREX_SOURCE_DIR/contrib/rsyslog
port=2514
pki=$scratch/pki
mkdir -p "$pki" "$scratch/host/work" "$scratch/central/work" "$scratch/central/files"
chmod 0755 "$scratch"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 2 \
    -subj "/CN=ombrex test CA" 2>/dev/null
for name in central.test host.test; do
    openssl req -newkey rsa:2048 -nodes -keyout "$pki/$name.key" -out "$pki/$name.csr" \
        -subj "/CN=$name" 2>/dev/null
    printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth,clientAuth\n' "$name" \
        >"$pki/$name.ext"
    openssl x509 -req -in "$pki/$name.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" \
        -CAcreateserial -out "$pki/$name.pem" -days 2 -extfile "$pki/$name.ext" 2>/dev/null
done

# Every change must hit: a pattern that no longer matches the shipped file fails the test.
edit() { # FILE OUTPUT SED-EXPRESSION...
    local file=$1 output=$2 expression
    shift 2
    cp "$file" "$output"
    for expression in "$@"; do
        sed -i.before "$expression" "$output"
        ! cmp -s "$output" "$output.before" || fail "no match in $(basename "$file"): $expression"
    done
    rm -f "$output.before"
}
edit "$contrib/60-ombrex-forward.conf" "$scratch/host/forward.conf" \
    's/target="logs\.example\.org"/target="127.0.0.1"/' \
    's/tls\.permittedPeer=\["logs\.example\.org"\]/tls.permittedPeer=["central.test"]/' \
    "s#/etc/ombrex/tls/ca.pem#$pki/ca.pem#" \
    "s#/etc/ombrex/tls/host.pem#$pki/host.test.pem#" \
    "s#/etc/ombrex/tls/host.key#$pki/host.test.key#" \
    's/action.resumeInterval="10"/action.resumeInterval="1"/'
edit "$contrib/60-ombrex-central.conf" "$scratch/central/central.conf" \
    's/tls\.permittedPeer=\["\*\.example\.org"\]/tls.permittedPeer=["host.test"]/' \
    "s#/etc/ombrex/tls/ca.pem#$pki/ca.pem#" \
    "s#/etc/ombrex/tls/central.pem#$pki/central.test.pem#" \
    "s#/etc/ombrex/tls/central.key#$pki/central.test.key#" \
    "s#/var/log/ombrex/#$scratch/central/files/#"
grep -q "port=\"$port\"" "$scratch/host/forward.conf" "$scratch/central/central.conf" ||
    fail "the halves do not name port $port"

cat >"$scratch/central/rsyslog.conf" <<CONF
global(workDirectory="$scratch/central/work")
include(file="$scratch/central/central.conf")
CONF
# The host's socket input as the forwarding half asks for it, on a socket of the test's own.
cat >"$scratch/host/rsyslog.conf" <<CONF
global(workDirectory="$scratch/host/work" localHostname="host.test")
module(load="imuxsock" SysSock.Use="off")
input(type="imuxsock" Socket="$scratch/host/log.sock" Annotate="on" ParseTrusted="on")
include(file="$scratch/host/forward.conf")
CONF
host_socket=$scratch/host/log.sock
central_file=$scratch/central/files/host.test.json

daemons=()
stop_daemons() {
    local pid
    for pid in "${daemons[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    done
    rm -rf "$scratch"
}
trap stop_daemons EXIT

# Waits (bounded, 0.1 s steps) until the command succeeds.
wait_until() { # TENTHS COMMAND...
    local tenths=$1 _
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
listening() { ss -Hltn "sport = :$port" | grep -q .; }

# start_central / start_host: set central_pid / host_pid.
start_central() {
    rsyslogd -n -f "$scratch/central/rsyslog.conf" -i "$scratch/central/pid" \
        >>"$scratch/central/out" 2>&1 &
    central_pid=$!
    daemons+=("$central_pid")
    wait_until 100 listening || fail "the central daemon did not start: $(cat "$scratch/central/out")"
}
start_host() {
    rsyslogd -n -f "$scratch/host/rsyslog.conf" -i "$scratch/host/pid" >>"$scratch/host/out" 2>&1 &
    host_pid=$!
    daemons+=("$host_pid")
    wait_until 100 test -S "$host_socket" ||
        fail "the host's daemon did not start: $(cat "$scratch/host/out")"
    chmod 0666 "$host_socket"
}

# The library's configuration: records to the host's socket, in FORMAT.
configure_library() { # FORMAT
    printf '[ombrex]\ndestination = syslog\nsyslog_socket = %s\nformat = %s\n' \
        "$host_socket" "$1" >"$OMBREX_TEST_CONFIG"
    chmod 0644 "$OMBREX_TEST_CONFIG"
}
