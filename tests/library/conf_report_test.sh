#!/usr/bin/env bash
# The tool's conf and version reports against this library (not a stand-in): the listing
# names the configuration file in use and every option with its current value.
. "$(dirname "$0")/lib.sh"
: "${OMBREXCTL:?}"

export OMBREX_TEST_LIBOMBREX_SO_PATH=$OMBREX_LIBRARY

ini=$scratch/ombrex.ini
cat >"$ini" <<'INI'
; written by the test
[ombrex]
destination = file
file = /var/log/exec.log
syslog_facility = local2
INI
use_config "$ini"
out=$("$OMBREXCTL" conf 2>/dev/null)
expect_eq "$?" 0 "conf status"
expect_eq "$out" "; Options from config file (or defaults): $OMBREX_TEST_CONFIG
[ombrex]
destination = file
format = kv
file = /var/log/exec.log
syslog_socket = /dev/log
syslog_facility = local2
syslog_tag = ombrex
syslog_wait_ms = 1000
sandboxed = skip" "conf listing of the configuration file"

# Neither a variable of the environment nor a file that others may write changes anything.
for setup in "rm -f $OMBREX_TEST_CONFIG" "chmod 0666 $OMBREX_TEST_CONFIG"; do
    use_config "$ini"
    eval "$setup"
    out=$(OMBREX_CONFIG_FILE=$ini "$OMBREXCTL" conf 2>/dev/null)
    expect_eq "$(printf '%s\n' "$out" | sed -n 1p)" \
        "; Options from config file (or defaults): $OMBREX_TEST_CONFIG" "conf header ($setup)"
    expect_eq "$(printf '%s\n' "$out" | sed -n 3p)" "destination = syslog" \
        "conf default destination ($setup)"
done

out=$("$OMBREXCTL" version 2>/dev/null)
expect_eq "$?" 0 "version status"
expect_eq "$(printf '%s\n' "$out" | sed -n 2p)" \
    "Ombrex library version:  2.5.2 (path: $OMBREX_LIBRARY)" "library version line"

finish
