#!/usr/bin/env bash
# bench/helpers/compare.awk, which bench/workload uses to match records with the kernel's
# executions, on a small trace in strace's own format: a launch, a fork child, a vfork child
# that searches PATH, a clone3 child, a refused call, a compiler temporary file, a statically
# linked caller, calls split across lines, short process ids padded as strace pads them, and
# an argument that holds " = ". Each case changes the records and states every count the
# comparison must give.
set -u
here=$(cd "$(dirname "$0")" && pwd)
compare=$here/../../bench/helpers/compare.awk
scratch=$(mktemp -d /tmp/ombrex-compare.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# records CASE: the fixture's records as that case has them.
records() {
    local fixture=$here/records.txt
    case $1 in
    as-today) cat "$fixture" ;;
    missed) grep -v 'file="/usr/bin/xargs"' "$fixture" ;;
    duplicated) cat "$fixture"; grep 'file="echo"' "$fixture" ;;
    no-such-call)
        cat "$fixture"
        echo 'call=execve time=2026-12-10T10:00:01.000000Z pid=307 ppid=300 uid=0 euid=0 gid=0 egid=0 cwd="/w" file="/usr/bin/make" argc=1 arg0="make"'
        ;;
    sound | wrong-result)
        local refusal=EACCES
        [ "$1" = wrong-result ] && refusal=ENOEXEC
        # No record for the missing file, the file that ran named, the refusal said, and
        # fields the comparison does not know.
        grep -v 'file="/usr/local/bin/git"' "$fixture" |
            sed -e 's|file="echo"|file="echo" path="/usr/bin/echo"|' \
                -e "s|\(file=\"./noexec.sh\".*\)|\1 result=$refusal|" \
                -e 's|^\(call=[a-z]* \)|\1auid=unset ses=unset tty=none exe="/bin/sh" |'
        ;;
    path-is-trusted) sed 's|file="echo"|file="echo" path="/usr/local/bin/echo"|' "$fixture" ;;
    esac
}

# CASE  executions once missed duplicated enoent other refusals wrong nothing records  goal
cases=(
    "as-today         6 6 0 0 1 1 0 0 0 8 NOT"
    "missed           6 5 1 0 1 1 0 0 0 7 NOT"
    "duplicated       6 5 0 1 1 1 0 0 0 9 NOT"
    "no-such-call     6 6 0 0 1 1 0 0 1 9 NOT"
    "sound            6 6 0 0 0 0 1 0 0 7 met"
    "wrong-result     6 6 0 0 0 0 0 1 0 7 NOT"
    "path-is-trusted  6 5 1 0 2 1 0 0 0 8 NOT"
)

failures=0
for row in "${cases[@]}"; do
    read -r name expected <<<"$row"
    records "$name" >"$scratch/records"
    awk -v traceFile="$here/trace.txt" -f "$compare" "$here/trace.txt" "$scratch/records" \
        >"$scratch/out"
    # The counts of the first ten rows, then the goal's verdict.
    actual=$(awk 'NR <= 10 { printf "%d ", substr($0, 66, 6) }
                  /goal:/ { print ($NF == "met" ? "met" : "NOT") }' "$scratch/out")
    expected=$(echo $expected)
    if [ "$actual" != "$expected" ]; then
        echo "FAIL: $name: expected [$expected], got [$actual]:" >&2
        cat "$scratch/out" >&2
        failures=$((failures + 1))
    fi
done

# The kernel's side: the static caller's execution and the launch are left out.
awk -v traceFile="$here/trace.txt" -f "$compare" "$here/trace.txt" "$here/records.txt" \
    >"$scratch/out"
for line in \
    "  kernel: 3 failed exec calls by dynamically linked callers (ENOENT or ENOTDIR 2, other 1);" \
    "  1 executions by statically linked callers and 1 launch of the workload left out"; do
    grep -qxF -- "$line" "$scratch/out" || {
        echo "FAIL: no line [$line] in:" >&2
        cat "$scratch/out" >&2
        failures=$((failures + 1))
    }
done

if [ "$failures" -ne 0 ]; then
    echo "$failures case(s) failed" >&2
    exit 1
fi
echo "all cases passed"
