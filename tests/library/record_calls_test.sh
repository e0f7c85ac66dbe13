#!/usr/bin/env bash
# The system calls of one record, by name, from the library's first (prctl) to the execve, as
# strace shows them for a shell that runs /bin/true: exactly the documented list
# (docs/libombrex.md, "System calls"), for each destination and format, with recording off,
# and with rules that match nothing (which read the login uid and the calling program once,
# for the rules and the record). A count of calls, not a timing: bench/exec-cost times them.
. "$(dirname "$0")/lib.sh"
: "${EXEC_PROBE:?}"
command -v strace >/dev/null || cannot_run "strace is not installed (Debian package strace)"

log=$scratch/records.log
: >"$log"
chmod 0644 "$log"
socket=$scratch/log.sock
"$EXEC_PROBE" sink "$socket" 120 &
sink=$!
cleanup_hooks+=("kill $sink 2>/dev/null; wait $sink 2>/dev/null")
for _ in $(seq 100); do
    [ -S "$socket" ] && break
    sleep 0.05
done
[ -S "$socket" ] || cannot_run "the socket of the sink did not appear"

# calls TAG TRACE: the calls of the process that executed the program with the argument TAG,
# from the library's first (prctl) to that execve, by name, on one line.
calls() {
    awk -v tag="\"$1\"" '
        { pid = $1; line = $0; sub(/^[0-9]+ +/, "", line); name = line; sub(/\(.*/, "", name) }
        name == "prctl" && line ~ /PR_GET_SECCOMP/ { seen[pid] = "" }
        pid in seen { seen[pid] = seen[pid] " " name }
        name == "execve" && index(line, tag) > 0 { print substr(seen[pid], 2); exit }' "$2"
}

# probe NAME EXPECTED LINE...: the calls of one execution with the configuration LINE...
probe() {
    local name=$1 expected=$2 got
    shift 2
    write_config "$scratch/calls.ini" "$@"
    use_config "$scratch/calls.ini"
    export T=calls-$RANDOM
    LD_PRELOAD=$OMBREX_LIBRARY strace -f -qq -o "$scratch/trace" /bin/sh -c '/bin/true "$T"; :'
    got=$(calls "$T" "$scratch/trace")
    echo "$name: $(($(wc -w <<<"$got") - 1)) calls before the execve: $got"
    expect_eq "$got" "$expected" "$name"
}

start="prctl openat newfstatat pread64"
judge="newfstatat faccessat2 getpid"
facts="clock_gettime getppid getresuid getresgid openat read openat read openat read readlinkat getcwd"
file="file = $log"
probe "file, kv" "$start $judge openat newfstatat $facts prlimit64 writev execve" \
    "destination = file" "$file"
probe "file, json" "$start $judge openat newfstatat $facts prlimit64 writev execve" \
    "destination = file" "$file" "format = json"
probe "syslog" "$start $judge socket connect $facts sendmsg execve" \
    "destination = syslog" "syslog_socket = $socket"
probe "none" "$start execve" "destination = none"
# The login uid and the calling program, read for the rules, are not read again.
probe "file, rules that match nothing" \
    "$start getresuid openat read readlinkat openat readlinkat $judge openat newfstatat clock_gettime getppid getresuid getresgid openat read openat read getcwd prlimit64 writev execve" \
    "destination = file" "$file" "skip_uid = 4294967294" "skip_auid = 4294967294" \
    "skip_exe = /nowhere" "skip_program = /nowhere"
# A file too large for the stack is read once, into the library's workspace: the same calls.
probe "file, large configuration file" \
    "$start $judge openat newfstatat $facts prlimit64 writev execve" \
    "destination = file" "$file" "; $(printf 'padding %.0s' $(seq 40))"

expect_eq "$(grep -c '^call=execve .* file="/bin/true" argc=2 arg0="/bin/true" arg1="calls-[0-9]*"$' "$log")" 3 \
    "records of /bin/true in the file"
expect_eq "$(grep -c '^{"call":"execve".*"file":"/bin/true","argc":2,' "$log")" 1 \
    "JSON records of /bin/true in the file"
finish
