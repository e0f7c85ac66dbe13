#!/usr/bin/env bash
# Every exec-family entry point and posix_spawn/posix_spawnp: exactly one record per call,
# and the program runs as the entry point would run it (arguments, environment, status).
. "$(dirname "$0")/lib.sh"
: "${EXEC_PROBE:?}"

log=$scratch/records.log
write_config "$scratch/file.ini" "destination = file" "file = $log"
# A destination that fails inside the record path with an error of its own (EISDIR), so that
# an errno leaking out of it would show.
mkdir "$scratch/directory"
write_config "$scratch/broken.ini" "destination = file" "file = $scratch/directory"

# The name-searching entry points find the probe through PATH.
probe_dir=$(dirname "$EXEC_PROBE")
probe_name=$(basename "$EXEC_PROBE")
export PATH="$probe_dir:$PATH"

# entry, whether it takes a name to search for, whether it passes an explicit environment
entries=(
    "execve path env" "execv path -" "execvp name -" "execvpe name env" "execl path -"
    "execlp name -" "execle path env" "fexecve path env" "execveat path env"
    "posix_spawn path env" "posix_spawnp name env"
)

for row in "${entries[@]}"; do
    read -r entry kind env <<<"$row"
    file=$EXEC_PROBE
    expected_file=$EXEC_PROBE
    if [ "$kind" = name ]; then
        file=$probe_name
        expected_file=$probe_name
    fi
    case $entry in
    fexecve) expected_file=$(readlink -f "$EXEC_PROBE") ;; # what the descriptor refers to
    execveat) expected_file=$probe_name ;;                 # relative to the directory descriptor
    esac

    : >"$log"
    out=$(preloaded "$scratch/file.ini" "$EXEC_PROBE" call "$entry" "$file" zero report "x y")
    status=$?
    expect_eq "$status" 0 "$entry: exit status"
    expected_env="(unset)"
    [ "$env" = env ] && expected_env=passed
    expect_eq "$out" "$(printf 'arg: zero\narg: report\narg: x y\nenv: %s' "$expected_env")" \
        "$entry: what the executed program got"

    mapfile -t records <"$log"
    expect_eq "${#records[@]}" 1 "$entry: records for one execution"
    r=${records[0]:-}
    expect_eq "$(field call "$r")" "$entry" "$entry: call"
    expect_eq "$(field file "$r")" "$expected_file" "$entry: file"
    expect_eq "$(field argc "$r")" 3 "$entry: argc"
    expect_eq "$(field arg0 "$r")" zero "$entry: arg0"
    expect_eq "$(field arg2 "$r")" "x y" "$entry: arg2"
    case $entry in
    fexecve | execveat)
        [ -n "$(field fd "$r")" ] || fail "$entry: no fd field"
        ;;
    esac
    # posix_spawn records in the caller; every other entry point in the process it replaces.
    if [[ $entry == posix_spawn* ]]; then
        probe_pid_field=pid
    else
        probe_pid_field=ppid
    fi
    [ -n "$(field $probe_pid_field "$r")" ] || fail "$entry: no $probe_pid_field"

    # A call that fails returns the real call's error. One on a missing file ran nothing and
    # leaves no record; fexecve of /dev/null is refused (EACCES) and is recorded as such.
    : >"$log"
    preloaded "$scratch/file.ini" "$EXEC_PROBE" fail "$entry" || fail "$entry: failing call"
    if [ "$entry" = fexecve ]; then
        expect_eq "$(wc -l <"$log")" 1 "$entry: records for one refused call"
        expect_eq "$(field result "$(cat "$log")")" EACCES "$entry: result of the refused call"
    else
        expect_eq "$(wc -l <"$log")" 0 "$entry: records for one call on a missing file"
    fi
    preloaded "$scratch/broken.ini" "$EXEC_PROBE" fail "$entry" ||
        fail "$entry: errno of the failing call with a failing destination"
done

# A null or an empty argument vector is recorded without arguments.
for mode in null-argv empty-argv; do
    : >"$log"
    preloaded "$scratch/file.ini" "$EXEC_PROBE" "$mode" /bin/true
    expect_eq "$?" 0 "$mode: exit status"
    r=$(cat "$log")
    expect_eq "$(wc -l <"$log")" 1 "$mode: records"
    expect_eq "$(field argc "$r")" 0 "$mode: argc"
    expect_eq "$(field file "$r")" /bin/true "$mode: file"
    expect_eq "$(count_fields arg0 "$r")" 0 "$mode: no argument fields"
done

# errno is left as the caller had it when the call itself does not set it.
preloaded "$scratch/broken.ini" "$EXEC_PROBE" spawn-keeps-errno /bin/true ||
    fail "errno changed by a successful posix_spawn"

# No descriptor of the library survives into the executed program, whatever the destination.
write_config "$scratch/syslog.ini" "destination = syslog" "syslog_socket = $scratch/no-socket"
list_fds='ls -l /proc/self/fd | sed -n "s/.* \([0-9]*\) -> .*/\1/p" | sort -n | tr "\n" " "; :'
plain=$(/bin/sh -c "$list_fds")
for config in file syslog; do
    with=$(preloaded "$scratch/$config.ini" /bin/sh -c "$list_fds")
    expect_eq "$with" "$plain" "descriptors in a program started with the $config destination"
done

finish
