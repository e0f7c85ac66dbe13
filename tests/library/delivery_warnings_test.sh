#!/usr/bin/env bash
# The warnings of conf and status when this library would lose records: conf, when the library
# ignores its configuration file (why: type, owner, mode, unreadable); status, after its four
# checks, when the destination that the file names cannot take a record now. Standard output
# stays as it was, byte for byte; each warning is one line on standard error.
. "$(dirname "$0")/lib.sh"
: "${OMBREXCTL:?}"
need() { command -v "$1" >/dev/null || cannot_run "$1 is not installed"; }
need python3
need setpriv

export OMBREX_TEST_LIBOMBREX_SO_PATH=$OMBREX_LIBRARY
export OMBREX_TEST_LD_SO_PRELOAD_PATH=$scratch/ld.so.preload
: >"$OMBREX_TEST_LD_SO_PRELOAD_PATH"
library_warning="[WARNING] Using non-default path to libombrex.so: $OMBREX_LIBRARY"
preload_warning="[WARNING] Using non-standard path to ld.so.preload: $OMBREX_TEST_LD_SO_PRELOAD_PATH"
config=$OMBREX_TEST_CONFIG
ignored() { # REASON
    printf '[WARNING] Configuration file ignored (%s), defaults apply: %s' "$1" "$config"
}

# --- conf: each row prepares the file, then names the warning (empty: none). ---
conf_row() { # WHAT SETUP WARNING
    rm -rf "$config"
    eval "$2"
    local out err expected=$library_warning
    out=$("$OMBREXCTL" conf 2>"$scratch/err")
    err=$(cat "$scratch/err")
    [ -n "$3" ] && expected+=$'\n'"$3"
    expect_eq "$err" "$expected" "conf, $1: standard error"
    expect_eq "$(sed -n 1p <<<"$out")" "; Options from config file (or defaults): $config" \
        "conf, $1: the first line"
}
settings='printf "[ombrex]\ndestination = file\n" >"$config"'
conf_row "no file" ":" ""
conf_row "root's, 0644" "$settings; chmod 0644 \"\$config\"" ""
conf_row "mode 0664" "$settings; chmod 0664 \"\$config\"" "$(ignored "mode 0664, group or others may write it")"
conf_row "mode 0646" "$settings; chmod 0646 \"\$config\"" "$(ignored "mode 0646, group or others may write it")"
conf_row "another user's" "$settings; chmod 0644 \"\$config\"; chown 65534 \"\$config\"" \
    "$(ignored "owned by uid 65534, not by root")"
conf_row "a directory" "mkdir \"\$config\"" "$(ignored "not a regular file but a directory")"
conf_row "a FIFO" "mkfifo \"\$config\"" "$(ignored "not a regular file but a FIFO")"
# The listing shows what the library really uses: the defaults, not the ignored file.
rm -rf "$config"
printf '[ombrex]\ndestination = file\n' >"$config"
chmod 0664 "$config"
expect_eq "$("$OMBREXCTL" conf 2>/dev/null | sed -n 3p)" "destination = syslog" \
    "conf lists the defaults of an ignored file"

# A user who may not read the file: the tool and the library copied where that user reaches
# them (the clone may sit where only root may enter).
mkdir "$scratch/nobody"
cp "$OMBREXCTL" "$OMBREX_LIBRARY" "$scratch/nobody/"
chmod -R a+rX "$scratch"
chmod 0600 "$config"
err=$(OMBREX_TEST_LIBOMBREX_SO_PATH=$scratch/nobody/libombrex.so setpriv --reuid 65534 \
    --regid 65534 --clear-groups "$scratch/nobody/ombrexctl" conf 2>&1 >/dev/null)
expect_eq "$err" "[WARNING] Using non-default path to libombrex.so: $scratch/nobody/libombrex.so
$(ignored "cannot be read: Permission denied")" "conf as a user who may not read the file"
rm -rf "$config"

# --- status: each row configures a destination, then names the warning (empty: none). ---
lines="/etc/ld.so.preload:            NOT OK - Ombrex is not enabled.
LD_PRELOAD environment var:    NOT OK - Not set.
Current process (shared libs): NOT OK - Unable to find libombrex.so.
Current process (execve addr): NOT OK - execve() symbol not overloaded, Ombrex is not loaded."
lost() { # REASON PATH
    printf '[WARNING] Records cannot be delivered now (%s): %s' "$1" "$2"
}
status_row() { # WHAT CONFIG-LINES SETUP WARNING
    rm -rf "$config" "$scratch/dest" "$scratch/other"
    printf '[ombrex]\n%b' "$2" >"$config"
    chmod 0644 "$config"
    eval "$3"
    local out err expected="$library_warning"$'\n'"$preload_warning"
    out=$("$OMBREXCTL" status 2>"$scratch/err")
    expect_eq "$?" 0 "status, $1: exit status"
    err=$(cat "$scratch/err")
    [ -n "$4" ] && expected+=$'\n'"$4"
    expect_eq "$out" "$lines" "status, $1: standard output"
    expect_eq "$err" "$expected" "status, $1: standard error"
}
dest=$scratch/dest
to_file="destination = file\nfile = $dest\n"
to_socket="destination = syslog\nsyslog_socket = $dest\n"

# A datagram and a stream socket that a process holds, and one that was bound and left behind.
python3 -c 'import socket, sys, time
d = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); d.bind(sys.argv[1])
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM); s.bind(sys.argv[2]); s.listen()
open(sys.argv[1] + ".ready", "w").close(); time.sleep(60)' "$scratch/held" "$scratch/stream" &
holder=$!
cleanup_hooks+=("kill $holder 2>/dev/null; wait $holder 2>/dev/null")
for _ in $(seq 100); do
    [ -e "$scratch/held.ready" ] && break
    sleep 0.1
done
python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.bind(sys.argv[1])' "$scratch/left"

status_row "a daemon holds the socket" "destination = syslog\nsyslog_socket = $scratch/held\n" \
    ":" ""
status_row "no socket" "$to_socket" ":" "$(lost "nothing listens on the syslog socket" "$dest")"
status_row "a socket nobody holds" "destination = syslog\nsyslog_socket = $scratch/left\n" ":" \
    "$(lost "nothing listens on the syslog socket" "$scratch/left")"
status_row "a stream socket" "destination = syslog\nsyslog_socket = $scratch/stream\n" ":" \
    "$(lost "the syslog socket refuses them: Protocol wrong type for socket" "$scratch/stream")"
status_row "root's log file" "$to_file" ': >"$dest"' ""
status_row "no log file" "$to_file" ":" "$(lost "the log file is missing" "$dest")"
status_row "another user's log file" "$to_file" ': >"$dest"; chown 65534 "$dest"' \
    "$(lost "the log file is not owned by root" "$dest")"
status_row "a symbolic link" "$to_file" ': >"$scratch/other"; ln -s "$scratch/other" "$dest"' \
    "$(lost "the log file is a symbolic link" "$dest")"
status_row "a second name" "$to_file" ': >"$scratch/other"; ln "$scratch/other" "$dest"' \
    "$(lost "the log file has more than one name" "$dest")"
status_row "a directory" "$to_file" 'mkdir "$dest"' \
    "$(lost "the log file cannot be opened: Is a directory" "$dest")"
status_row "recording off" "destination = none\n" ":" ""

finish
