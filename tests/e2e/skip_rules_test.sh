#!/usr/bin/env bash
# The rules of /etc/ombrex.ini that leave executions out of the record, against real programs
# started through the system's own dynamic linker.
#
# Usage: skip_rules_test.sh LIBRARY
#
# As root, in a private mount namespace whose /etc and /usr/local/lib are throw-away
# overlays, LIBRARY is installed as /usr/local/lib/libombrex.so and listed in
# /etc/ld.so.preload, and /etc/ombrex.ini sends records to a file. For each row of the table,
# the rules are written to /etc/ombrex.ini, the same set of executions runs (programs in a
# scratch directory, a link to one of them, a PATH search, other calling programs, another
# user, other login users), and the executions that left a record are compared with those
# the row expects. Each row runs twice: with a file small enough to be decided on the stack,
# and with the same rules after a comment that makes the file too large for that.
#
# Then strace shows the system calls that a left-out execution makes, from the library's
# first to the execve: only those that its rule needs, none on the log file.
#
# Exit 77 when root, mount namespaces, setpriv or strace are missing (1 under CI=true).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/namespace.sh"

# The executions of the table, by name.
readonly executions="true tool link deep other long searched env caller nobody login unset"

# Runs inside the namespace: $1 scratch directory, $2 library.
inside() {
    local scratch=$1 library=$2
    failures=0
    mount_overlays "$scratch" /etc /usr/local/lib || return 77
    rm -f /etc/ld.so.preload /etc/ombrex.ini
    install -m 0755 "$library" /usr/local/lib/libombrex.so

    # The programs: copies of /bin/true in the scratch directory, one behind a link, one in a
    # directory whose name is longer than the room for paths on the stack, and a copy of the
    # shell as another calling program. Every user may run them.
    s=$(readlink -f "$scratch/w")
    long=$s/$(printf 'l%.0s' $(seq 230))
    mkdir -p "$s/bin/sub" "$s/other" "$s/link" "$long"
    for program in "$s/bin/tool" "$s/bin/sub/tool" "$s/other/tool" "$long/tool"; do
        install -m 0755 /bin/true "$program"
    done
    install -m 0755 /bin/sh "$s/bin/mysh"
    ln -s ../bin/tool "$s/link/tool"
    true_file=$(readlink -f /bin/true)
    env_file=$(readlink -f /usr/bin/env)
    shell_file=$(readlink -f /bin/sh)
    log=$s/r.log
    install -m 0666 /dev/null "$log"

    # Every execution below starts from a process whose login uid is 1000, unless it sets its
    # own.
    echo 1000 >/proc/self/loginuid ||
        { echo "skip_rules_test: cannot set a login uid" >&2; return 77; }
    printf '%s\n' /usr/local/lib/libombrex.so >/etc/ld.so.preload

    table
    probes
    return "$((failures == 0 ? 0 : 1))"
}

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# configure LINES...: /etc/ombrex.ini with the records going to the log and these lines.
configure() {
    {
        printf '[ombrex]\ndestination = file\nfile = %s\n' "$log"
        printf '%s\n' "$@"
    } >/etc/ombrex.ini
    chmod 0644 /etc/ombrex.ini
}

# run_all ROW: every execution, each with the argument ROW-NAME, started by a shell that is
# itself started now, under the preload file; ROW travels in the environment, so that no
# program that starts another has the argument among its own. Prints the names of the
# executions that left a record.
run_all() {
    local row=$1
    : >"$log"
    R=$row S=$s L=$long bash -c '
        /bin/true "$R-true"
        "$S/bin/tool" "$R-tool"
        "$S/link/tool" "$R-link"
        "$S/bin/sub/tool" "$R-deep"
        "$S/other/tool" "$R-other"
        "$L/tool" "$R-long"
        /usr/bin/env PATH="$S/bin" tool "$R-searched"
        /usr/bin/env /bin/true "$R-env"
        "$S/bin/mysh" -c "/bin/true \"\$R-caller\"; :"
        setpriv --reuid=65534 --regid=65534 --clear-groups /bin/sh -c "/bin/true \"\$R-nobody\"; :"
        /bin/sh -c "echo 4321 >/proc/self/loginuid && /bin/true \"\$R-login\"; :"
        /bin/sh -c "echo 4294967295 >/proc/self/loginuid && /bin/true \"\$R-unset\"; :"
        :'
    grep -o " arg1=\"$row-[a-z]*\"" "$log" | sed "s/.*-\([a-z]*\)\"\$/\1/" | sort | paste -sd ' '
}

rows=0
# row NAME LEFT_OUT LINE...: with these lines in /etc/ombrex.ini, every execution but those
# in LEFT_OUT leaves a record; first in a file of at most 255 bytes, then in a larger one.
row() {
    local name=$1 left_out=$2 expected="" e variant got
    shift 2
    for e in $executions; do
        [[ " $left_out " == *" $e "* ]] || expected+="$e "
    done
    expected=$(tr ' ' '\n' <<<"$expected" | sed '/^$/d' | sort | paste -sd ' ')
    for variant in small large; do
        if [ "$variant" = small ]; then
            configure "$@"
            [ "$(stat -c %s /etc/ombrex.ini)" -le 255 ] || [ "$name" = "a list beyond 4 KiB" ] ||
                fail "$name: the file is too large to be decided on the stack"
        else
            configure "; $(printf 'padding %.0s' $(seq 40))" "$@"
        fi
        rows=$((rows + 1))
        got=$(run_all "r$rows")
        echo "row: $name ($variant file): recorded: ${got:-nothing}"
        [ "$got" = "$expected" ] || fail "$name ($variant file): recorded [$got], expected [$expected]"
    done
}

table() {
    row "no rules" ""
    row "an exact path, reached by its link and by a PATH search" "tool link searched" \
        "skip_program = $s/bin/tool"
    row "a rule naming a link names no program" "" "skip_program = $s/link/tool"
    row "the resolved path of /bin/true" "true env caller nobody login unset" \
        "skip_program = $true_file"
    row "* within a component" "tool link searched" "skip_program = $s/bin/*"
    row "* does not cross a /" "tool link searched other long" "skip_program = $s/*/tool"
    row "one * per component" "deep" "skip_program = $s/*/*/tool"
    row "? and a bracket, several values" "tool link searched other" \
        "skip_program = $s/bin/t?o[a-z] $s/other/*"
    row "the calling program" "searched env" "skip_exe = $env_file"
    row "the calling program, a pattern" "caller" "skip_exe = $s/bin/*"
    row "the shell as calling program" "nobody login unset" "skip_exe = $shell_file"
    row "a uid" "nobody" "skip_uid = 65534"
    row "a range of uids" "nobody" "skip_uid = 1-65534"
    row "root" "true tool link deep other long searched env caller login unset" "skip_uid = 0"
    row "a login uid" "login" "skip_auid = 4321"
    row "a range of login uids and unset" "login unset" "skip_auid = 4000-4999 unset"
    row "unset" "unset" "skip_auid = unset"
    row "the login uid of the others" "true tool link deep other long searched env caller nobody" \
        "skip_auid = 1000"
    row "several rules at once" "nobody login other searched env" "skip_uid = 65534" \
        "skip_auid = 4321" "skip_program = $s/other/tool" "skip_exe = $env_file"
    row "the last line of an option counts" "nobody" "skip_uid = 0" "skip_uid = 65534"
    row "an empty last line clears the list" "" "skip_uid = 0" "skip_uid ="

    # A mistake never silences recording: each invalid value is ignored, the rest applies.
    row "a relative path" "" "skip_program = bin/tool"
    row "an unclosed bracket" "" "skip_program = $s/bin/[tool"
    row "a backslash at the end" "" "skip_program = $s/bin/tool\\"
    row "an empty component" "" "skip_program = $s//bin/tool"
    row "a .. component" "" "skip_program = $s/bin/../bin/tool"
    row "a character class" "" "skip_program = $s/bin/[[:alpha:]]ool"
    row "invalid calling programs" "" "skip_exe = usr/bin/env $env_file/"
    row "uids out of range" "" "skip_uid = 4294967295 0-4294967295 99999999999"
    row "uids that are no numbers or ranges" "" "skip_uid = -1 root 65534- 65534-1 unset"
    row "login uids out of range or backwards" "" "skip_auid = 4294967295 4322-4321 unset-5"
    row "valid and invalid values mixed" "nobody login" "skip_uid = root 65534 -3" \
        "skip_auid = 4321- 4321"
    local list="skip_uid = 0" id=1
    while [ "${#list}" -lt 4200 ]; do
        list+=" $id"
        id=$((id + 1))
    done
    row "a list beyond 4 KiB" "" "$list"
}

# calls TAG TRACE: the system calls of the process that executed the program with the
# argument TAG, from the library's first (prctl) to that execve, one line each.
calls() {
    awk -v tag="\"$1\"" '
        { pid = $1; line = $0; sub(/^[0-9]+ +/, "", line); name = line; sub(/\(.*/, "", name) }
        name == "prctl" && line ~ /PR_GET_SECCOMP/ { seen[pid] = "" }
        pid in seen { seen[pid] = seen[pid] line "\n" }
        name == "execve" && index(line, tag) > 0 { printf "%s", seen[pid]; exit }' "$2"
}

# probe NAME EXPECTED LINE...: the calls of a left-out execution of /bin/true from a shell,
# by name; none of them may name the log file.
probe() {
    local name=$1 expected=$2 got
    shift 2
    configure "$@"
    : >"$log"
    T=probe-$RANDOM
    strace -f -qq -o "$s/trace" /bin/sh -c '/bin/true "$T"; :'
    calls "$T" "$s/trace" >"$s/calls"
    got=$(sed 's/(.*//' "$s/calls" | paste -sd ' ')
    echo "probe: $name: $got"
    [ "$got" = "$expected" ] || fail "probe $name: calls [$got], expected [$expected]"
    ! grep -qF "$T" "$log" || fail "probe $name: the execution was recorded"
    ! grep -qF "$log" "$s/calls" || fail "probe $name: the log file was touched: $(cat "$s/calls")"
}

probes() {
    local start="prctl openat newfstatat pread64"
    export T
    # The descriptors are left to the exec, which closes them: no close before it.
    probe "uid" "$start getresuid execve" "skip_uid = 0"
    probe "login uid" "$start openat read execve" "skip_auid = 1000"
    probe "calling program" "$start readlinkat execve" "skip_exe = $shell_file"
    probe "program" "$start openat readlinkat execve" "skip_program = $true_file"
    # A file larger than the stack's room is read into the library's own workspace, once.
    probe "program, large file" "$start openat readlinkat execve" \
        "; $(printf 'padding %.0s' $(seq 40))" "skip_program = $true_file"
    # The rules that match nothing first, in the order they are checked, then the one that
    # matches: each reads what it needs and nothing more.
    probe "every kind, the program last" \
        "$start getresuid openat read readlinkat openat readlinkat execve" \
        "skip_uid = 5" "skip_auid = 5" "skip_exe = /nowhere" "skip_program = $true_file"
}

if [ "${1:-}" = --inside ]; then
    shift
    rc=0
    inside "$@" || rc=$?
    exit "$rc"
fi

library=${1:?usage: skip_rules_test.sh LIBRARY}
require_namespaces
command -v setpriv >/dev/null || unavailable "setpriv is not installed (util-linux)"
command -v strace >/dev/null || unavailable "strace is not installed (Debian package strace)"
(echo 4321 >/proc/self/loginuid) 2>/dev/null ||
    unavailable "the kernel keeps no login uid, or this process may not set one"

scratch=$(mktemp -d /tmp/ombrex-skip.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
chmod 0755 "$scratch"
mkdir "$scratch/layers" "$scratch/w"
chmod 0755 "$scratch/w"
rc=0
unshare -m --propagation private env -u LD_PRELOAD bash "$0" --inside "$scratch" \
    "$(readlink -f "$library")" || rc=$?
if [ "$rc" -eq 0 ]; then
    echo "skip rules: all rows passed"
fi
exit "$rc"
