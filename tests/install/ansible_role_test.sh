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

run() { # name, enabled, options (JSON)
    printf '{"ombrex_package_file": "%s", "ombrex_enabled": %s, "ombrex_options": %s}\n' \
        "$deb" "$2" "$3" >"$scratch/$1.vars.json"
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
sandboxed = record" "the library's values for the edge values"
echo "ansible role: ok"
INSIDE

TEST_DIR=$here run_in_private_root bash "$scratch/inside.sh" "$scratch" "${debs[0]}"
