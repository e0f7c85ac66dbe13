#!/usr/bin/env bash
# Nothing lost and every duplicate removable, end to end: the library sends its records to a
# "host" rsyslogd with contrib's forwarding half, which relays them over RELP with TLS to a
# "central" rsyslogd with contrib's server half (see rsyslog.sh). A burst of executions in
# each format, four programs at a time, and half way through the central daemon is killed
# (key=value), or stopped while the host's daemon pauses for half a second (JSON); either is
# started again a second later. Then every execution's record is at the central side exactly
# once after contrib's ombrex-dedupe.jq, each line is one whole JSON object, each record whole
# and verified.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
[ "$(id -u)" -eq 0 ] || skip_or_fail "needs root to write the library's configuration file"
source "$here/rsyslog.sh"

loops=4
per_loop=${OMBREX_RELAY_PER_LOOP:-300}
burst=$((loops * per_loop))
dedupe=$OMBREX_SOURCE_DIR/contrib/rsyslog/ombrex-dedupe.jq

start_central
start_host

# The records of one format at the central side, after removing duplicates: their markers.
markers() { # FORMAT
    jq -c -n -f "$dedupe" "$central_file" |
        jq -r --arg f "$1" 'if .record then .record | capture(" arg1=\"(?<m>relay-" + $f + "-[0-9]+-[0-9]+)\"$").m
                            else select(.arg1? // "" | startswith("relay-" + $f + "-")) | .arg1 end'
}
all_there() { [ "$(markers "$1" | sort -u | wc -l)" -ge "$burst" ]; }

burst_with() { # FORMAT DISTURBANCE
    local format=$1 disturbance=$2 loop pids=()
    configure_library "$format"
    rm -f "$scratch"/half.*
    for loop in $(seq "$loops"); do
        # Only the loop's own executions are recorded: bash builtins start no program.
        LD_PRELOAD=$OMBREX_TEST_LIBRARY_FILE bash -c '
            for ((i = 1; i <= $2; i++)); do
                /bin/true "relay-$1-$i"
                if [ "$i" -eq $(($2 / 2)) ]; then : >"$3"; fi
            done' _ "$format-$loop" "$per_loop" "$scratch/half.$loop" &
        pids+=($!)
    done
    half_way() { [ "$(ls "$scratch"/half.* 2>/dev/null | wc -l)" -ge 1 ]; }
    wait_until 600 half_way || fail "the burst did not get half way"
    case $disturbance in
    kill) kill -KILL "$central_pid" ;;
    stop)
        kill -STOP "$host_pid"
        kill -TERM "$central_pid"
        sleep 0.5
        kill -CONT "$host_pid"
        ;;
    esac
    wait "$central_pid" 2>/dev/null || true
    sleep 1
    start_central
    for loop in "${pids[@]}"; do
        wait "$loop" || fail "a loop of the burst failed"
    done
    rm -f "$OMBREX_TEST_CONFIG"
    wait_until 900 all_there "$format" ||
        fail "$format: $(markers "$format" | sort -u | wc -l) of $burst records arrived: $(tail -5 "$scratch"/*/out)"
}

burst_with kv kill
burst_with json stop
sleep 1

# Every line is one whole JSON object, and jq reads the file to its end.
lines=$(wc -l <"$central_file")
expect_equal "$(jq -c . "$central_file" | wc -l)" "$lines" "lines that are whole JSON objects"
expect_equal "$(tail -c 1 "$central_file" | od -An -c | tr -d ' ')" '\n' "the file ends with a line end"
for format in kv json; do
    expected=$(for loop in $(seq "$loops"); do
        for i in $(seq "$per_loop"); do echo "relay-$format-$loop-$i"; done
    done | sort)
    expect_equal "$(markers "$format" | sort)" "$expected" "$format: each execution exactly once"
done
# Whole and verified: each record ends with its one argument, and the host's kernel proved its
# sender. The duplicates are the same records, not new ones.
expect_equal "$(jq -r 'select(.verified != "yes") | .' "$central_file")" "" "records not verified"
expect_equal "$(jq -r 'select(.record) | .record | select(test(" argc=2 arg0=\"/bin/true\" arg1=\"relay-kv-[0-9]+-[0-9]+\"$") | not)' "$central_file")" \
    "" "key=value records that are not whole"
expect_equal "$(jq -r 'select(.record | not) | select(.argc != 2 or .arg0 != "/bin/true" or (.arg1 | test("^relay-json-[0-9]+-[0-9]+$") | not)) | .' "$central_file")" \
    "" "JSON records that are not whole"
unique=$(jq -c -n -f "$dedupe" "$central_file" | wc -l)
expect_equal "$unique" $((2 * burst)) "records after removing duplicates"
echo "rsyslog relay: $((2 * burst)) executions, $lines lines at the central side," \
    "$((lines - unique)) duplicates removed by id: ok"
