#!/usr/bin/env bash
# Runs the Ansible role of contrib/ansible with connection local, as root inside a private
# mount namespace with throw-away overlays: enable twice (the second run changes nothing),
# then disable twice (likewise). "changed" must follow the tool's success lines. Values that
# the library would ignore are refused before the host is touched.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
source "$here/namespace.sh"

need_command ansible-playbook ansible-core
/usr/bin/python3 -c 'import apt' 2>/dev/null || skip_or_fail "python3-apt is not installed (Debian package python3-apt)"
debs=("$OMBREX_DEB_DIR"/ombrex_*.deb)
[ -f "${debs[0]}" ] || fail "no package in $OMBREX_DEB_DIR (install.deb_package builds it)"

cat >"$scratch/playbook.yml" <<'PLAYBOOK'
- name: Ombrex role under test
  hosts: localhost
  gather_facts: false
  roles:
    - ombrex
PLAYBOOK

# Summarises a run from Ansible's default output: one line per task that ran, "name changed"
# or "name ok", then the recap's "changed=N ... failed=N".
cat >"$scratch/summary.py" <<'PYTHON'
import re, sys
task = None
for line in open(sys.argv[1]):
    header = re.match(r"TASK \[(?:ombrex : )?(.*)\] \**$", line)
    if header:
        task = header.group(1)
        continue
    result = re.match(r"(ok|changed|skipping|failed|fatal): \[localhost\]", line)
    if result and task is not None:
        if result.group(1) in ("ok", "changed"):
            print(task, result.group(1))
        task = None
        continue
    recap = re.match(r"localhost +: .*(changed=\d+) .*(failed=\d+)", line)
    if recap:
        print(recap.group(1), recap.group(2))
PYTHON

cat >"$scratch/inside.sh" <<'INSIDE'
set -euo pipefail
source "$TEST_DIR/assertions.sh"
scratch=$1
deb=$2
unset OMBREX_TEST_LD_SO_PRELOAD_PATH OMBREX_TEST_LIBOMBREX_SO_PATH
export HOME=$scratch/home TMPDIR=$scratch/tmp LC_ALL=C.UTF-8
mkdir -p "$HOME" "$TMPDIR"
export ANSIBLE_ROLES_PATH=$OMBREX_SOURCE_DIR/contrib/ansible/roles
export ANSIBLE_STDOUT_CALLBACK=default ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_LOCAL_TEMP=$scratch/ansible-local ANSIBLE_REMOTE_TEMP=$scratch/ansible-remote
export ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 ANSIBLE_LOCALHOST_WARNING=0

run() { # name, enabled, options (JSON), [more variables (JSON members)]
    printf '{"ombrex_package_file": "%s", "ombrex_enabled": %s, "ombrex_options": %s%s}\n' \
        "$deb" "$2" "$3" "${4:+, $4}" >"$scratch/$1.vars.json"
    local rc=0
    ansible-playbook -i localhost, -c local "$scratch/playbook.yml" \
        -e "@$scratch/$1.vars.json" >"$scratch/$1.log" 2>"$scratch/$1.err" || rc=$?
    /usr/bin/python3 "$scratch/summary.py" "$scratch/$1.log" >"$scratch/$1.summary"
    grep -q '^changed=' "$scratch/$1.summary" ||
        fail "run $1: no recap (exit $rc): $(cat "$scratch/$1.log" "$scratch/$1.err")"
    return $rc
}
task() { # run, task name
    awk -v name="$2" '{ state = $NF; sub(/ [a-z]+$/, ""); if ($0 == name) print state }' \
        "$scratch/$1.summary"
}
summary() { cat "$scratch/$1.summary"; }

records=$scratch/records.log
: >"$records" # the library appends to an existing file only
options='{"destination": "file", "file": "'$records'"}'

run enable1 true "$options" || fail "first enable run failed: $(summary enable1)"
expect_equal "$(task enable1 'Install the package')" changed "first run, install: $(summary enable1)"
expect_equal "$(task enable1 'Write /etc/ombrex.ini')" changed "first run, configuration"
expect_equal "$(task enable1 'Enable the library')" changed "first run, enable"
expect_equal "$(task enable1 'Check that the library is at work')" ok "first run, check"
library=$(dpkg -L ombrex | grep '/libombrex\.so$')
expect_equal "$(cat /etc/ld.so.preload)" "$library" "preload file after the first run"
expect_equal "$(grep -v '^;' /etc/ombrex.ini)" "[ombrex]
destination = file
file = $records" "/etc/ombrex.ini"
expect_equal "$(stat -c '%U %a' /etc/ombrex.ini)" "root 644" "owner and mode of /etc/ombrex.ini"
# The check ran ombrexctl status in a new process (env searches for it), which the library
# recorded.
grep -q 'file="/usr/sbin/ombrexctl" path="/usr/sbin/ombrexctl" argc=2 arg0="/usr/sbin/ombrexctl" arg1="status"' \
    "$records" ||
    fail "the library did not record the check: $(cat "$records")"

run enable2 true "$options" || fail "second enable run failed: $(summary enable2)"
expect_equal "$(task enable2 'Enable the library')" ok "second run, enable"
expect_contains "$(summary enable2)" "changed=0 failed=0" "second run"
expect_equal "$(cat /etc/ld.so.preload)" "$library" "preload file after the second run"

# The rules that leave executions out, as lists: each list one line of its option. A fresh
# shell then starts a program that they leave out and one that they do not.
true_file=$(readlink -f /bin/true)
rules='"ombrex_skip_program": ["'$true_file'", "/usr/lib/gcc/*/*/cc1*"], "ombrex_skip_uid": [4000, "4100-4199"], "ombrex_skip_auid": ["unset", 4321]'
run rules true "$options" "$rules" || fail "run with rules failed: $(summary rules)"
expect_equal "$(task rules 'Write /etc/ombrex.ini')" changed "run with rules, configuration"
expect_equal "$(grep -v '^;' /etc/ombrex.ini)" "[ombrex]
destination = file
file = $records
skip_program = $true_file /usr/lib/gcc/*/*/cc1*
skip_uid = 4000 4100-4199
skip_auid = unset 4321" "/etc/ombrex.ini with rules"
env -i /bin/sh -c 'echo 4322 >/proc/self/loginuid; /bin/true ombrex-role-left-out; /bin/echo ombrex-role-kept >/dev/null; :'
grep -q 'arg1="ombrex-role-kept"' "$records" || fail "the program that no rule names was not recorded"
if grep -q 'ombrex-role-left-out' "$records"; then
    fail "the program that skip_program names was recorded"
fi
# A value the library would ignore is a mistake the role reports, each value on its own, before
# anything on the host changes; so is a rule among ombrex_options. (The library's own reading
# of the same values is checked at the end.)
before=$(cat /etc/ombrex.ini)
bad_program=(bin/true /usr//bin/x /usr/bin/ /a/./b '/a/[x' '/a/[z-a]' '/a/[a-Z]' '/a/[[:alpha:]]'
    '/a/x\' '/a/[a-/]' '/[!]' '/usr/bin/two words')
bad_exe=(/usr/bin/../bin/env)
bad_uid=(root -1 4294967295 10-5 12345678901 1- unset)
bad_auid=(0x10 unset-5)
as_json() { jq -cn '$ARGS.positional' --args "$@"; }
bad_rules='"ombrex_skip_program": '$(as_json "${bad_program[@]}")', "ombrex_skip_exe": '$(as_json "${bad_exe[@]}")',
    "ombrex_skip_uid": '$(as_json "${bad_uid[@]}")', "ombrex_skip_auid": '$(as_json "${bad_auid[@]}")
if run bad-rules true "$options" "$bad_rules"; then
    fail "bad rules were accepted"
fi
for option in program exe uid auid; do
    list=bad_$option[@]
    for value in "${!list}"; do
        grep -qF "failed: [localhost] (item=skip_$option $value)" "$scratch/bad-rules.log" ||
            fail "the role accepted skip_$option $value: $(cat "$scratch/bad-rules.log")"
    done
done
expect_equal "$(task bad-rules 'Install the package')" "" "install after refused rules"
if run rule-as-option true '{"destination": "file", "file": "'$records'", "skip_uid": "998"}'; then
    fail "a rule among ombrex_options was accepted"
fi
grep -qF 'ombrex_options: skip_uid is given as the list ombrex_skip_uid' "$scratch/rule-as-option.log" ||
    fail "a rule among ombrex_options: $(cat "$scratch/rule-as-option.log")"
if run rule-as-text true "$options" '"ombrex_skip_uid": "998"'; then
    fail "a rule given as text, not as a list, was accepted"
fi
expect_equal "$(cat /etc/ombrex.ini)" "$before" "/etc/ombrex.ini after refused rules"
run no-rules true "$options" || fail "run without rules failed: $(summary no-rules)"
expect_equal "$(grep -c '^skip_' /etc/ombrex.ini)" 0 "/etc/ombrex.ini without rules"

run disable1 false "$options" || fail "first disable run failed: $(summary disable1)"
expect_equal "$(task disable1 'Disable the library')" changed "first disable run"
expect_contains "$(summary disable1)" "changed=1 failed=0" "first disable run"
expect_equal "$(cat /etc/ld.so.preload)" "" "preload file after disabling"

run disable2 false "$options" || fail "second disable run failed: $(summary disable2)"
expect_equal "$(task disable2 'Disable the library')" ok "second disable run"
expect_contains "$(summary disable2)" "changed=0 failed=0" "second disable run"

# A value with a line break would smuggle lines of its own into the file: refused, and the
# file stays as it was.
before=$(cat /etc/ombrex.ini)
if run injected false '{"file": "/var/log/x\n[other]"}'; then
    fail "an option value with a line break was accepted"
fi
expect_contains "$(summary injected)" "failed=1" "run with a bad option"
expect_equal "$(cat /etc/ombrex.ini)" "$before" "/etc/ombrex.ini after a refused run"

# Values that the library would replace with its defaults, one per option, and an unknown key:
# each refused by the first task, before anything on the host changes. The library itself
# ignores each of them (conf lists the defaults), and takes the edge values that the role
# accepts, so the role's patterns and the library agree at their borders.
long=$(printf 'x%.0s' $(seq 106))
bad='{"destination": "sylog", "format": "xml", "file": "var/log/x", "syslog_socket": "/'$long'x",
      "syslog_facility": "local8", "syslog_tag": "a'$long'", "syslog_wait_ms": "60001",
      "sandboxed": "sometimes", "destinaton": "file"}'
if run refused true "$bad"; then
    fail "invalid option values were accepted"
fi
for key in destination format file syslog_socket syslog_facility syslog_tag syslog_wait_ms \
    sandboxed destinaton; do
    grep -q "^failed: \[localhost\] (item=$key)" "$scratch/refused.log" ||
        fail "the role accepted the bad value of $key: $(cat "$scratch/refused.log")"
done
expect_equal "$(task refused 'Install the package')" "" "install after a refused run"
expect_equal "$(cat /etc/ombrex.ini)" "$before" "/etc/ombrex.ini after refused values"
rm /etc/ombrex.ini
defaults=$(/usr/sbin/ombrexctl conf 2>/dev/null | tail -n +2)
jq -r 'to_entries[] | "\(.key) = \(.value)"' <<<"$bad" | { echo "[ombrex]"; cat; } >/etc/ombrex.ini
expect_equal "$(/usr/sbin/ombrexctl conf 2>/dev/null | tail -n +2)" "$defaults" \
    "the library's values for the refused ones"

edges='{"destination": "NONE", "format": "Json", "file": "/var/log/a;b", "syslog_socket": "/'$long'",
        "syslog_facility": "LOCAL7", "syslog_tag": "'${long:0:29}'._-", "syslog_wait_ms": "60000",
        "sandboxed": "Record"}'
run edges false "$edges" || fail "edge values were refused: $(cat "$scratch/edges.log")"
expect_equal "$(/usr/sbin/ombrexctl conf 2>/dev/null | tail -n +2)" "[ombrex]
destination = none
format = json
file = /var/log/a;b
syslog_socket = /$long
syslog_facility = local7
syslog_tag = ${long:0:29}._-
syslog_wait_ms = 60000
sandboxed = record
skip_program = 
skip_exe = 
skip_uid = 
skip_auid = " "the library's values for the edge values"

# The rules' values that the role refused are the ones the library drops (conf lists none of
# them, the blank-separated value aside, which the library would read as two), and the edge
# values that it takes, the library keeps.
{
    echo "[ombrex]"
    echo "skip_program = ${bad_program[*]:0:${#bad_program[@]}-1}"
    echo "skip_exe = ${bad_exe[*]}"
    echo "skip_uid = ${bad_uid[*]}"
    echo "skip_auid = ${bad_auid[*]}"
} >/etc/ombrex.ini
expect_equal "$(/usr/sbin/ombrexctl conf 2>/dev/null | grep '^skip_')" "skip_program = 
skip_exe = 
skip_uid = 
skip_auid = " "the library's lists of the refused rules"
edge_program=('/usr/lib/gcc/*/*/cc1*' '/opt/[]-a]/[!]]/x\/y' '/opt/[--[:]?' '/opt/.x/..y/[Z-a]')
edge_rules='"ombrex_skip_program": '$(as_json "${edge_program[@]}")', "ombrex_skip_exe": ["/usr/bin/x"],
    "ombrex_skip_uid": [0, "4294967294", "5-5"], "ombrex_skip_auid": ["UNSET", "0-4294967294"]'
run edge-rules false "$options" "$edge_rules" || fail "edge rules were refused: $(cat "$scratch/edge-rules.log")"
expect_equal "$(/usr/sbin/ombrexctl conf 2>/dev/null | grep '^skip_')" "skip_program = ${edge_program[*]}
skip_exe = /usr/bin/x
skip_uid = 0 4294967294 5-5
skip_auid = unset 0-4294967294" "the library's lists of the edge rules"
echo "ansible role: ok"
INSIDE

TEST_DIR=$here run_in_private_root bash "$scratch/inside.sh" "$scratch" "${debs[0]}"
