# Compares the kernel's view of a workload (strace -f output, first file) with the records the
# library wrote for the same workload run again (second file). Used by bench/workload.
#
# An execution is known by the file it names and its arguments, as the caller passed them:
# both sides quote and escape printable ASCII alike, and the workload passes nothing else.
# The compiler's temporary files get random names, so "/ccXXXXXX." stands for each of them.
#
# The kernel's side counts only the exec calls made by dynamically linked processes: an image
# is dynamic when the dynamic linker ran in it, which shows as its check of
# /etc/ld.so.preload right after the exec. A child of fork, vfork or clone has its parent's
# image until it calls exec itself. The first exec of the trace (the tracer starting the
# workload) is nobody's to record.
#
# Records are parsed by field name, so fields added later change nothing. A record names the
# file that ran in "path" when it has it; otherwise, for a call that searches PATH with a name
# without a slash, the name is looked up among the kernel's executions with the same
# arguments. A record with "result" claims a refused call, one without claims an execution.
#
# Variables: traceFile names the first file; details=1 lists the records and executions behind
# each count that is not zero and should be.

BEGIN {
    SEP = "\001"
    nimages = 0
    nevents = 0
    nrecords = 0
}

function quoted(s) {
    if (match(s, /^"([^"\\]|\\.)*"/)) {
        return substr(s, 1, RLENGTH)
    }
    return ""
}

function normalized(key) {
    gsub(/\/cc[A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9]\./,
         "/ccXXXXXX.", key)
    return key
}

function unquoted(q) {
    return substr(q, 2, length(q) - 2)
}

function basename(path, parts, n) {
    n = split(path, parts, "/")
    return parts[n]
}

function shown(key, out) {
    out = key
    gsub(SEP, " ", out)
    if (length(out) > 160) {
        out = substr(out, 1, 157) "..."
    }
    return out
}

function errnoClass(e) {
    return (e == "ENOENT" || e == "ENOTDIR") ? "absent" : "other"
}

# ---- the trace --------------------------------------------------------------------------

# Sets execPath and execArgs from an exec call's text; 0 when it is not one that can be read.
function parseExec(call, s, q) {
    if (call ~ /^execveat\(/) {
        s = call
        sub(/^execveat\([^,]*, /, "", s)
    } else {
        s = substr(call, length("execve(") + 1)
    }
    execPath = quoted(s)
    if (execPath == "") {
        return 0
    }
    s = substr(s, length(execPath) + 1)
    if (substr(s, 1, 3) != ", [") {
        return 0
    }
    s = substr(s, 4)
    execArgs = ""
    while ((q = quoted(s)) != "") {
        execArgs = execArgs SEP q
        s = substr(s, length(q) + 1)
        if (substr(s, 1, 2) == ", ") {
            s = substr(s, 3)
        }
    }
    return 1
}

function resultOf(call, parts, n) {
    n = split(call, parts, / = /)
    return parts[n]
}

# The image a process had when its own image was not known yet: its parent's at the fork.
function resolve(image, p, hops) {
    hops = 0
    while (image ~ /^i/ && hops++ < 100000) {
        p = substr(image, 2)
        if (!(p in parentImage)) {
            return "root"
        }
        image = parentImage[p]
    }
    return image
}

FILENAME == traceFile {
    # strace pads short process ids: "1041  execve(...".
    pid = $1
    call = $0
    sub(/^[0-9]+ +/, "", call)
    if (call ~ / <unfinished \.\.\.>$/) {
        sub(/ <unfinished \.\.\.>$/, "", call)
        pending[pid] = call
        next
    }
    if (call ~ /^<\.\.\. [a-z0-9_]+ resumed>/) {
        sub(/^<\.\.\. [a-z0-9_]+ resumed>/, "", call)
        call = pending[pid] call
        delete pending[pid]
    }
    if (call ~ /^\+\+\+ superseded by execve in pid /) {
        # A thread called exec: the new image goes on under the process's own id.
        other = call
        sub(/^\+\+\+ superseded by execve in pid /, "", other)
        sub(/ .*/, "", other)
        if (other in own) {
            own[pid] = own[other]
        }
        next
    }
    if (call ~ /^(access|faccessat|faccessat2)\((AT_FDCWD, )?"\/etc\/ld\.so\.preload"/) {
        if (pid in own) {
            dynamic[own[pid]] = 1
        }
        next
    }
    if (call ~ /^(clone|clone3|fork|vfork)\(/) {
        child = resultOf(call)
        if (child ~ /^[0-9]+$/ && child > 0) {
            if (child in parentImage) {
                reusedPids++
            }
            parentImage[child] = (pid in own) ? own[pid] : "i" pid
        }
        next
    }
    if (call ~ /^execve(at)?\(/) {
        if (!parseExec(call)) {
            unreadable++
            next
        }
        nevents++
        eventCaller[nevents] = (pid in own) ? own[pid] : "i" pid
        eventKey[nevents] = normalized(execPath execArgs)
        eventBase[nevents] = normalized(basename(unquoted(execPath)) execArgs)
        result = resultOf(call)
        split(result, words, " ")
        if (words[1] == "0") {
            eventErrno[nevents] = ""
            own[pid] = ++nimages
        } else {
            eventErrno[nevents] = words[2]
        }
    }
    next
}

# ---- the records ------------------------------------------------------------------------

# Fills field[] from one record; 0 when the line is not a record.
function parseRecord(line, s, k, v) {
    split("", field)
    s = line
    while (s != "") {
        if (!match(s, /^[a-z0-9_]+=/)) {
            return 0
        }
        k = substr(s, 1, RLENGTH - 1)
        s = substr(s, RLENGTH + 1)
        if (substr(s, 1, 1) == "\"") {
            v = quoted(s)
            if (v == "") {
                return 0
            }
        } else {
            match(s, /^[^ ]*/)
            v = substr(s, 1, RLENGTH)
        }
        field[k] = v
        s = substr(s, length(v) + 1)
        sub(/^ /, "", s)
    }
    return ("call" in field)
}

{
    if (!parseRecord($0)) {
        notRecords++
        next
    }
    nrecords++
    if ("truncated" in field) {
        truncatedRecords++
    }
    args = ""
    for (i = 0; i < field["argc"] + 0; i++) {
        if (("arg" i) in field) {
            args = args SEP field["arg" i]
        }
    }
    recordFile[nrecords] = ("path" in field) ? field["path"] : field["file"]
    recordArgs[nrecords] = args
    recordCall[nrecords] = field["call"]
    recordResult[nrecords] = ("result" in field) ? field["result"] : ""
    recordSearched[nrecords] = !("path" in field) && field["file"] !~ /\// &&
        field["call"] ~ /^(execvp|execvpe|execlp|posix_spawnp)$/
}

# ---- the comparison ---------------------------------------------------------------------

END {
    if (nevents == 0) {
        print "compare.awk: no exec call could be read from " traceFile > "/dev/stderr"
        exit 2
    }
    for (e = 1; e <= nevents; e++) {
        image = resolve(eventCaller[e])
        key = eventKey[e]
        if (image == "root") {
            launches++
            continue
        }
        if (!(image in dynamic)) {
            if (eventErrno[e] == "") {
                staticExecutions++
            }
            continue
        }
        keys[key] = 1
        if (eventErrno[e] == "") {
            executions++
            done[key]++
            # Where a searched name ran, for the records that give only the name.
            ran[eventBase[e]] = key
        } else {
            refused[key, eventErrno[e]]++
            errnos[key] = errnos[key] " " eventErrno[e]
            refusedAll[errnoClass(eventErrno[e])]++
            if (!(eventBase[e] in tried)) {
                tried[eventBase[e]] = key
            }
        }
    }

    for (r = 1; r <= nrecords; r++) {
        key = normalized(recordFile[r] recordArgs[r])
        if (recordSearched[r]) {
            base = normalized(unquoted(recordFile[r]) recordArgs[r])
            if (base in ran) {
                key = ran[base]
            } else if (base in tried) {
                key = tried[base]
            }
        }
        keys[key] = 1
        if (recordResult[r] == "") {
            claimed[key]++
        } else {
            resultsOf[key] = resultsOf[key] " " recordResult[r]
        }
    }

    for (key in keys) {
        k = done[key] + 0
        c = claimed[key] + 0
        matched = (c < k) ? c : k
        missed += k - matched
        if (k > matched && details) {
            print "  missed:          " shown(key)
        }
        extra = c - matched
        # Records that say the call was refused take the refusals the kernel saw first.
        n = split(resultsOf[key], list, " ")
        for (i = 1; i <= n; i++) {
            if (used[key, list[i]] < refused[key, list[i]]) {
                used[key, list[i]]++
                refusalsRecorded++
            } else {
                wrongRefusals++
                if (details) {
                    print "  wrong result=" list[i] ": " shown(key)
                }
            }
        }
        # A refused call recorded as if it ran: one record for each refusal left.
        n = split(errnos[key], list, " ")
        for (i = 1; i <= n && extra > 0; i++) {
            if (used[key, list[i]] < refused[key, list[i]]) {
                used[key, list[i]]++
                extra--
                failedRecords[errnoClass(list[i])]++
                failedByErrno[list[i]]++
                if (details) {
                    print "  " list[i] " recorded: " shown(key)
                }
            }
        }
        if (extra > 0 && k > 0) {
            duplicated += extra
            once += (matched > extra) ? matched - extra : 0
            if (details) {
                print "  recorded twice:  " shown(key)
            }
        } else {
            once += matched
            if (extra > 0) {
                nothing += extra
                if (details) {
                    print "  no such call:    " shown(key)
                }
            }
        }
    }

    other = ""
    for (e in failedByErrno) {
        if (errnoClass(e) == "other") {
            other = other (other == "" ? "" : ", ") e " " failedByErrno[e]
        }
    }
    printf "  %-62s %6d\n", "successful executions (kernel, dynamically linked callers)", executions
    printf "  %-62s %6d\n", "recorded exactly once", once
    printf "  %-62s %6d\n", "missed", missed
    printf "  %-62s %6d\n", "duplicated (extra records of an execution)", duplicated
    printf "  %-62s %6d\n", "records of failed calls, ENOENT or ENOTDIR", failedRecords["absent"]
    printf "  %-62s %6d%s\n", "records of failed calls, other errors, as if they ran",
        failedRecords["other"], other == "" ? "" : "  (" other ")"
    printf "  %-62s %6d\n", "records of refused calls with the kernel's result=", refusalsRecorded
    printf "  %-62s %6d\n", "records with a result= that the kernel did not give", wrongRefusals
    printf "  %-62s %6d\n", "records of executions that did not happen (no such call)", nothing
    printf "  %-62s %6d\n", "records in all", nrecords
    printf "  kernel: %d failed exec calls by dynamically linked callers (ENOENT or ENOTDIR %d, other %d);\n",
        refusedAll["absent"] + refusedAll["other"], refusedAll["absent"], refusedAll["other"]
    printf "  %d executions by statically linked callers and %d launch of the workload left out\n",
        staticExecutions, launches
    if (nrecords > 0 && executions > 0) {
        printf "  precision %.1f %% (records true to what happened), recall %.1f %%\n",
            100 * (once + refusalsRecorded) / nrecords, 100 * once / executions
    }
    if (truncatedRecords + notRecords + unreadable + reusedPids > 0) {
        printf "  note: %d records cut for length, %d lines not records, %d exec calls unreadable, %d process ids reused\n",
            truncatedRecords, notRecords, unreadable, reusedPids
    }
    met = (executions > 0 && once == executions && missed + duplicated + nothing == 0 &&
           failedRecords["absent"] + failedRecords["other"] + wrongRefusals == 0)
    printf "  goal: every execution recorded exactly once, no record of an execution that did not happen: %s\n",
        met ? "met" : "NOT MET"
}
