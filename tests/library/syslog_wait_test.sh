#!/usr/bin/env bash
# A full system-log queue: a record waits for room (syslog_wait_ms) and is delivered whole when
# room appears; a process that waited in vain does not wait again, and what it could not
# deliver is counted in the lost= of its next delivered record. Nothing here measures time:
# strace shows the waits, and the records show what arrived.
. "$(dirname "$0")/lib.sh"
: "${EXEC_PROBE:?}"

rsyslogd=$(command -v rsyslogd || echo /usr/sbin/rsyslogd)
[ -x "$rsyslogd" ] || cannot_run "rsyslogd is not installed (Debian package rsyslog)"
command -v strace >/dev/null || cannot_run "strace is not installed (Debian package strace)"

# How many datagrams a socket queues before senders must wait.
queue=$(cat /proc/sys/net/unix/max_dgram_qlen)
burst=$((queue + 40))

wait_for_socket() { # PATH
    local _
    for _ in $(seq 100); do
        [ -S "$1" ] && return 0
        sleep 0.1
    done
    fail "no socket at $1"
    finish
}

# The steps process of exec_probe, preloaded, under strace; step STEP waits for its answer.
start_steps() { # TRACE
    coproc STEPS {
        strace -f -qq -e trace=ppoll -e signal=none -o "$1" \
            env LD_PRELOAD="$OMBREX_LIBRARY" "$EXEC_PROBE" steps /bin/true
    }
}
step() { # STEP
    echo "$1" >&"${STEPS[1]}"
    local answer
    read -r -t 120 answer <&"${STEPS[0]}" || answer="no answer"
    expect_eq "$answer" ok "step $1"
}
stop_steps() {
    exec {STEPS[1]}>&-
    wait "$STEPS_PID" 2>/dev/null
}

# Every argument step-0 ... step-(N-1) in the messages, once each; prints how many arrived.
count_steps() { # MESSAGES N
    grep -o '"step-[0-9]*"' "$1" | sort | uniq -c | awk -v n="$2" '
        { if ($1 != 1) dup++; seen[substr($2, 7) + 0] = 1 }
        END { for (i = 0; i < n; i++) if (i in seen) got++; print got + 0 (dup ? " duplicated" : "") }'
}

# --- A real rsyslogd paused while a burst runs: every record arrives, none is lost. ---
mkdir "$scratch/work"
socket=$scratch/log.sock
messages=$scratch/messages.log
cat >"$scratch/rsyslog.conf" <<CONF
global(workDirectory="$scratch/work")
module(load="imuxsock" SysSock.Use="off")
input(type="imuxsock" Socket="$socket" RateLimit.Interval="0")
template(name="message" type="string" string="%msg%\n")
if \$programname == "ombrex" then action(type="omfile" file="$messages" template="message")
CONF
"$rsyslogd" -n -f "$scratch/rsyslog.conf" -i "$scratch/rsyslogd.pid" >"$scratch/rsyslogd.out" 2>&1 &
daemon=$!
cleanup_hooks+=("kill -CONT $daemon 2>/dev/null; kill $daemon 2>/dev/null; wait $daemon 2>/dev/null")
wait_for_socket "$socket"
# Long enough that the pause never runs out the wait, however slow the machine.
write_config "$scratch/paused.ini" "destination = syslog" "syslog_socket = $socket" \
    "syslog_wait_ms = 30000"
use_config "$scratch/paused.ini"

kill -STOP "$daemon"
start_steps "$scratch/paused.trace"
echo "spawn $burst" >&"${STEPS[1]}"
# The daemon goes on only once the burst has come to the full queue and waits for room, however
# slowly a loaded machine spawns it.
for _ in $(seq 1200); do
    grep -q 'ppoll(' "$scratch/paused.trace" 2>/dev/null && break
    sleep 0.1
done
kill -CONT "$daemon"
read -r -t 120 answer <&"${STEPS[0]}" || answer="no answer"
expect_eq "$answer" ok "burst of $burst while the daemon was paused"
stop_steps
for _ in $(seq 100); do
    [ "$(count_steps "$messages" "$burst")" = "$burst" ] && break
    sleep 0.1
done
expect_eq "$(count_steps "$messages" "$burst")" "$burst" "records that arrived after the pause"
expect_eq "$(grep -c ' lost=' "$messages")" 0 "records that report losses after the pause"
# The burst did wait: its records came to a full queue.
[ "$(grep -c 'ppoll(' "$scratch/paused.trace")" -gt 0 ] ||
    fail "the burst never waited for room: $(head -c 300 "$scratch/paused.trace")"
kill "$daemon"
wait "$daemon" 2>/dev/null

# --- A socket that nobody reads: each process waits once, and counts what it lost. ---
held=$scratch/held.sock
received=$scratch/received.log
: >"$received"
"$EXEC_PROBE" hold "$held" "$received" &
holder=$!
cleanup_hooks+=("kill $holder 2>/dev/null")
wait_for_socket "$held"
write_config "$scratch/held.ini" "destination = syslog" "syslog_socket = $held" \
    "syslog_wait_ms = 200"
use_config "$scratch/held.ini"

start_steps "$scratch/held.trace"
step "spawn $burst" # fills the queue, then waits once and gives up
step fork           # a new process: it waits once too
step fork
step vfork          # so does a vfork child, in its parent's memory
step "spawn 5"      # the steps process itself does not wait again
kill -USR1 "$holder" # the daemon reads again: room in the queue
sleep 0.2
step "spawn 1"
stop_steps

# Each process waited at most once: one timed-out wait for each of the four processes.
waits=$(awk '/ppoll.*= 0 \(Timeout\)/ { n[$1]++ } END { for (p in n) print n[p] }' \
    "$scratch/held.trace" | sort | uniq -c | awk '{ print $1 " x " $2 }' | paste -sd ' ')
expect_eq "$waits" "4 x 1" "processes that waited, by waits per process"

# The records of the steps process either arrived or are counted in the lost= of the last one.
for _ in $(seq 50); do
    grep -q '"step-' "$received" && [ "$(tail -n 1 "$received" | grep -c lost=)" -eq 1 ] && break
    sleep 0.1
done
total=$((burst + 5 + 1))
arrived=$(grep -c 'call=posix_spawn ' "$received")
reported=$(grep -o ' lost=[0-9]*' "$received" | awk -F= '{ s += $2 } END { print s + 0 }')
expect_eq "$((arrived + reported))" "$total" "records that arrived ($arrived) and lost= ($reported)"
expect_eq "$(grep -c ' lost=' "$received")" 1 "records that report losses"
expect_eq "$(tail -n 1 "$received" | grep -c "lost=")" 1 "the last record reports the losses"
[ "$reported" -gt 0 ] || fail "nothing was lost with a full queue"

finish
