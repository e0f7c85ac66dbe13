#!/usr/bin/env bash
# format = json: one JSON object per line with the fields of the key=value format, in the same
# order and with the same values; numbers as numbers. The same programs are run once in each
# format, and each JSON record, read by jq and written back as key=value, must be the
# key=value record. A record cut for length is still one object, within the bound.
. "$(dirname "$0")/lib.sh"
: "${EXEC_PROBE:?}"
command -v jq >/dev/null || cannot_run "jq is not installed (Debian package jq)"

log=$scratch/records.log
mkdir "$scratch/work dir"
printf 'echo bare\n' >"$scratch/work dir/refused"
cp /bin/true "$scratch/work dir/prog"

# Programs started every way, with values that need escaping, a refusal and a PATH search.
workload() {
    cd "$scratch/work dir" &&
        env LD_PRELOAD="$OMBREX_LIBRARY" PATH="$scratch/work dir:/usr/bin:/bin" /bin/sh -c '
            /bin/echo "quote \" backslash \\ tab	end" "$(printf "nl\nx\377\376y \342\200\250 \303\274")" >/dev/null
            ./refused 2>/dev/null
            prog "a b"
            "$1" try posix_spawnp prog >/dev/null
            "$1" try execvp prog >/dev/null
            :' sh "$EXEC_PROBE"
}

# The fields that change from one run to the next.
normalize() {
    sed -E 's/time=[0-9TZ:.-]+/time=T/; s/ id=[0-9]+\.[0-9]{9}-[0-9]+-[0-9]+/ id=I/
        s/ (pid|ppid)=[0-9]+/ \1=N/g; s/ (ses)=[0-9]+/ \1=S/'
}

for format in kv json; do
    write_config "$scratch/$format.ini" "destination = file" "file = $log" "format = $format"
    use_config "$scratch/$format.ini"
    : >"$log"
    (workload)
    cp "$log" "$scratch/$format.log"
done

# Every line is one JSON object, and the whole file is valid UTF-8.
expect_eq "$(jq -c 'type' "$scratch/json.log" | sort -u)" '"object"' "JSON records are objects"
expect_eq "$(wc -l <"$scratch/json.log")" "$(wc -l <"$scratch/kv.log")" "records in each format"
iconv -f UTF-8 -t UTF-8 "$scratch/json.log" >/dev/null 2>&1 || fail "JSON records: not valid UTF-8"
expect_eq "$(jq -r '[.pid, .ppid, .uid, .euid, .gid, .egid, .inode, .ouid, .ogid, .argc] |
        map(type) | unique[]' \
    "$scratch/json.log" | sort -u | paste -sd ' ')" "number" "types of the numeric fields"

# Back to key=value: numbers bare, null as unset, the library's own words (call, time, id,
# result, tty, dev, mode) bare, the program's text in quotes as decoded. Equal to the key=value run.
jq -r 'to_entries | map(
        if (.value | type) == "number" then "\(.key)=\(.value)"
        elif .value == null then "\(.key)=unset"
        elif .value == true then "\(.key)=yes"
        elif (.key | test("^(call|time|id|result|tty|dev|mode)$")) then "\(.key)=\(.value)"
        else "\(.key)=\"\(.value)\"" end) | join(" ")' "$scratch/json.log" |
    normalize >"$scratch/json-as-kv.log"
normalize <"$scratch/kv.log" >"$scratch/kv-normalized.log"
if ! diff -u "$scratch/kv-normalized.log" "$scratch/json-as-kv.log" >"$scratch/diff"; then
    fail "JSON records differ from the key=value ones:"$'\n'"$(cat "$scratch/diff")"
fi
grep -q 'result=EACCES' "$scratch/kv.log" || fail "the workload left no refused call"
grep -q 'path="' "$scratch/kv.log" || fail "the workload left no PATH search"

# A record cut for length: one object within the bound, marked, argc complete.
write_config "$scratch/json.ini" "destination = file" "file = $log" "format = json"
use_config "$scratch/json.ini"
: >"$log"
big=$(head -c 30000 /dev/zero | tr '\0' '"')
env LD_PRELOAD="$OMBREX_LIBRARY" /bin/sh -c '/bin/true "$1" x; :' sh "$big"
expect_eq "$(wc -l <"$log")" 1 "cut record: lines"
[ "$(wc -c <"$log")" -le 8000 ] || fail "cut record: $(wc -c <"$log") bytes, more than 8000"
expect_eq "$(jq -c '[.truncated, .argc, (.arg1 | test("^(\\\\\")+$")), has("arg2")]' "$log")" \
    '[true,3,true,false]' "cut record: truncated, argc, the kept part of the value"

finish
