#!/usr/bin/env bash
# A multi-threaded program that starts hundreds of programs from several threads at once
# (fork + exec, vfork + exec, posix_spawn) never hangs, and every start leaves one record.
. "$(dirname "$0")/lib.sh"
: "${EXEC_STORM:?}"

log=$scratch/records.log
: >"$log"
write_config "$scratch/file.ini" "destination = file" "file = $log"

threads=8
runs=60
# Only the storm itself is preloaded (not timeout), so every record is one of its starts.
use_config "$scratch/file.ini"
started=$(timeout -k 5 300 env LD_PRELOAD="$OMBREX_LIBRARY" "$EXEC_STORM" "$threads" "$runs" /bin/true)
status=$?
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    fail "the program hung (killed by timeout)"
fi
expect_eq "$status" 0 "exit status"
expect_eq "$started" $((threads * runs)) "programs that ran"
expect_eq "$(wc -l <"$log")" $((threads * runs)) "records"
expect_well_formed "$log"
calls=$(record_fields <"$log" | awk -F'\t' '$1 == "call" { print $2 }' | sort | uniq -c |
    awk '{ print $2 "=" $1 }' | tr '\n' ' ')
expect_eq "$calls" "execv=160 execve=160 posix_spawn=160 " "records per entry point"

finish
