#!/usr/bin/env bash
# A record in a log file is written whole or not at all, with nobody's cooperation: a record
# that fitted under its file size limit when the library looked, but that another writer's
# record pushed past the limit before it was written, is cut short by the kernel; the piece
# that was written becomes a blank line, and the records around it stay whole lines.
#
# strace holds the writer back at the two moments that matter: before its write, while a
# second process appends a record, and after its short write, while a third one appends
# another record behind the piece.
. "$(dirname "$0")/lib.sh"
: "${HOST_PROBE:?}"
command -v strace >/dev/null || cannot_run "strace is not installed (Debian package strace)"

log=$scratch/records.log
write_config "$scratch/file.ini" "destination = file" "file = $log"
use_config "$scratch/file.ini"

# host_probe fsize DELTA 0 LOG: RLIMIT_FSIZE at the log's size + DELTA, then /bin/true.
append() { # DELTA
    env LD_PRELOAD="$OMBREX_LIBRARY" "$HOST_PROBE" fsize "$1" 0 "$log" >/dev/null
}

# How long one such record is; they differ in their process ids only.
: >"$log"
append 1000000
one=$(wc -c <"$log")
: >"$log"

# Room for one record and a half: the first record fits when the writer looks, and only half
# of it once the second writer's record came first.
strace -f -qq -o "$scratch/trace" -e trace=writev,lseek,pwrite64 -e signal=none \
    -e inject=writev:delay_enter=3s -e inject=lseek:delay_enter=3s \
    env LD_PRELOAD="$OMBREX_LIBRARY" "$HOST_PROBE" fsize $((one + one / 2)) 0 "$log" \
    >"$scratch/out" &
writer=$!
sleep 1.5
append 1000000
sleep 3
append 1000000
wait "$writer"
expect_eq "$(cat "$scratch/out")" "/bin/true: exit 0" "the writer's program"

mapfile -t lines <"$log"
expect_eq "${#lines[@]}" 3 "lines of the log"
expect_eq "$(tail -c 1 "$log" | od -An -c | tr -d ' ')" '\n' "the end of the log"
for i in 0 2; do
    [[ ${lines[$i]:-} =~ ^call=execve\ .*\ argc=1\ arg0=\"/bin/true\"$ ]] ||
        fail "line $((i + 1)) is not a whole record: ${lines[$i]:-}"
done
piece=${lines[1]:-x}
[[ $piece =~ ^\ +$ ]] || fail "line 2 is not blank: $piece"
first=$((${#lines[0]} + 1))
expect_eq "$((first + ${#piece} + 1 + ${#lines[2]} + 1))" "$(wc -c <"$log")" "bytes of the log"
# What the kernel wrote of the cut record is what was blanked out, in its place.
short=$(sed -n 's/^[0-9]* *writev([0-9]*, \[{iov_base="call=.*) = \([0-9]*\) (DELAYED)$/\1/p' "$scratch/trace")
expect_eq "$short" "$((${#piece} + 1))" "bytes of the short write"
grep -q "pwrite64(.*, $short, $first) = $short" "$scratch/trace" ||
    fail "no repair where the piece is:"$'\n'"$(cat "$scratch/trace")"
expect_well_formed "$log"

finish
