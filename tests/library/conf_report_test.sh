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
sandboxed = skip
skip_program = 
skip_exe = 
skip_uid = 
skip_auid = " "conf listing of the configuration file"

# The rules' lists as they are in effect: every valid value, one blank apart, and none of the
# values that are ignored.
# conf_rules WHAT LINES EXPECTED: the four rule lines of the listing for the file's lines.
conf_rules() {
    write_config "$ini" "${@:2:$#-2}"
    use_config "$ini"
    out=$("$OMBREXCTL" conf 2>/dev/null | grep '^skip_')
    expect_eq "$out" "${*: -1}" "conf rules: $1"
}
conf_rules "valid values" \
    "skip_program = /usr/lib/gcc/*/*/cc1plus   /usr/bin/x86_64-linux-gnu-as" \
    "skip_exe = /usr/sbin/monitor-agent" "skip_uid = 998	1000-1999" "skip_auid = unset 0" \
    "skip_program = /usr/lib/gcc/*/*/cc1plus /usr/bin/x86_64-linux-gnu-as
skip_exe = /usr/sbin/monitor-agent
skip_uid = 998 1000-1999
skip_auid = unset 0"
conf_rules "invalid values" \
    "skip_program = bin/tool /usr/bin/[x /usr//bin/x /usr/bin/x\\" \
    "skip_exe = /usr/bin/../bin/env /usr/bin/" "skip_uid = -1 4294967295 10-5 unset root" \
    "skip_auid = 1- 99999999999 0x10" \
    "skip_program = 
skip_exe = 
skip_uid = 
skip_auid = "
conf_rules "valid and invalid values mixed" \
    "skip_program = tool /opt/*/bin/tool /opt/[x" "skip_uid = x 65534 -2" \
    "skip_auid = UNSET 4321-4320 4321" \
    "skip_program = /opt/*/bin/tool
skip_exe = 
skip_uid = 65534
skip_auid = unset 4321"

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
