#!/usr/bin/env bash
# Programs behave the same with the library as without it: each row of the table runs one
# program (mostly host_probe.c) twice, without and with the library preloaded, and compares
# what it printed and its exit status. Some rows also check what reached the log.
#
# Prints the table; a row whose two runs differ fails the test.
. "$(dirname "$0")/lib.sh"
: "${HOST_PROBE:?}" "${EXEC_PROBE:?}"

probe=$HOST_PROBE
log=$scratch/records.log
: >"$log"
write_config "$scratch/file.ini" "destination = file" "file = $log"
write_config "$scratch/syslog.ini" "destination = syslog" "syslog_socket = $scratch/log.sock"
table=$scratch/table

# side_by_side NAME COMMAND...: runs COMMAND without, then with the library.
side_by_side() {
    local name=$1
    shift
    local without with
    without=$("$@" 2>"$scratch/stderr.without" </dev/null)
    without+=$'\n'"status $?"
    with=$(env LD_PRELOAD="$OMBREX_LIBRARY" "$@" 2>"$scratch/stderr.with" </dev/null)
    with+=$'\n'"status $?"
    local verdict=same
    if [ "$without" != "$with" ]; then
        verdict=DIFFERENT
        fail "$name: without the library:"$'\n'"$without"$'\n'"with it:"$'\n'"$with"$'\n'"$(cat "$scratch/stderr.with")"
    fi
    printf '%-46s %-9s %s\n' "$name" "$verdict" "$(tr '\n' ';' <<<"$with")" >>"$table"
}

# Every line of the log is one whole record that ends with its line feed, or a blank line where
# the kernel cut a record short.
expect_whole_lines() { # WHAT
    if [ -s "$log" ] && [ "$(tail -c 1 "$log" | od -An -c | tr -d ' ')" != '\n' ]; then
        fail "$1: the log ends inside a line"
    fi
    expect_well_formed "$log"
    local bad
    bad=$(grep -cv '^call=[a-z_]* time=.* argc=[0-9]*\( arg[0-9]*=".*"\)*$\|^ *$' "$log")
    expect_eq "$bad" 0 "$1: lines of the log that are not whole records"
}

use_config "$scratch/file.ini"

# Stacks: a thread's 16 KiB stack and an 8 KiB signal stack, with memory painted below them.
side_by_side "16 KiB thread stack, file" "$probe" thread-spawn "$probe" fds
rm -f "$OMBREX_TEST_CONFIG" # the defaults: the system log
side_by_side "16 KiB thread stack, default destination" "$probe" thread-spawn "$probe" fds
use_config "$scratch/file.ini"
for entry in execve execv execl execle fexecve; do
    side_by_side "8 KiB signal stack, $entry" "$probe" altstack "$entry"
    # Refused: the record is written after the call, the whole record path on that stack.
    side_by_side "8 KiB signal stack, $entry, refused" "$probe" altstack "$entry" /
done
# Left out by a rule on the calling program, checked on that stack with the small file's
# text as the room for the path: nothing reaches the log.
write_config "$scratch/skip.ini" "destination = file" "file = $log" \
    "skip_exe = $(readlink -f "$probe")"
use_config "$scratch/skip.ini"
: >"$log"
for entry in execve execl fexecve; do
    side_by_side "8 KiB signal stack, $entry, left out" "$probe" altstack "$entry" /
done
expect_eq "$(wc -l <"$log")" 0 "records of the executions left out"
use_config "$scratch/file.ini"
# A record made before an exec leaves its descriptors to the exec; one that fails (a file the
# kernel cannot load, which the library expects to run) returns with none of them open.
printf 'no program\n' >"$scratch/noformat"
chmod 0755 "$scratch/noformat"
: >"$log"
side_by_side "descriptors after a recorded exec that failed" "$probe" fds-after "$scratch/noformat"
expect_eq "$(grep -c "^call=execv .*file=\"$scratch/noformat\"" "$log")" 1 "records of the failed exec"
side_by_side "vfork child leaves no mapping" "$probe" vfork-maps
side_by_side "vfork child leaves no mapping, refused" "$probe" vfork-maps /

# Nothing on the path of posix_spawn reads the environment that another thread changes.
side_by_side "setenv racing posix_spawn (5 x 600)" bash -c \
    'for i in 1 2 3 4 5; do "$1" setenv-race 600 || exit; done' _ "$probe"

# No bound on argument lists but the kernel's.
side_by_side "execl with 70,000 arguments" "$probe" many-arguments

# Seccomp filters that kill on one call: with sandboxed = skip, the library makes none of them.
: >"$log"
use_config "$scratch/syslog.ini"
for call in socket connect sendto ppoll faccessat2; do
    side_by_side "filter kills on $call, syslog: /bin/true" "$probe" seccomp-run "$call"
done
use_config "$scratch/file.ini"
side_by_side "filter kills on legacy fstat: /bin/true" "$probe" seccomp-run fstat
for call in openat newfstatat faccessat2 read pread64 write close mmap munmap getpid getppid getresuid \
    getresgid getcwd readlinkat clock_gettime prlimit64 flock clock_nanosleep rt_sigprocmask \
    rt_sigpending rt_sigtimedwait lseek pwrite64; do
    side_by_side "filter kills on $call: missing file" "$probe" seccomp-fail "$call"
done
# The built-in value decides before the file could be read; a line in the file cannot make a
# sandboxed process read it.
write_config "$scratch/record.ini" "destination = file" "file = $log" "sandboxed = record"
use_config "$scratch/record.ini"
side_by_side "filter kills on openat, file says record" "$probe" seccomp-fail openat
use_config "$scratch/file.ini"
expect_eq "$(wc -c <"$log")" 0 "records written under a seccomp filter"

# File size limits: a record is written whole or not at all, and raises no signal.
printf 'call=execve time=x argc=0\n' >"$log"
size=$(wc -c <"$log")
side_by_side "RLIMIT_FSIZE just below the log" "$probe" fsize -1 0 "$log"
side_by_side "RLIMIT_FSIZE just below, SIGXFSZ ignored" "$probe" fsize -1 1 "$log"
side_by_side "RLIMIT_FSIZE just above, SIGXFSZ ignored" "$probe" fsize 10 1 "$log"
side_by_side "RLIMIT_FSIZE just above" "$probe" fsize 10 0 "$log"
expect_eq "$(wc -c <"$log")" "$size" "log after records that did not fit"
side_by_side "RLIMIT_FSIZE with room for the record" "$probe" fsize 4000 0 "$log"
expect_eq "$(wc -l <"$log")" 2 "log lines after a record that fitted"
side_by_side "signals after a dropped record" "$probe" fsize-signals 0 "$log"
side_by_side "signals after a dropped record, pending" "$probe" fsize-signals 1 "$log"
side_by_side "16 processes near the limit at once" "$probe" fsize-race 16 "$log"
expect_whole_lines "file size limits"

# Another user who may read the log holds an exclusive lock on it: every record is written
# all the same, with and without a file size limit (a record that waited for the lock would
# be dropped after its bounded wait).
chmod o+x "$scratch"
mkdir -m 0755 "$scratch/shared"
shared_log=$scratch/shared/records.log
install -m 0644 /dev/null "$shared_log"
write_config "$scratch/shared.ini" "destination = file" "file = $shared_log"
use_config "$scratch/shared.ini"
for limited in 0 1; do
    : >"$shared_log"
    side_by_side "log locked by another user$([ "$limited" = 1 ] && echo ", RLIMIT_FSIZE")" \
        "$probe" locked-log 20 "$limited" "$shared_log"
    expect_eq "$(wc -l <"$shared_log")" 20 "records while another user holds the lock"
done

# PATH entries of 4,096 bytes or more: the C library passes over each, tries the working
# directory in its place, and goes on; one that ends PATH ends the search, before anything
# is tried when it is all of PATH. path= names the file that ran, and a call that ran
# nothing leaves no record.
long=/$(head -c 4100 /dev/zero | tr '\0' x)
mkdir -m 0755 "$scratch/bin" "$scratch/work"
printf '#!/bin/sh\necho "ran $0 $*"\n' >"$scratch/bin/mark"
printf '#!/bin/sh\necho "ran $0 $*"\n' >"$scratch/work/mark2"
chmod 0755 "$scratch/bin/mark" "$scratch/work/mark2"
use_config "$scratch/file.ini"
# path_row NAME EXPECTED-PATH COMMAND...: one row, then the records it left: one with
# file=the name run and path=EXPECTED-PATH, or none for -.
path_row() {
    local name=$1 expected=$2
    shift 2
    : >"$log"
    side_by_side "$name" "$@"
    local found
    found=$(grep -c 'file="mark2\?" ' "$log")
    if [ "$expected" = - ]; then
        expect_eq "$found" 0 "$name: records of the search"
    else
        expect_eq "$found" 1 "$name: records of the search"
        expect_eq "$(field path "$(grep 'file="mark2\?" ' "$log")")" "$expected" "$name: path"
    fi
}
path_row "4,100-byte PATH entry first: env" "$scratch/bin/mark" \
    env PATH="$long:$scratch/bin" mark a
path_row "4,100-byte PATH entry first: xargs" "$scratch/bin/mark" bash -c \
    'echo a | /usr/bin/env PATH="$1" /usr/bin/xargs mark' _ "$long:$scratch/bin"
path_row "4,100-byte PATH entry first: find -exec" "$scratch/bin/mark" \
    /usr/bin/env PATH="$long:$scratch/bin" /usr/bin/find "$scratch/bin" -name mark -exec mark {} ';'
path_row "4,100-byte PATH entry: the working directory" "$scratch/work/mark2" \
    bash -c 'cd "$1" && exec env PATH="$2" mark2 a' _ "$scratch/work" "$long:$scratch/bin"
path_row "4,100-byte PATH entry last: not searched" - \
    bash -c 'cd "$1" && exec env PATH="$2" mark2 a' _ "$scratch/work" "$scratch/bin:$long"
path_row "only a 4,100-byte PATH entry: execvp" - \
    bash -c 'cd "$1" && PATH="$2" exec "$3" try execvp mark2' _ "$scratch/work" "$long" "$EXEC_PROBE"
path_row "only a 4,100-byte PATH entry: posix_spawnp" - \
    bash -c 'cd "$1" && PATH="$2" exec "$3" try posix_spawnp mark2' _ "$scratch/work" "$long" \
    "$EXEC_PROBE"
path_row "an empty PATH entry: the working directory" "$scratch/work/mark2" \
    bash -c 'cd "$1" && exec env PATH="$2" mark2 a' _ "$scratch/work" "$scratch/bin::/usr/bin"

# A program that unmaps or moves its vDSO, and then executes: a program that ran, and one
# that the kernel refused.
for how in unmapped:unmap moved:move; do
    side_by_side "vDSO ${how%:*}, then execve" "$probe" vdso "${how#*:}" /bin/true
    side_by_side "vDSO ${how%:*}, then a refused execve" "$probe" vdso "${how#*:}" /
done

# A root process started with a user's environment and working directory: nothing reaches a
# file that the user chose, and no text of theirs runs.
user=65534
evil=$scratch/home/'$(id>PWNED)'
mkdir -p "$evil"
: >"$scratch/root-only"
chmod 0600 "$scratch/root-only"
write_config "$evil/mine.ini" "destination = file" "file = $scratch/root-only"
chown -R "$user" "$scratch/home"
use_config "$scratch/file.ini"
side_by_side "root with a user's environment and directory" env OMBREX_CONFIG_FILE="$evil/mine.ini" \
    bash -c 'cd "$1" && /bin/sh -c "/bin/true; :"; echo "chosen file: $(wc -c <"$2") bytes"
        ls "$1"' _ "$evil" "$scratch/root-only"
[ ! -e "$evil/PWNED" ] || fail "text from the directory name ran"

# Log files that root did not make, or that have another name: no record in them.
: >"$scratch/users.log"
chown "$user" "$scratch/users.log"
chmod 0666 "$scratch/users.log"
: >"$scratch/linked.log"
ln "$scratch/linked.log" "$scratch/second-name.log"
for file in users linked; do
    write_config "$scratch/$file.ini" "destination = file" "file = $scratch/$file.log"
    use_config "$scratch/$file.ini"
    side_by_side "log file: $file" /bin/sh -c "/bin/true; echo \"log: \$(wc -c <$scratch/$file.log) bytes\""
done

echo "Each program without and with the library:"
cat "$table"
finish
