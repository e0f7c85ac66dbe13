#!/usr/bin/env bash
# The system-log path against a real rsyslogd that the test starts on a socket of its own:
# the daemon must parse each record into tag, facility, severity, process id and message.
. "$(dirname "$0")/lib.sh"

rsyslogd=$(command -v rsyslogd || echo /usr/sbin/rsyslogd)
[ -x "$rsyslogd" ] || cannot_run "rsyslogd is not installed (Debian package rsyslog)"

socket=$scratch/log.sock
out=$scratch/parsed.log
mkdir "$scratch/work"
# One line per message: the fields as the daemon parsed them, separated by '|'.
cat >"$scratch/rsyslog.conf" <<CONF
global(workDirectory="$scratch/work")
module(load="imuxsock" SysSock.Use="off")
input(type="imuxsock" Socket="$socket")
template(name="parsed" type="string"
         string="%programname%|%procid%|%syslogfacility-text%|%syslogseverity-text%|%msg%\n")
*.* action(type="omfile" file="$out" template="parsed")
CONF
"$rsyslogd" -n -f "$scratch/rsyslog.conf" -i "$scratch/rsyslogd.pid" >"$scratch/rsyslogd.out" 2>&1 &
daemon=$!
cleanup_hooks+=("kill $daemon 2>/dev/null; wait $daemon 2>/dev/null")
for _ in $(seq 100); do
    [ -S "$socket" ] && break
    sleep 0.1
done
[ -S "$socket" ] || {
    cat "$scratch/rsyslogd.out" >&2
    fail "rsyslogd did not create its socket"
    finish
}

write_config "$scratch/syslog.ini" "destination = syslog" "syslog_socket = $socket" \
    "syslog_facility = local3" "syslog_tag = ombrex-test"
big=$(head -c 20000 /dev/zero | tr '\0' b)
shell_pid=$(preloaded "$scratch/syslog.ini" /bin/sh -c \
    'echo $$; /bin/true "two
lines"; /bin/true "$1"; :' sh "$big")

# rsyslogd writes asynchronously: wait for both lines.
for _ in $(seq 100); do
    [ -f "$out" ] && [ "$(grep -vc '^rsyslogd|' "$out")" -ge 2 ] && break
    sleep 0.1
done
sleep 0.3
# The daemon may log about itself into the same file; only the library's messages count.
mapfile -t lines < <(grep -v '^rsyslogd|' "$out")
expect_eq "${#lines[@]}" 2 "messages parsed by the daemon"

for i in 0 1; do
    IFS='|' read -r program procid facility severity message <<<"${lines[$i]:-}"
    expect_eq "$program" ombrex-test "message $i: tag"
    expect_eq "$facility" local3 "message $i: facility"
    expect_eq "$severity" info "message $i: severity"
    message=${message# }
    expect_eq "$(field call "$message")" execve "message $i: call"
    expect_eq "$(field ppid "$message")" "$shell_pid" "message $i: ppid"
    expect_eq "$procid" "$(field pid "$message")" "message $i: process id of the header"
    expect_eq "$(field file "$message")" /bin/true "message $i: file"
done
expect_eq "$(field arg1 "${lines[0]:-}")" 'two\nlines' "the newline stays inside its message"
case ${lines[1]:-} in
*' truncated=yes') ;;
*) fail "a record cut for length lost its marker in the daemon: ...${lines[1]: -40}" ;;
esac

# format = json: the message after the same header is the JSON object, whole.
if command -v jq >/dev/null; then
    write_config "$scratch/json.ini" "destination = syslog" "syslog_socket = $socket" \
        "syslog_facility = local3" "syslog_tag = ombrex-test" "format = json"
    shell_pid=$(preloaded "$scratch/json.ini" /bin/sh -c 'echo $$; /bin/true "json
record"; /bin/true "$1"; :' sh "$big")
    for _ in $(seq 100); do
        [ "$(grep -vc '^rsyslogd|' "$out")" -ge 4 ] && break
        sleep 0.1
    done
    sleep 0.3
    mapfile -t lines < <(grep -v '^rsyslogd|' "$out" | tail -n +3)
    expect_eq "${#lines[@]}" 2 "JSON messages parsed by the daemon"
    for i in 0 1; do
        IFS='|' read -r program procid facility severity message <<<"${lines[$i]:-}"
        expect_eq "$program|$facility|$severity" "ombrex-test|local3|info" "JSON message $i: header"
        expect_eq "$(jq -r '[.call, .ppid, .file] | join(" ")' <<<"$message" 2>&1)" \
            "execve $shell_pid /bin/true" "JSON message $i: fields"
        expect_eq "$procid" "$(jq -r .pid <<<"$message")" "JSON message $i: process id of the header"
    done
    expect_eq "$(jq -r .arg1 <<<"${lines[0]#*|*|*|*|}")" 'json\nrecord' "JSON: the newline stays escaped"
    expect_eq "$(jq -c '[.truncated, .argc]' <<<"${lines[1]#*|*|*|*|}")" '[true,2]' \
        "JSON: a record cut for length, in the daemon"
else
    cannot_run "jq is not installed (Debian package jq)"
fi

finish
