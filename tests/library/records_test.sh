#!/usr/bin/env bash
# The library preloaded into a shell: one record per program the shell starts, naming the
# process, its parent, the users, the working directory, the file and the arguments.
. "$(dirname "$0")/lib.sh"
: "${EXEC_PROBE:?}" "${EXEC_STORM:?}"

log=$scratch/records.log
: >"$log"
write_config "$scratch/file.ini" "destination = file" "file = $log"
workdir="$scratch/work dir"
mkdir "$workdir"

start=$(date -u +%s)
# The trailing ':' keeps the shell from replacing itself with the last program.
shell_pid=$(cd "$workdir" && preloaded "$scratch/file.ini" /bin/sh -c \
    'echo $$; /bin/echo one "two three" >/dev/null; /bin/true; ls . >/dev/null; :')
end=$(date -u +%s)

mapfile -t records <"$log"
expect_eq "${#records[@]}" 3 "number of records"
expect_well_formed "$log"

expected_files=("/bin/echo" "/bin/true" "$(command -v ls)")
expected_argc=(3 1 2)
expected_arg0=("/bin/echo" "/bin/true" "ls")
pids=()
for i in 0 1 2; do
    r=${records[$i]:-}
    expect_eq "$(field call "$r")" execve "record $i: call"
    expect_eq "$(field ppid "$r")" "$shell_pid" "record $i: ppid"
    expect_eq "$(field uid "$r")" "$(id -ru)" "record $i: uid"
    expect_eq "$(field euid "$r")" "$(id -u)" "record $i: euid"
    expect_eq "$(field gid "$r")" "$(id -rg)" "record $i: gid"
    expect_eq "$(field egid "$r")" "$(id -g)" "record $i: egid"
    expect_eq "$(field cwd "$r")" "$workdir" "record $i: cwd"
    expect_eq "$(field file "$r")" "${expected_files[$i]}" "record $i: file"
    expect_eq "$(field argc "$r")" "${expected_argc[$i]}" "record $i: argc"
    expect_eq "$(field arg0 "$r")" "${expected_arg0[$i]}" "record $i: arg0"
    expect_eq "$(count_fields call "$r")" 1 "record $i: one call field"
    pids+=("$(field pid "$r")")

    # The id: the same clock reading as time, to the nanosecond, the writing process and its
    # record number (the shell's vfork children count on in the shell's memory).
    id=$(field id "$r")
    stamp=$(field time "$r")
    if [[ ! $id =~ ^([0-9]+)\.([0-9]{6})[0-9]{3}-([0-9]+)-[1-9][0-9]*$ ]]; then
        fail "record $i: id [$id] is not SECONDS.NANOSECONDS-PID-N"
    else
        expect_eq "$(date -u -d "@${BASH_REMATCH[1]}" +%Y-%m-%dT%H:%M:%S).${BASH_REMATCH[2]}Z" \
            "$stamp" "record $i: the time of the id"
        expect_eq "${BASH_REMATCH[3]}" "$(field pid "$r")" "record $i: the process of the id"
    fi

    if [[ ! $stamp =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{6}Z$ ]]; then
        fail "record $i: time [$stamp] is not an ISO 8601 UTC time"
    else
        seconds=$(date -u -d "${stamp%.*}Z" +%s)
        if [ "$seconds" -lt "$start" ] || [ "$seconds" -gt "$end" ]; then
            fail "record $i: time $stamp outside the run ($start..$end)"
        fi
    fi
done
expect_eq "$(field arg1 "${records[0]:-}")" "one" "echo arg1"
expect_eq "$(field arg2 "${records[0]:-}")" "two three" "echo arg2"
expect_eq "$(field arg1 "${records[2]:-}")" "." "ls arg1"
distinct=$(printf '%s\n' "${pids[@]}" | sort -u | wc -l)
expect_eq "$distinct" 3 "distinct pids of the three programs"

# One process's records are numbered 1, 2, 3 in its ids, under its own process id (for
# posix_spawn the caller's, ppid); records of processes that run at the same moment differ.
: >"$log"
spawner=$(printf 'spawn 3\n' | preloaded "$scratch/file.ini" "$EXEC_PROBE" steps /bin/true)
expect_eq "$spawner" ok "three posix_spawns"
mapfile -t records <"$log"
expect_eq "${#records[@]}" 3 "records of three posix_spawns"
for i in 0 1 2; do
    r=${records[$i]:-}
    expect_eq "$(field id "$r" | cut -d- -f2-)" "$(field ppid "$r")-$((i + 1))" \
        "posix_spawn $i: sender and number of the id"
done
: >"$log"
started=$(env LD_PRELOAD="$OMBREX_LIBRARY" "$EXEC_STORM" 4 50 /bin/true)
expect_eq "$started $(wc -l <"$log")" "200 200" "programs and records of four threads"
expect_eq "$(grep -o ' id=[^ ]*' "$log" | sort | uniq -d | head -1)" "" "ids of concurrent records"

# Logging off: the programs run, nothing is written.
: >"$log"
write_config "$scratch/none.ini" "destination = none" "file = $log"
out=$(preloaded "$scratch/none.ini" /bin/sh -c '/bin/echo quiet; :')
expect_eq "$out" quiet "output with logging off"
expect_eq "$(wc -c <"$log")" 0 "bytes written with logging off"

# The configuration decides the same whatever its size: a small file is read in a way of its
# own (on the stack, so that logging off costs no memory), a larger one in full. The line that
# decides comes last, where a part read alone would miss it; in a file larger than the 4 KiB
# that are read, it comes first.
sized_config() { # SIZE DESTINATION
    local deciding=("destination = $2" "file = $log")
    if [ "$1" -le 4096 ]; then
        printf '[ombrex]\ndestination = none\n' >"$scratch/sized.ini"
    else
        printf '[ombrex]\n%s\n%s\n' "${deciding[@]}" >"$scratch/sized.ini"
    fi
    local tail=0
    [ "$1" -le 4096 ] && tail=$(printf '%s\n%s\n' "${deciding[@]}" | wc -c)
    local pad=$(($1 - $(wc -c <"$scratch/sized.ini") - tail - 1))
    printf '#%*s\n' "$((pad - 1))" "" | tr ' ' c >>"$scratch/sized.ini"
    [ "$1" -le 4096 ] && printf '%s\n%s\n' "${deciding[@]}" >>"$scratch/sized.ini"
    expect_eq "$(wc -c <"$scratch/sized.ini")" "$1" "size of the configuration"
}
for size in 100 254 255 256 257 3000 5000; do
    for destination in none file; do
        sized_config "$size" "$destination"
        : >"$log"
        preloaded "$scratch/sized.ini" /bin/sh -c '/bin/true; :'
        expected=$([ "$destination" = file ] && echo 1 || echo 0)
        expect_eq "$(wc -l <"$log")" "$expected" \
            "destination = $destination in a file of $size bytes: records"
    done
done
: >"$log"

# The record is written by the process that executes: a program that was already running
# when the configuration changed follows the new file at its next execution.
write_config "$scratch/switch.ini" "destination = none" "file = $log"
preloaded "$scratch/switch.ini" /bin/sh -c \
    "/bin/true; printf '[ombrex]\ndestination = file\nfile = %s\n' '$log' >'$OMBREX_TEST_CONFIG'; /bin/true; :"
expect_eq "$(wc -l <"$log")" 1 "records after the configuration switched on"

finish
