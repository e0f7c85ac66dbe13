#!/usr/bin/env bash
# A record is an execution or a refused execution. Every entry point on each kind of file: the
# call comes to the same (status, errno, spawn result) with the library as without it; a file
# that is not there (ENOENT, ENOTDIR) leaves no record; a file the kernel refuses leaves one
# record with result=<its error>; a program that runs leaves one record without result.
. "$(dirname "$0")/lib.sh"
: "${EXEC_PROBE:?}"

log=$scratch/records.log
write_config "$scratch/file.ini" "destination = file" "file = $log"
use_config "$scratch/file.ini"

cp /bin/true "$scratch/prog"
chmod 0755 "$scratch/prog"
cp /bin/true "$scratch/no-permission"
chmod 0644 "$scratch/no-permission"
: >"$scratch/plain"
mkdir "$scratch/directory"
ln -s loop-b "$scratch/loop-a"
ln -s loop-a "$scratch/loop-b"
ln -s prog "$scratch/link"

# Runs the probe without and with the library; checks that both came to the same, and leaves
# what the probe printed (with the library) in $out.
try() { # WHAT ENTRY FILE [RUNNER...]
    local what=$1 entry=$2 file=$3
    shift 3
    local without
    without=$("$@" "$EXEC_PROBE" try "$entry" "$file" 2>/dev/null | sed 's/^pid [0-9]*$/pid N/')
    : >"$log"
    out=$("$@" env LD_PRELOAD="$OMBREX_LIBRARY" "$EXEC_PROBE" try "$entry" "$file" 2>/dev/null)
    expect_eq "$(sed 's/^pid [0-9]*$/pid N/' <<<"$out")" "$without" "$what: $entry: outcome"
}

# Checks the records of one call: none, or one with the given result ("" for an execution).
expect_records() { # WHAT ENTRY RESULT|none
    local what=$1 entry=$2 result=$3
    local count
    count=$(wc -l <"$log")
    if [ "$result" = none ]; then
        expect_eq "$count" 0 "$what: $entry: records"
        return
    fi
    expect_eq "$count" 1 "$what: $entry: records"
    local r
    r=$(cat "$log")
    expect_eq "$(field call "$r")" "$entry" "$what: $entry: call"
    expect_eq "$(field result "$r")" "$result" "$what: $entry: result"
    expect_eq "$(count_fields result "$r")" "$([ -n "$result" ] && echo 1 || echo 0)" \
        "$what: $entry: result fields"
    case $entry in
    posix_spawn*)
        # The new process, started by this one; none when the spawn failed.
        if [ -z "$result" ]; then
            expect_eq "$(field pid "$r")" "$(sed -n 's/^pid //p' <<<"$out")" "$what: $entry: pid"
        else
            expect_eq "$(count_fields pid "$r")" 0 "$what: $entry: pid of a failed spawn"
        fi
        expect_eq "$(field exe "$r")" "$(readlink -f "$EXEC_PROBE")" "$what: $entry: exe"
        ;;
    esac
}

# what | file | what it comes to: ran, or the error, which is also the record's result
cases=(
    "runs|$scratch/prog|ran"
    "missing|$scratch/none/prog|ENOENT"
    "not a directory|$scratch/plain/prog|ENOTDIR"
    "no execute permission|$scratch/no-permission|EACCES"
    "a directory|$scratch/directory|EACCES"
    "a loop of links|$scratch/loop-a|ELOOP"
)
entries=(execve execv execvp execvpe execl execlp execle fexecve execveat posix_spawn posix_spawnp)
for row in "${cases[@]}"; do
    IFS='|' read -r what file outcome <<<"$row"
    for entry in "${entries[@]}"; do
        # The probe opens the file (fexecve) or its directory (execveat) first.
        case "$entry:$what" in
        fexecve:missing | fexecve:not\ a\ directory | fexecve:a\ loop\ of\ links) continue ;;
        execveat:missing | execveat:not\ a\ directory) continue ;;
        esac
        try "$what" "$entry" "$file"
        case $outcome in
        ran) expect_records "$what" "$entry" "" ;;
        ENOENT | ENOTDIR) expect_records "$what" "$entry" none ;;
        *) expect_records "$what" "$entry" "$outcome" ;;
        esac
    done
done

# A link that execveat is told not to follow.
try "link not followed" execveat-nofollow "$scratch/link"
expect_records "link not followed" execveat ELOOP

# A file system mounted noexec: the kernel refuses every file on it.
if unshare -m --propagation private true 2>/dev/null; then
    mkdir "$scratch/mnt"
    for entry in execve posix_spawn; do
        try "noexec mount" "$entry" "$scratch/mnt/prog" unshare -m --propagation private \
            bash -c 'mount -t tmpfs -o noexec tmpfs "$0" && cp /bin/true "$0/prog" &&
                chmod 0755 "$0/prog" && exec "$@"' "$scratch/mnt"
        expect_records "noexec mount" "$entry" EACCES
    done
else
    cannot_run "noexec mount: no mount namespace here"
fi

expect_well_formed "$log"
finish
