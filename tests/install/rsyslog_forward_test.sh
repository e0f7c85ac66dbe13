#!/usr/bin/env bash
# The rsyslog snippet of contrib/ is valid as shipped, and forwards the library's records,
# and only those, to a central server. Two rsyslogd of this test stand in for a host's
# daemon and the central server, on a private socket and on loopback; the snippet's TLS
# settings are taken out for that, as the test has no certificates.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

need_command rsyslogd rsyslog
need_command logger bsdutils
snippet=$OMBREX_SOURCE_DIR/contrib/rsyslog/60-ombrex-forward.conf

printf 'include(file="%s")\n' "$snippet" >"$scratch/check.conf"
rsyslogd -N1 -f "$scratch/check.conf" >"$scratch/check.log" 2>&1 ||
    fail "rsyslogd rejects the snippet: $(cat "$scratch/check.log")"

pids=()
stop_daemons() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    done
    rm -rf "$scratch"
}
trap stop_daemons EXIT

# Waits (bounded) until a file exists and holds a line matching the pattern.
wait_for() { # file, pattern
    for _ in $(seq 100); do
        if [ -s "$1" ] && grep -q -- "$2" "$1"; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

mkdir -p "$scratch/server" "$scratch/host"
cat >"$scratch/server.conf" <<CONF
global(workDirectory="$scratch/server")
module(load="imtcp")
input(type="imtcp" address="127.0.0.1" port="0" listenPortFileName="$scratch/port")
template(name="seen" type="string" string="%programname% %syslogfacility-text% %msg%\n")
action(type="omfile" file="$scratch/central.log" template="seen")
CONF
rsyslogd -n -i "$scratch/server.pid" -f "$scratch/server.conf" 2>"$scratch/server.err" &
pids+=($!)
wait_for "$scratch/port" '^[0-9]' || fail "the server did not start: $(cat "$scratch/server.err")"
port=$(cat "$scratch/port")

sed -e 's/target="logs\.example\.org"/target="127.0.0.1"/' -e "s/port=\"6514\"/port=\"$port\"/" \
    -e '/StreamDriver/d' -e '/DefaultNetstreamDriverCAFile/d' "$snippet" >"$scratch/forward.conf"
grep -q 'target="127.0.0.1"' "$scratch/forward.conf" || fail "the snippet's target was not found"
cat >"$scratch/host.conf" <<CONF
global(workDirectory="$scratch/host")
module(load="imuxsock" SysSock.Use="off")
input(type="imuxsock" Socket="$scratch/log.sock")
include(file="$scratch/forward.conf")
CONF
rsyslogd -n -i "$scratch/host.pid" -f "$scratch/host.conf" 2>"$scratch/host.err" &
pids+=($!)
for _ in $(seq 100); do
    [ -S "$scratch/log.sock" ] && break
    sleep 0.1
done
[ -S "$scratch/log.sock" ] || fail "the host's daemon did not start: $(cat "$scratch/host.err")"

logger -u "$scratch/log.sock" -t other "not an execution record"
# The tests' copy of the library reads this file only when root owns it.
[ "$(id -u)" -eq 0 ] || skip_or_fail "needs root to write the library's configuration file"
need_command jq jq
# One record in each format.
for format in kv json; do
    printf '[ombrex]\ndestination = syslog\nsyslog_socket = %s\nformat = %s\n' \
        "$scratch/log.sock" "$format" >"$OMBREX_TEST_CONFIG"
    chmod 0644 "$OMBREX_TEST_CONFIG"
    LD_PRELOAD=$OMBREX_TEST_LIBRARY_FILE bash -c "/bin/true forwarded-$format; :"
done
rm -f "$OMBREX_TEST_CONFIG"
wait_for "$scratch/central.log" 'forwarded-json' ||
    fail "the records did not reach the server: $(cat "$scratch/central.log" "$scratch/host.err" 2>/dev/null)"
grep -q '^ombrex authpriv *call=execve .* file="/bin/true" argc=2 arg0="/bin/true" arg1="forwarded-kv"' \
    "$scratch/central.log" || fail "unexpected key=value record at the server: $(cat "$scratch/central.log")"
json=$(sed -n 's/^ombrex authpriv *\({.*"forwarded-json".*}\)$/\1/p' "$scratch/central.log")
[ "$(jq -c '[.call, .file, .argc, .arg0, .arg1]' <<<"$json" 2>&1)" = \
    '["execve","/bin/true",2,"/bin/true","forwarded-json"]' ] ||
    fail "unexpected JSON record at the server: $(cat "$scratch/central.log")"
if grep -q 'not an execution record' "$scratch/central.log"; then
    fail "the snippet forwarded a message that is not a record"
fi
echo "rsyslog forwarding: ok"
