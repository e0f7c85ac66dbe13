#!/usr/bin/env bash
# Argument lists far larger than a record: the record is cut with the marker, stays one
# well-formed line within its bound, and the program still gets every byte of its arguments.
. "$(dirname "$0")/lib.sh"

log=$scratch/records.log
write_config "$scratch/file.ini" "destination = file" "file = $log"
record_bound=8000

# Just under the kernel's limit for one argument.
big=$(head -c 100000 /dev/zero | tr '\0' a)
many=()
for i in $(seq 1 5000); do
    many+=("argument-$i")
done

check_cut_record() { # WHAT EXPECTED_ARGC
    local record
    record=$(cat "$log")
    expect_eq "$(wc -l <"$log")" 1 "$1: lines"
    expect_well_formed "$log"
    local size
    size=$(wc -c <"$log")
    if [ "$size" -gt "$record_bound" ]; then
        fail "$1: record of $size bytes exceeds $record_bound"
    fi
    case $record in
    *' truncated=yes') ;;
    *) fail "$1: no truncation marker at the end: ...${record: -60}" ;;
    esac
    expect_eq "$(field argc "$record")" "$2" "$1: argc counts every argument"
}

# One huge argument.
: >"$log"
preloaded "$scratch/file.ini" /bin/sh -c '/bin/echo "$1" >"$2"; :' sh "$big" "$scratch/out"
out=$(wc -c <"$scratch/out")
expect_eq "$out" 100001 "program output with a huge argument"
check_cut_record "huge argument" 2
value=$(field arg1 "$(cat "$log")")
if [ -z "$value" ] || [ "${big:0:${#value}}" != "$value" ]; then
    fail "huge argument: the recorded part is not a prefix of the argument"
fi

# Thousands of arguments: every recorded one is whole, except that the last may be cut short.
: >"$log"
preloaded "$scratch/file.ini" /bin/sh -c 'out=$1; shift; /bin/echo "$@" >"$out"; :' sh \
    "$scratch/out" "${many[@]}"
out=$(wc -w <"$scratch/out")
expect_eq "$out" 5000 "program output with many arguments"
check_cut_record "many arguments" 5001
problem=$(record_fields <"$log" | awk -F'\t' '
    $1 ~ /^arg[0-9]+$/ {
        n = substr($1, 4) + 0
        want = (n == 0 ? "/bin/echo" : "argument-" n)
        if (cut != "") { print "cut value " cut " is not the last"; exit }
        if ($2 != want) {
            if (index(want, $2) != 1) { print $1 "=" $2 " is not " want; exit }
            cut = $1
        }
        count++
    }
    END { if (count < 100) print "only " count " arguments recorded" }')
[ -z "$problem" ] || fail "many arguments: $problem"

# A huge argument that is nothing but characters to escape: the cut never splits an escape.
: >"$log"
escapes=$(head -c 30000 /dev/zero | tr '\0' '\001')
preloaded "$scratch/file.ini" /bin/sh -c '/bin/true "$1"; :' sh "$escapes"
check_cut_record "escaped argument" 2
value=$(field arg1 "$(cat "$log")")
if [[ ! $value =~ ^(\\x01)+$ ]]; then
    fail "escaped argument: value is not a run of whole escapes: ${value: -20}"
fi

finish
