#!/usr/bin/env bash
# The rsyslog halves of contrib/ are valid, forward the library's records and only those, and
# tell a record that the kernel proves from one that a user made up: a "host" rsyslogd with
# 60-ombrex-forward.conf receives the records, a "central" rsyslogd with
# 60-ombrex-central.conf writes them to the host's JSON file (see rsyslog.sh). Another user
# sends, with logger, a record that claims to be root's: it arrives marked verified "no",
# with that user's kernel credentials, while the library's own records arrive verified "yes".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
need_command logger bsdutils
need_command setpriv util-linux
source "$here/rsyslog.sh"

for half in host/forward.conf central/central.conf; do
    printf 'global(workDirectory="%s")\ninclude(file="%s")\n' "$scratch/${half%%/*}/work" \
        "$scratch/$half" >"$scratch/check.conf"
    rsyslogd -N1 -f "$scratch/check.conf" >"$scratch/check.log" 2>&1 ||
        fail "rsyslogd rejects $half: $(cat "$scratch/check.log")"
    if grep -qi 'error' "$scratch/check.log"; then
        fail "rsyslogd complains about $half: $(cat "$scratch/check.log")"
    fi
done

start_central
start_host
python=/usr/bin/python3
[ -x "$python" ] || skip_or_fail "python3 is not installed (Debian package python3)"

logger -u "$host_socket" -t other "not an execution record"
for format in kv json; do
    configure_library "$format"
    LD_PRELOAD=$OMBREX_TEST_LIBRARY_FILE bash -c "/bin/true forwarded-$format; :"
    # posix_spawn: the caller sends the record, and its pid is the record's ppid.
    LD_PRELOAD=$OMBREX_TEST_LIBRARY_FILE "$python" -c \
        "import os; os.waitpid(os.posix_spawn('/bin/true', ['true', 'spawned-$format'], {}), 0)"
done
rm -f "$OMBREX_TEST_CONFIG"
# Records that another user makes up: root's, in each format, and their own with a second uid.
setpriv --reuid 65534 --regid 65534 --clear-groups logger -u "$host_socket" -t ombrex \
    -p authpriv.info 'call=execve time=2026-12-10T00:00:00.000000Z pid=1 ppid=0 auid=unset ses=unset uid=0 euid=0 gid=0 egid=0 tty=none cwd="/" exe="/usr/bin/bash" file="/usr/bin/rm" argc=2 arg0="rm" arg1="forged-kv"'
setpriv --reuid 65534 --regid 65534 --clear-groups logger -u "$host_socket" -t ombrex \
    -p authpriv.info '{"call":"execve","time":"2026-12-10T00:00:00.000000Z","pid":1,"ppid":0,"auid":null,"ses":null,"uid":0,"euid":0,"gid":0,"egid":0,"tty":"none","cwd":"/","exe":"/usr/bin/bash","file":"/usr/bin/rm","argc":2,"arg0":"rm","arg1":"forged-json"}'
setpriv --reuid 65534 --regid 65534 --clear-groups bash -c 'exec logger -u "$1" -t ombrex \
    "{\"call\":\"execve\",\"time\":\"t\",\"pid\":$$,\"ppid\":0,\"auid\":null,\"ses\":null,\"uid\":65534,\"euid\":0,\"gid\":0,\"egid\":0,\"tty\":\"none\",\"cwd\":\"/\",\"exe\":\"/x\",\"file\":\"/x\",\"argc\":1,\"arg0\":\"forged-twice\",\"uid\":0}"' \
    _ "$host_socket"

has_all() { [ -s "$central_file" ] && [ "$(wc -l <"$central_file")" -ge 7 ]; }
wait_until 300 has_all ||
    fail "the records did not reach the server: $(cat "$central_file" "$scratch"/*/out 2>/dev/null)"
sleep 0.5

jq -e . "$central_file" >/dev/null || fail "a line at the server is not JSON: $(cat "$central_file")"
check() { # WHAT SELECTION EXPECTED
    expect_equal "$(jq -c "select($2) | [.verified, .sender_uid]" "$central_file")" "$3" "$1"
}
check "the library's key=value record" '.record? // "" | test("arg1=\"forwarded-kv\"")' '["yes",0]'
check "the library's JSON record" '.arg1? == "forwarded-json"' '["yes",0]'
check "posix_spawn, key=value" '.record? // "" | test("call=posix_spawn .*arg1=\"spawned-kv\"")' \
    '["yes",0]'
check "posix_spawn, JSON" '.call? == "posix_spawn" and .arg1 == "spawned-json"' '["yes",0]'
check "a key=value record forged by another user" '.record? // "" | test("forged-kv")' \
    '["no",65534]'
check "a JSON record forged by another user" '.arg1? == "forged-json"' \
    '["no",65534]'
check "a JSON record with a second uid" '.message? // "" | test("forged-twice")' '["no",65534]'
# The sender is the process that wrote the record: pid for exec, ppid for posix_spawn.
expect_equal "$(jq -c 'select(.arg1? == "forwarded-json") | .sender_pid == .pid' "$central_file")" \
    true "the JSON record's sender is its pid"
expect_equal "$(jq -c 'select(.call? == "posix_spawn") | .sender_pid == .ppid' "$central_file")" \
    true "the posix_spawn record's sender is its ppid"
kv=$(jq -r 'select(.record? // "" | test("forwarded-kv")) | "\(.sender_pid) \(.record)"' \
    "$central_file")
[[ $kv =~ ^([0-9]+)\ call=execve\ .*\ pid=([0-9]+)\ ppid= ]] && [ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ] ||
    fail "the key=value record's sender is not its pid: $kv"
if grep -q 'not an execution record' "$central_file"; then
    fail "a message that is not a record was forwarded"
fi
# Each side proves itself with a certificate: neither daemon complains of a missing one, or
# of anything else.
for side in host central; do
    if grep -Eiq 'not set|error' "$scratch/$side/out"; then
        fail "the $side daemon complains: $(cat "$scratch/$side/out")"
    fi
done
echo "rsyslog forwarding: ok"
