#!/usr/bin/env bash
# Arguments, file names and working directories are the caller's text: none of them can start
# a second record, hide part of one, or put bytes into the log that are not valid UTF-8.
. "$(dirname "$0")/lib.sh"

log=$scratch/records.log
: >"$log"
write_config "$scratch/file.ini" "destination = file" "file = $log"

forged=$(printf 'x\ncall=execve time=2000-01-01T00:00:00.000000Z pid=1 file="/bin/evil" argc=0')
invalid=$(printf 'ok\377\376\300\257end')
quotes=$(printf 'a"b\\c')
terminal=$(printf '\033[31mred\r\t')
unicode=$(printf 'gr\303\274\303\237e \342\202\254 \342\200\250 \342\200\256')
workdir=$(printf '%s/dir\nname\377' "$scratch")
mkdir "$workdir"
program="$scratch/run"$'\n'"me"
cp /bin/true "$program"

# The preloaded shell executes the program; the trailing ':' keeps it from replacing itself.
(cd "$workdir" && preloaded "$scratch/file.ini" /bin/sh -c '"$@"; :' sh "$program" "$forged" \
    "$invalid" "$quotes" "$terminal" "$unicode")

record=$(cat "$log")
expect_eq "$(wc -l <"$log")" 1 "lines for one execution"
expect_well_formed "$log"
expect_eq "$(count_fields call "$record")" 1 "call fields"
expect_eq "$(count_fields file "$record")" 1 "file fields"
expect_eq "$(field arg1 "$record")" \
    'x\ncall=execve time=2000-01-01T00:00:00.000000Z pid=1 file=\"/bin/evil\" argc=0' "newline"
expect_eq "$(field arg2 "$record")" 'ok\xff\xfe\xc0\xafend' "invalid UTF-8"
expect_eq "$(field arg3 "$record")" 'a\"b\\c' "quote and backslash"
expect_eq "$(field arg4 "$record")" '\x1b[31mred\r\t' "terminal controls"
expect_eq "$(field arg5 "$record")" "$(printf 'gr\303\274\303\237e \342\202\254 ')"'\u2028 \u202e' \
    "valid UTF-8 kept, line and direction controls escaped"
expect_eq "$(field cwd "$record")" "$scratch/dir\\nname\\xff" "working directory"
expect_eq "$(field file "$record")" "$scratch/run\\nme" "file"

if ! iconv -f UTF-8 -t UTF-8 "$log" >/dev/null 2>&1; then
    fail "the log is not valid UTF-8"
fi
if LC_ALL=C grep -q $'[\x01-\x09\x0b-\x1f\x7f]' "$log"; then
    fail "the log holds a control character"
fi

finish
