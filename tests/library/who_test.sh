#!/usr/bin/env bash
# Who ran it: auid and ses (the login uid and audit session the kernel keeps for the process,
# "unset" when it holds none), tty (the controlling terminal, "none" without one) and exe (the
# calling program's own file).
. "$(dirname "$0")/lib.sh"

log=$scratch/records.log
write_config "$scratch/file.ini" "destination = file" "file = $log"
use_config "$scratch/file.ini"

# The values as the kernel shows them to a process of this test.
as_recorded() { # VALUE
    if [ "$1" = 4294967295 ]; then echo unset; else echo "$1"; fi
}

# A process without a terminal, with the login of this test (whatever it is).
r=$(: >"$log"; setsid -w env LD_PRELOAD="$OMBREX_LIBRARY" /bin/sh -c \
    'cat /proc/self/loginuid >"$1.auid"; cat /proc/self/sessionid >"$1.ses"; /bin/true; :' \
    sh "$scratch/ids" </dev/null; tail -n 1 "$log")
expect_eq "$(field file "$r")" /bin/true "no terminal: the record"
expect_eq "$(field auid "$r")" "$(as_recorded "$(cat "$scratch/ids.auid")")" "auid as the kernel has it"
expect_eq "$(field ses "$r")" "$(as_recorded "$(cat "$scratch/ids.ses")")" "ses as the kernel has it"
expect_eq "$(field tty "$r")" none "no controlling terminal"
expect_eq "$(field exe "$r")" "$(readlink -f /bin/sh)" "exe: the shell that ran /bin/true"

# A login: the process sets its login uid, as pam_loginuid does, and so starts a new session.
if ! (echo 4321 >/proc/self/loginuid) 2>/dev/null; then
    cannot_run "the kernel keeps no login uid, or this process may not set one"
fi
: >"$log"
env LD_PRELOAD="$OMBREX_LIBRARY" /bin/sh -c \
    'echo 4321 >/proc/self/loginuid && cat /proc/self/sessionid >"$1" && /bin/true; :' \
    sh "$scratch/session" </dev/null
r=$(tail -n 1 "$log")
expect_eq "$(field file "$r")" /bin/true "after a login: the record"
expect_eq "$(field auid "$r")" 4321 "after a login: auid"
expect_eq "$(field ses "$r")" "$(cat "$scratch/session")" "after a login: ses"
[ "$(field ses "$r")" != unset ] || fail "after a login: no session"
# auid stays who logged in, whoever the process becomes.
: >"$log"
env LD_PRELOAD="$OMBREX_LIBRARY" /bin/sh -c \
    'echo 4321 >/proc/self/loginuid && exec setpriv --reuid=65534 --regid=65534 --clear-groups \
        /bin/sh -c "/bin/true; :"' </dev/null
r=$(tail -n 1 "$log")
expect_eq "$(field auid "$r") $(field uid "$r") $(field euid "$r")" "4321 65534 65534" \
    "after a login and a change of user: auid uid euid"

# On a terminal: the pseudo-terminal that script(1) gives the command.
command -v script >/dev/null || cannot_run "script is not installed (Debian package bsdutils)"
: >"$log"
script -qec "env LD_PRELOAD='$OMBREX_LIBRARY' /bin/sh -c 'tty >$scratch/tty; /bin/true; :'" \
    /dev/null </dev/null >/dev/null 2>&1
r=$(tail -n 1 "$log")
expect_eq "$(field file "$r")" /bin/true "on a terminal: the record"
expect_eq "/dev/$(field tty "$r")" "$(cat "$scratch/tty")" "on a terminal: tty"

finish
