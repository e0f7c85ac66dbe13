#!/usr/bin/env bash
# bench/helpers/peers-table.awk, which prints bench/peers' tables, on samples whose figures
# are known: three rounds whose third is every row's worst (so that median and minimum come
# from the other two), daemons' time per record, a goal exactly at its bound, a recorder that
# is unavailable, and the burst. The whole output is compared with peers-table.txt; then the
# same samples without bpftrace must leave its goal undecided and its burst out.
set -u
here=$(cd "$(dirname "$0")" && pwd)
table=$here/../../bench/helpers/peers-table.awk
scratch=$(mktemp -d /tmp/ombrex-peers-table.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0

awk -f "$table" "$here/peers-data.txt" >"$scratch/out"
if ! cmp -s "$here/peers-table.txt" "$scratch/out"; then
    echo "FAIL: the tables differ from peers-table.txt:" >&2
    diff "$here/peers-table.txt" "$scratch/out" >&2
    failures=$((failures + 1))
fi

sed 's/^\(variant\t7\t.*\t\)ok$/\1unavailable: tracefs cannot be mounted/' "$here/peers-data.txt" |
    awk -f "$table" >"$scratch/without"
for line in \
    "  bpftrace, execve tracepoint    unavailable: tracefs cannot be mounted" \
    "  library: the record's own cost at or below bpftrace's whole in-process cost: cannot tell without bpftrace, execve tracepoint" \
    "  library: to syslog, in-process plus daemon at or below auditd's (1.310 against 1.267): NOT MET"; do
    grep -qxF -- "$line" "$scratch/without" || {
        echo "FAIL: no line [$line] in:" >&2
        cat "$scratch/without" >&2
        failures=$((failures + 1))
    }
done
if grep -q '^  bpftrace.* 2999 ' "$scratch/without"; then
    echo "FAIL: the burst of an unavailable recorder is shown" >&2
    failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all checks passed"
