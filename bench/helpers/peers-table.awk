# The tables of bench/peers, from its data file: tab-separated lines of
#   meta     KEY VALUE                          rounds, execs, burst, load
#   variant  I ROLE LABEL NAME STATUS           ROLE bare, empty, none, kv, json, syslog,
#                                               auditd, bpftrace or acct; LABEL the library's
#                                               ("library", "baseline") or "-"; STATUS "ok" or
#                                               why the recorder is unavailable
#   sample   I WORKLOAD CPU_US COUNT DAEMON_NS RECORDS
#                                               one run of WORKLOAD (fork or script): CPU time
#                                               of the caller and its children, executions
#                                               (fork) or runs (script), the daemon's CPU time
#                                               and the records it received meanwhile
#   burst    I EXECUTIONS DELIVERED TWICE WALL_US DAEMON_NS NOTE
#   note     TEXT                               a line printed under the table
# Ratios are to bare: median to median, minimum to minimum (the median of an even number of
# rounds is the lower middle one). The daemon's time is per record it received, in the
# fork+exec rounds.
BEGIN { FS = "\t" }
$1 == "meta" { meta[$2] = $3 }
$1 == "variant" {
    order[variants++] = $2
    role[$2] = $3; label[$2] = $4; name[$2] = $5; status[$2] = $6
    if ($3 == "bare" || $3 == "empty" || $3 == "auditd" || $3 == "bpftrace" || $3 == "acct")
        of[$3] = $2
    else
        of[$4, $3] = $2
    if ($4 != "-" && !($4 in seenLabel)) { seenLabel[$4] = 1; labels[nLabels++] = $4 }
}
$1 == "sample" {
    key = $2 SUBSEP $3
    value[key, ++n[key]] = $4 / $5
    if ($3 == "fork" && $6 != "-" && $7 > 0) {
        key = $2 SUBSEP "daemon"
        value[key, ++n[key]] = $6 / 1000 / $7
    }
}
$1 == "note" { notes[nNotes++] = $2 }
$1 == "burst" {
    bursted[$2] = 1
    executions[$2] = $3; delivered[$2] = $4; twice[$2] = $5; wall[$2] = $6
    daemonNs[$2] = $7; note[$2] = $8
}

# stats I WHAT: sorts the values of I and WHAT; sets med and low; returns their number.
function stats(i, what,    key, count, a, b, t) {
    key = i SUBSEP what
    count = n[key] + 0
    for (a = 2; a <= count; a++)
        for (b = a; b > 1 && value[key, b - 1] > value[key, b]; b--) {
            t = value[key, b]; value[key, b] = value[key, b - 1]; value[key, b - 1] = t
        }
    if (count > 0) { med = value[key, int((count + 1) / 2)]; low = value[key, 1] }
    return count
}

function usable(i) { return (i != "") && status[i] == "ok" && n[i, "fork"] > 0 }

# Medians and minima of every variant, kept for the table and the goals.
function summarise(    v, i, w) {
    for (v = 0; v < variants; v++) {
        i = order[v]
        for (w = 0; w < 2; w++) {
            if (stats(i, work[w]) > 0) { median[i, work[w]] = med; least[i, work[w]] = low }
        }
        if (stats(i, "daemon") > 0) { median[i, "daemon"] = med; least[i, "daemon"] = low }
    }
}

function ratio(i, w, kind) {
    if (kind == "median") return median[i, w] / median[of["bare"], w]
    return least[i, w] / least[of["bare"], w]
}

# The in-process ratio plus the daemon's time per record over bare's time per execution.
function total(i) {
    if (!((i, "daemon") in median)) return ratio(i, "fork", "median")
    return ratio(i, "fork", "median") + median[i, "daemon"] / median[of["bare"], "fork"]
}

function row(i,    line, daemon) {
    if (status[i] != "ok") { printf "  %-30s %s\n", name[i], status[i]; return }
    if (!usable(of["bare"]) || n[i, "fork"] == 0) { printf "  %-30s no samples\n", name[i]; return }
    daemon = sprintf("%9s %6s %6s", "-", "-", "-")
    if ((i, "daemon") in median)
        daemon = sprintf("%9.1f %6.1f %6.3f", median[i, "daemon"], least[i, "daemon"], total(i))
    line = sprintf("  %-30s %7.3f %6.3f %8.1f   ", name[i], ratio(i, "fork", "median"),
                   ratio(i, "fork", "least"), median[i, "fork"])
    if (n[i, "script"] > 0)
        line = line sprintf("%7.3f %6.3f %7.1f", ratio(i, "script", "median"),
                            ratio(i, "script", "least"), median[i, "script"] / 1000)
    else
        line = line sprintf("%7s %6s %7s", "-", "-", "-")
    print line "   " daemon
}

function table(    v) {
    printf "Recorders side by side: %s rounds, each with %s fork+execs of /bin/true and one shell\n",
        meta["rounds"], meta["execs"]
    printf "script of 200 commands under every recorder (load average at the start: %s)\n",
        meta["load"]
    print "  CPU time (user + system) of the calling program and all its children, as a ratio to"
    print "  bare; the recorder's daemon: its CPU time per record it received, and the total"
    print "  (ratio plus the daemon's time over bare's time per execution)"
    printf "  %-30s %24s   %22s   %23s\n", "", "fork+exec of /bin/true", "script of 200 commands",
        "daemon, us per record"
    printf "  %-30s %7s %6s %8s   %7s %6s %7s   %9s %6s %6s\n", "recorder", "median", "min",
        "us/exec", "median", "min", "ms/run", "median", "min", "total"
    for (v = 0; v < variants; v++) row(order[v])
    for (v = 0; v < nNotes; v++) print "  " notes[v]
}

function verdict(ok) { return ok ? "met" : "NOT MET" }

# atMost(A, B): A <= B as printed, to three decimals, so that a verdict agrees with its figures.
function atMost(a, b) { return sprintf("%.3f", a) + 0 <= sprintf("%.3f", b) + 0 }

# lacking(IDS): the names of the rows among IDS (separated by blanks) without samples.
function lacking(ids,    k, parts, count, names) {
    count = split(ids, parts, " ")
    for (k = 1; k <= count; k++)
        if (!usable(parts[k]))
            names = names (names == "" ? "" : "; ") (parts[k] in name ? name[parts[k]] : "a row")
    return names
}

function cannot(l, goal, ids) {
    printf "  %s: %s: cannot tell without %s\n", l, goal, lacking(ids)
}

function goals(l,    syslog, kv, none, bpf, audit, goal, own, file, x, ids) {
    syslog = of[l, "syslog"]; kv = of[l, "kv"]; none = of[l, "none"]
    bpf = of["bpftrace"]; audit = of["auditd"]
    goal = "to syslog, in-process plus daemon at or below auditd's"
    if (lacking(syslog " " audit) != "") cannot(l, goal, syslog " " audit)
    else
        printf "  %s: %s (%.3f against %.3f): %s\n", l, goal, total(syslog), total(audit),
            verdict(atMost(total(syslog), total(audit)))
    goal = "the record's own cost at or below bpftrace's whole in-process cost"
    ids = none " " syslog " " kv " " bpf
    if (lacking(ids) != "") cannot(l, goal, ids)
    else {
        own = ratio(syslog, "fork", "median") - ratio(none, "fork", "median")
        file = ratio(kv, "fork", "median") - ratio(none, "fork", "median")
        x = ratio(bpf, "fork", "median") - 1
        printf "  %s: %s\n", l, goal
        printf "  %" length(l) "s   (syslog %+.3f, file kv %+.3f over destination = none;" \
            " bpftrace %+.3f): %s\n", "", own, file, x, verdict(atMost(own, x) && atMost(file, x))
    }
    goal = "destination = none within 0.02 of the empty preloaded object"
    if (lacking(none " " of["empty"]) != "") cannot(l, goal, none " " of["empty"])
    else {
        x = ratio(none, "fork", "median") - ratio(of["empty"], "fork", "median")
        printf "  %s: %s (%+.3f): %s\n", l, goal, x, verdict(atMost(x, 0.02))
    }
}

function bursts(    v, i, daemon, line) {
    printf "Burst: %s fork+execs of /bin/true one after the other under each recorder, and the\n",
        meta["burst"]
    print "records it delivered (counted by the number each execution carries in its arguments)"
    printf "  %-30s %10s %8s %8s %6s %8s %13s  %s\n", "recorder", "executions", "records",
        "missing", "twice", "burst s", "daemon CPU s", "note"
    for (v = 0; v < variants; v++) {
        i = order[v]
        if (!(i in bursted) || status[i] != "ok") continue
        daemon = daemonNs[i] == "-" ? "-" : sprintf("%.3f", daemonNs[i] / 1e9)
        line = sprintf("  %-30s %10d %8s %8s %6s %8.2f %13s  %s", name[i], executions[i],
            delivered[i], delivered[i] == "-" ? "-" : executions[i] - delivered[i], twice[i],
            wall[i] / 1e6, daemon, note[i])
        sub(/ +$/, "", line)
        print line
    }
}

END {
    work[0] = "fork"; work[1] = "script"
    summarise()
    table()
    if (nLabels > 0) {
        print ""
        print "Goals (medians of the fork+exec rounds):"
        for (l = 0; l < nLabels; l++) goals(labels[l])
    }
    print ""
    bursts()
}
