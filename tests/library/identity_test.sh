#!/usr/bin/env bash
# Every record of an execution names the file that ran as the kernel's audit records do:
# dev (major:minor in hexadecimal), inode, mode (octal, file type bits included), ouid and
# ogid, equal to what stat(1) says of that file: through a symbolic link, the file it points
# to; for fexecve and execveat, the file of the descriptor; for a refused call, the file that
# was refused. A call that had nothing to run leaves no record.
. "$(dirname "$0")/lib.sh"
: "${EXEC_PROBE:?}"

log=$scratch/records.log
write_config "$scratch/file.ini" "destination = file" "file = $log"
use_config "$scratch/file.ini"

bin=$scratch/bin
mkdir "$bin"
# A set-user-id program of another user (chown clears the bit, so chmod comes after).
cp /bin/true "$bin/setuid-true"
chown 65534:65534 "$bin/setuid-true"
chmod 4755 "$bin/setuid-true"
# A set-group-id one of root's.
cp /bin/true "$bin/setgid-true"
chmod 2711 "$bin/setgid-true"
ln -s setuid-true "$bin/link"
printf '#!/bin/sh\nexit 0\n' >"$bin/plain"
chmod 0644 "$bin/plain"
printf 'exit 0\n' >"$bin/bare"
chmod 0755 "$bin/bare"

# The fields as the record should have them, from stat(1) of FILE (links followed).
expected_identity() { # FILE
    local major minor inode mode owner group
    read -r major minor inode mode owner group < <(stat -L -c '%Hd %Ld %i %f %u %g' "$1")
    printf 'dev=%02x:%02x inode=%s mode=0%o ouid=%s ogid=%s' \
        "$major" "$minor" "$inode" "0x$mode" "$owner" "$group"
}

record_identity() { # RECORD
    local name out=()
    for name in dev inode mode ouid ogid; do
        out+=("$name=$(field "$name" "$1")")
    done
    echo "${out[*]}"
}

# what | entry point | file given | PATH | the file that ran or was refused | result
rows=(
    "set-user-id program|execve|$bin/setuid-true|-|$bin/setuid-true|"
    "set-group-id program|execv|$bin/setgid-true|-|$bin/setgid-true|"
    "through a symbolic link|execve|$bin/link|-|$bin/setuid-true|"
    "through a link along PATH|execvp|link|$bin|$bin/setuid-true|"
    "descriptor of a link|fexecve|$bin/link|-|$bin/setuid-true|"
    "relative to a directory descriptor|execveat|$bin/setgid-true|-|$bin/setgid-true|"
    "posix_spawn through a link|posix_spawn|$bin/link|-|$bin/setuid-true|"
    "posix_spawnp|posix_spawnp|setgid-true|$bin|$bin/setgid-true|"
    "refused: no execute permission|execve|$bin/plain|-|$bin/plain|EACCES"
    "refused by posix_spawn|posix_spawn|$bin/plain|-|$bin/plain|EACCES"
    "run by /bin/sh after ENOEXEC|execvp|bare|$bin|$bin/bare|"
    "missing|execve|$bin/missing|-|-|"
)
for row in "${rows[@]}"; do
    IFS='|' read -r what entry file path ran result <<<"$row"
    : >"$log"
    run=(env)
    [ "$path" != - ] && run=(env PATH="$path")
    "${run[@]}" LD_PRELOAD="$OMBREX_LIBRARY" "$EXEC_PROBE" call "$entry" "$file" x \
        >/dev/null 2>&1
    if [ "$ran" = - ]; then
        expect_eq "$(wc -l <"$log")" 0 "$what: records"
        continue
    fi
    expect_eq "$(wc -l <"$log")" 1 "$what: records"
    r=$(head -n 1 "$log")
    expect_eq "$(record_identity "$r")" "$(expected_identity "$ran")" "$what: identity"
    expect_eq "$(field result "$r")" "$result" "$what: result"
done
expect_well_formed "$log"

# The values themselves: a set-user-id file shows its bits, a link is followed.
: >"$log"
env LD_PRELOAD="$OMBREX_LIBRARY" "$EXEC_PROBE" call execve "$bin/link" x
r=$(cat "$log")
expect_eq "$(field mode "$r") $(field ouid "$r") $(field ogid "$r")" "0104755 65534 65534" \
    "mode and owner of the set-user-id program"

finish
