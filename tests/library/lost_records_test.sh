#!/usr/bin/env bash
# A record that cannot be delivered is counted, and the next record the same process delivers
# says how many in lost=. The count is the process's own: a forked child starts without its
# parent's, and a vfork child, which runs in its parent's memory, neither takes the parent's
# count nor leaves its own to the parent.
. "$(dirname "$0")/lib.sh"
: "${EXEC_PROBE:?}"

log=$scratch/records.log
: >"$log"
write_config "$scratch/good.ini" "destination = file" "file = $log"
write_config "$scratch/missing.ini" "destination = file" "file = $scratch/missing.log"

# One process that starts programs step by step while the configuration changes under it.
use_config "$scratch/good.ini"
coproc STEPS { env LD_PRELOAD="$OMBREX_LIBRARY" "$EXEC_PROBE" steps /bin/true; }
step() { # CONFIG STEP
    use_config "$scratch/$1.ini"
    echo "$2" >&"${STEPS[1]}"
    local answer
    read -r -t 60 answer <&"${STEPS[0]}" || answer="no answer"
    expect_eq "$answer" ok "step $2 with $1"
}

# Each row: the configuration, the step, and the lost= that the record of the step carries
# ("-" when the record is not delivered, "" when it carries none).
rows=(
    "good|spawn 1|"
    "missing|spawn 3|-"
    "good|fork|"       # the child has not lost its parent's records
    "good|vfork|"      # nor has a vfork child, though it runs in the parent's memory
    "good|spawn 1|3"   # the parent's own three
    "good|spawn 1|"    # reported once
    "missing|spawn 2|-"
    "missing|vfork|-"  # lost by a vfork child: its own count, in the parent's memory
    "missing|fork|-"
    "good|spawn 1|2"   # the parent's two, neither taken nor added to by its children
)
for row in "${rows[@]}"; do
    IFS='|' read -r config action lost <<<"$row"
    before=$(wc -l <"$log")
    step "$config" "$action"
    after=$(wc -l <"$log")
    if [ "$lost" = - ]; then
        expect_eq "$after" "$before" "$row: records delivered"
        continue
    fi
    expect_eq "$after" "$((before + 1))" "$row: records delivered"
    last=$(tail -n 1 "$log")
    expect_eq "$(field lost "$last")" "$lost" "$row: lost="
    expect_eq "$(count_fields lost "$last")" "$([ -n "$lost" ] && echo 1 || echo 0)" \
        "$row: lost fields"
done
exec {STEPS[1]}>&-
wait "$STEPS_PID" 2>/dev/null

# lost= comes right after time and id (and result), ahead of anything that could be cut off.
grep -q '^call=posix_spawn time=[^ ]* id=[^ ]* lost=3 pid=' "$log" ||
    fail "lost= is not in its place: $(grep lost= "$log")"
expect_well_formed "$log"

finish
