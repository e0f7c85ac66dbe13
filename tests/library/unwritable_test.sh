#!/usr/bin/env bash
# A destination that cannot be written changes nothing for the programs: the same output on
# both streams, the same exit statuses, and no hang, whatever stands in the way.
. "$(dirname "$0")/lib.sh"
: "${EXEC_PROBE:?}"

# A little of everything a shell script does: output on both streams, failing and succeeding
# programs, a pipeline, a subshell and exit statuses passed on.
script='
/bin/echo out; /bin/echo err >&2
ls /nonexistent-ombrex-path; echo "ls=$?"
/bin/sh -c "exit 7"; echo "sh=$?"
printf "b\na\n" | sort | tr a-z A-Z
(cd / && /bin/pwd)
/bin/false; echo "false=$?"
exit 3'

run_script() { # ENV... ; prints stdout, stderr and the status
    local out err status
    out=$(env "$@" /bin/sh -c "$script" 2>"$scratch/stderr")
    status=$?
    err=$(cat "$scratch/stderr")
    printf 'stdout:\n%s\nstderr:\n%s\nstatus: %s\n' "$out" "$err" "$status"
}

reference=$(run_script)

check_destination() { # WHAT CONFIG (empty: the configuration file is already in place)
    local result
    [ -z "$2" ] || use_config "$2"
    result=$(timeout -k 5 60 bash -c "$(declare -f run_script); script=\$1; scratch=\$2; shift 2; run_script \"\$@\"" \
        _ "$script" "$scratch" LD_PRELOAD="$OMBREX_LIBRARY")
    local status=$?
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        fail "$1: the script hung"
        return
    fi
    expect_eq "$result" "$reference" "$1: output and statuses"
}

mkdir "$scratch/directory"
touch "$scratch/target"
ln -s "$scratch/target" "$scratch/link"
mkfifo "$scratch/fifo"
touch "$scratch/regular"

cases=(
    "missing directory|destination = file|file = $scratch/missing/records.log"
    "missing file|destination = file|file = $scratch/not-created.log"
    "directory|destination = file|file = $scratch/directory"
    "symbolic link|destination = file|file = $scratch/link"
    "FIFO without reader|destination = file|file = $scratch/fifo"
    "missing socket|destination = syslog|syslog_socket = $scratch/missing.sock"
    "regular file as socket|destination = syslog|syslog_socket = $scratch/regular"
)
for row in "${cases[@]}"; do
    IFS='|' read -r what line1 line2 <<<"$row"
    write_config "$scratch/case.ini" "$line1" "$line2"
    check_destination "$what" "$scratch/case.ini"
done
[ ! -e "$scratch/not-created.log" ] || fail "missing file: the library created it"
expect_eq "$(wc -c <"$scratch/target")" 0 "symbolic link: bytes written through the link"

# A configuration file that cannot be read as one: the defaults apply, nothing blocks.
rm -rf "$OMBREX_TEST_CONFIG"
mkfifo -m 0644 "$OMBREX_TEST_CONFIG"
check_destination "configuration is a FIFO" ""
rm -f "$OMBREX_TEST_CONFIG"
mkdir -m 0755 "$OMBREX_TEST_CONFIG"
check_destination "configuration is a directory" ""
rmdir "$OMBREX_TEST_CONFIG"

# A log daemon that has stopped reading: its queue fills up, and programs go on regardless.
"$EXEC_PROBE" sink "$scratch/stalled.sock" 120 &
sink_pid=$!
cleanup_hooks+=("kill $sink_pid 2>/dev/null")
for _ in $(seq 50); do
    [ -S "$scratch/stalled.sock" ] && break
    sleep 0.1
done
# Without a wait for room in the queue (syslog_wait_ms_test.sh tests the wait).
write_config "$scratch/stalled.ini" "destination = syslog" "syslog_socket = $scratch/stalled.sock" \
    "syslog_wait_ms = 0"
loop='i=0; while [ $i -lt 300 ]; do /bin/true; i=$((i + 1)); done; /bin/echo done'
use_config "$scratch/stalled.ini"
out=$(timeout -k 5 60 env LD_PRELOAD="$OMBREX_LIBRARY" /bin/sh -c "$loop")
expect_eq "$?" 0 "stalled log daemon: status of 300 programs"
expect_eq "$out" done "stalled log daemon: output"
check_destination "stalled log daemon" "$scratch/stalled.ini"

# A file system that is full: write(2) fails with ENOSPC. Needs a private mount namespace.
if ! unshare -m --propagation private true 2>/dev/null; then
    cannot_run "full file system: no mount namespace here"
fi
export OMBREX_LIBRARY OMBREX_TEST_CONFIG scratch script
full=$(unshare -m --propagation private bash -c '
    set -e
    mkdir -p "$scratch/full"
    mount -t tmpfs -o size=64k tmpfs "$scratch/full"
    touch "$scratch/full/records.log"
    dd if=/dev/zero of="$scratch/full/filler" bs=4k 2>/dev/null || true
    printf "[ombrex]\ndestination = file\nfile = %s\n" "$scratch/full/records.log" >"$OMBREX_TEST_CONFIG"
    chmod 0644 "$OMBREX_TEST_CONFIG"
    set +e
    out=$(env LD_PRELOAD="$OMBREX_LIBRARY" /bin/sh -c "$script" 2>"$scratch/stderr")
    status=$?
    printf "stdout:\n%s\nstderr:\n%s\nstatus: %s\n" "$out" "$(cat "$scratch/stderr")" "$status"
    echo "bytes: $(wc -c <"$scratch/full/records.log")"
')
expect_eq "${full%$'\n'bytes:*}" "$reference" "full file system: output and statuses"
expect_eq "${full##*bytes: }" 0 "full file system: bytes recorded"

finish
