#!/usr/bin/env bash
# enable, status and disable against the system's own dynamic linker, end to end.
#
# Usage: real_linker_test.sh OMBREXCTL LIBRARY OTHER [--records]
#
# As root, in a private mount namespace, overlays over /etc and /usr/local/lib take every
# write, so the machine's own files never change. LIBRARY is put at
# /usr/local/lib/libombrex.so, and ombrexctl runs with no overrides at all. A status started
# after enable must find the library loaded in front of libc and execve interposed, because
# the dynamic linker itself preloaded it; after disable it must not. With --records, LIBRARY
# is the real logging library: a program started after enable must be recorded in the file
# named by /etc/ombrex.ini, and one started after disable must not.
#
# Then disable runs on preload files that list the library among other entries, the way the
# dynamic linker reads them (split at blanks, TABs, LFs and ':', '#' comments anywhere):
# OTHER, a library that does nothing, stands for another product's entries. For each file
# the objects from /usr/local/lib that a fresh program has mapped are printed and checked,
# before and after: disable must leave the other products loaded and the library not.
#
# Last, the preload file is mounted over its name from a small file system, so that it can
# only be rewritten in place: a failed enable must leave what a fresh program loads as it was.
#
# Exit 77 when root or mount namespaces are not available (1 under CI=true, where this test
# must run).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/namespace.sh"

readonly preload=/etc/ld.so.preload
readonly installed=/usr/local/lib/libombrex.so
readonly config=/etc/ombrex.ini

# Runs inside the namespace: $1 scratch directory, $2 ombrexctl, $3 library, $4 the other
# product's library, $5 --records or "".
inside() {
    local scratch=$1 tool=$2 library=$3 other=$4 records=$5
    local failures=0

    # The tool keeps the lock for the system's preload file below /run.
    mount_overlays "$scratch" /etc /usr/local/lib /run || return 77

    # Start from a machine without the library enabled, whatever the real one holds.
    rm -f "$preload" "$config"
    install -m 0755 "$library" "$installed"

    if [ "$records" = --records ]; then
        : >"$scratch/records.log"
        printf '[ombrex]\ndestination = file\nfile = %s\n' "$scratch/records.log" >"$config"
    fi

    # Nothing inherited: no LD_PRELOAD, no overrides. A sanitized build passes its options on.
    local clean=(env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin)
    if [ -n "${ASAN_OPTIONS+set}" ]; then
        clean+=("ASAN_OPTIONS=$ASAN_OPTIONS")
    fi

    # expect NAME STATUS STDOUT STDERR COMMAND...: exact bytes and exit status.
    expect() {
        local name=$1 status=$2 out=$3 err=$4 rc=0
        shift 4
        "$@" >"$scratch/out" 2>"$scratch/err" || rc=$?
        printf '%s' "$out" >"$scratch/out.expected"
        printf '%s' "$err" >"$scratch/err.expected"
        if ! cmp -s "$scratch/out" "$scratch/out.expected"; then
            echo "FAIL: $name: standard output differs:" >&2
            diff -u "$scratch/out.expected" "$scratch/out" >&2 || true
            failures=$((failures + 1))
        fi
        if ! cmp -s "$scratch/err" "$scratch/err.expected"; then
            echo "FAIL: $name: standard error differs:" >&2
            diff -u "$scratch/err.expected" "$scratch/err" >&2 || true
            failures=$((failures + 1))
        fi
        if [ "$rc" -ne "$status" ]; then
            echo "FAIL: $name: exit status $rc, expected $status" >&2
            failures=$((failures + 1))
        fi
    }

    expect_file() {
        local name=$1 content=$2
        printf '%s' "$content" >"$scratch/file.expected"
        if ! cmp -s "$preload" "$scratch/file.expected"; then
            echo "FAIL: $name: $preload holds:" >&2
            od -c "$preload" >&2 || true
            failures=$((failures + 1))
        fi
    }

    # A fresh program, started by a fresh shell, each with the machine's preload file applied.
    expect_recorded() {
        local name=$1 marker=$2 wanted=$3
        "${clean[@]}" /bin/sh -c "/bin/echo $marker >/dev/null"
        if [ "$records" != --records ]; then
            return
        fi
        if grep -qF -- "$marker" "$scratch/records.log"; then
            [ "$wanted" = yes ] || {
                echo "FAIL: $name: $marker was recorded" >&2
                failures=$((failures + 1))
            }
        else
            [ "$wanted" = no ] || {
                echo "FAIL: $name: $marker was not recorded; the record file holds:" >&2
                cat "$scratch/records.log" >&2
                failures=$((failures + 1))
            }
        fi
    }

    local not_enabled=$'/etc/ld.so.preload:            NOT OK - Ombrex is not enabled.\n'
    local enabled=$'/etc/ld.so.preload:            OK - Ombrex is enabled.\n'
    local not_set=$'LD_PRELOAD environment var:    NOT OK - Not set.\n'
    local not_loaded=$'Current process (shared libs): NOT OK - Unable to find libombrex.so.\n'
    local in_front=$'Current process (shared libs): OK - libombrex.so is loaded in front of libc.so.6.\n'
    local not_overloaded=$'Current process (execve addr): NOT OK - execve() symbol not overloaded, Ombrex is not loaded.\n'
    local overloaded=$'Current process (execve addr): OK - execve() symbol address changed, looks like Ombrex is loaded.\n'

    expect "status before enable" 0 "$not_enabled$not_set$not_loaded$not_overloaded" "" \
        "${clean[@]}" "$tool" status
    expect_recorded "before enable" ombrex-e2e-before-enable no

    expect "enable" 0 \
        $'[DIAG] ld.so.preload path: \'/etc/ld.so.preload\'\n[DIAG] Ombrex library path: \'/usr/local/lib/libombrex.so\'\nSUCCESS: Ombrex has been enabled.\n' \
        "" "${clean[@]}" "$tool" enable
    expect_file "after enable" $'/usr/local/lib/libombrex.so\n'
    expect_lock_place

    expect "status after enable" 0 "$enabled$not_set$in_front$overloaded" "" \
        "${clean[@]}" "$tool" status
    expect_recorded "after enable" ombrex-e2e-after-enable yes

    expect "disable" 0 \
        $'[SUCCESS] Ombrex has been removed from /etc/ld.so.preload.\n[INFO] Existing processes may still have Ombrex enabled until they are restarted.\n' \
        "" "${clean[@]}" "$tool" disable
    expect_file "after disable" ""

    expect "status after disable" 0 "$not_enabled$not_set$not_loaded$not_overloaded" "" \
        "${clean[@]}" "$tool" status
    expect_recorded "after disable" ombrex-e2e-after-disable no

    disable_rows "$scratch" "$tool" "$other"
    in_place_rows "$scratch" "$tool"

    # The writes went to the overlay, which is what keeps the machine untouched.
    if [ ! -f "$scratch/layers/etc/ld.so.preload" ]; then
        echo "FAIL: the preload file was not written to the overlay" >&2
        failures=$((failures + 1))
    fi
    return "$((failures == 0 ? 0 : 1))"
}

# The lock of the system's preload file lives in a directory that only root may enter, so
# that no other user can open it and hold it; it is gone once the run has ended. (Runs
# inside the namespace and uses failures of inside.)
expect_lock_place() {
    local place
    place=$(stat -c '%a %U %F' /run/ombrex)
    if [ "$place" != "700 root directory" ]; then
        echo "FAIL: /run/ombrex is '$place'" >&2
        failures=$((failures + 1))
    fi
    if [ -e /run/ombrex/ld.so.preload.lock ]; then
        echo "FAIL: the lock file stayed after the run" >&2
        failures=$((failures + 1))
    fi
    if setpriv --reuid=65534 --regid=65534 --clear-groups \
        /bin/sh -c ': >>/run/ombrex/ld.so.preload.lock' 2>/dev/null; then
        echo "FAIL: another user could create the lock file" >&2
        failures=$((failures + 1))
    fi
}

# The objects below /usr/local/lib that a fresh program has mapped, one line, sorted.
loaded_objects() {
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /bin/cat /proc/self/maps |
        awk '$6 ~ "^/usr/local/lib/" { print $6 }' | sort -u | tr '\n' ' '
}

# expect_loaded WHAT EXPECTED: shows the objects that a fresh program loads now, and checks
# them. (Runs inside the namespace and uses failures of inside.)
expect_loaded() {
    local what=$1 expected=$2 got
    got=$(loaded_objects)
    echo "$what: ${got:-nothing}"
    if [ "$got" != "$expected" ]; then
        echo "FAIL: $what: '$got', expected '$expected'" >&2
        failures=$((failures + 1))
    fi
}

# Runs inside the namespace, after the main sequence (uses clean, expect, expect_file and
# failures of inside):
# $1 scratch directory, $2 ombrexctl, $3 the other product's library.
disable_rows() {
    local scratch=$1 tool=$2 other=$3
    local L=$installed O=/usr/local/lib/libother-a.so P=/usr/local/lib/libother-b.so
    install -m 0755 "$other" "$O"
    install -m 0755 "$other" "$P"
    local removed=$'[SUCCESS] Ombrex has been removed from /etc/ld.so.preload.\n[INFO] Existing processes may still have Ombrex enabled until they are restarted.\n'
    local absent=$'[DIAG] ld.so.preload path: \'/etc/ld.so.preload\'\n[DIAG] libombrex.so path: \'/usr/local/lib/libombrex.so\'\n[NOTICE] Ombrex library is already absent from the ld.so.preload file.\n'

    # row NAME CONTENT LEAVES OUTPUT LOADED_BEFORE LOADED_AFTER
    row() {
        local name=$1 content=$2 leaves=$3 output=$4 before=$5 after=$6
        printf '%s' "$content" >"$preload"
        expect_loaded "disable row: $name: loaded before" "$before"
        expect "disable: $name" 0 "$output" "" "${clean[@]}" "$tool" disable
        expect_file "disable: $name" "$leaves"
        expect_loaded "disable row: $name: loaded after" "$after"
    }

    row "the entry, then another library" "$L $O"$'\n' "$O"$'\n' "$removed" "$L $O " "$O "
    row "another library, then the entry" "$O $L"$'\n' "$O"$'\n' "$removed" "$L $O " "$O "
    row "the entry between colons, with a comment" "$O:$L:$P # c"$'\n' "$O:$P # c"$'\n' \
        "$removed" "$L $O $P " "$O $P "
    row "two blanks before the entry" "  $L"$'\n' "" "$removed" "$L " ""
    row "the entry and a comment" "$L # keep"$'\n' "" "$removed" "$L " ""
    row "the entry in a comment" "# $L"$'\n' "# $L"$'\n' "$absent" "" ""
    row "the entry behind a comment sign" "$O#$L"$'\n' "$O#$L"$'\n' "$absent" "$O " "$O "
}

# Runs inside the namespace, after disable_rows (uses clean, expect, expect_file, failures and
# the other product's library that disable_rows installed): $1 scratch directory,
# $2 ombrexctl.
#
# The preload file is mounted over its name, as container runtimes mount files under /etc,
# from a small file system of its own: it cannot be replaced, only rewritten in place. It
# lists the other product and fills a little less than two pages, so that the library's
# entry needs a third page. On a full file system enable fails and the
# file is the old one byte for byte: a fresh program loads what it loaded before, and the
# dynamic linker has nothing to complain about. With room, enable rewrites it whole; disable
# needs no room.
in_place_rows() {
    local scratch=$1 tool=$2
    local L=$installed O=/usr/local/lib/libother-a.so small=$scratch/small
    local old
    # Many entries for the other product (the dynamic linker loads it once), then blanks: the
    # dynamic linker is given no comment, whose handling differs between its versions.
    old=""
    while [ "${#old}" -lt 8100 ]; do
        old+="$O"$'\n'
    done
    old+="$(printf '%*s' $((8192 - 12 - ${#old} - 1)) '')"$'\n'
    mkdir "$small"
    mount -t tmpfs -o size=64k,mode=0755 ombrex-e2e-small "$small"
    printf '%s' "$old" >"$small/ld.so.preload"
    : >"$preload"
    mount --bind "$small/ld.so.preload" "$preload"

    local enabled_out=$'[DIAG] ld.so.preload path: \'/etc/ld.so.preload\'\n[DIAG] Ombrex library path: \'/usr/local/lib/libombrex.so\'\nSUCCESS: Ombrex has been enabled.\n'
    local removed=$'[SUCCESS] Ombrex has been removed from /etc/ld.so.preload.\n[INFO] Existing processes may still have Ombrex enabled until they are restarted.\n'
    local no_space=$'[DIAG] ld.so.preload path: \'/etc/ld.so.preload\'\n[DIAG] Error message: \'No space left on device\'\n'

    fill() {
        dd if=/dev/zero of="$small/filler" bs=4096 2>/dev/null || true
        dd if=/dev/zero bs=1 >>"$small/filler" 2>/dev/null || true
    }

    # in_place NAME ACTION STATUS STDOUT STDERR CONTENT LOADED
    in_place() {
        local name=$1 action=$2 status=$3 out=$4 err=$5 content=$6 loaded=$7
        expect "in place: $name" "$status" "$out" "$err" "${clean[@]}" "$tool" "$action"
        expect_file "in place: $name" "$content"
        expect_loaded "in-place row: $name: exit $status, then a fresh program loads" "$loaded"
        "${clean[@]}" /bin/true 2>"$scratch/loader.err"
        if [ -s "$scratch/loader.err" ]; then
            echo "FAIL: in place: $name: the dynamic linker complains:" >&2
            cat "$scratch/loader.err" >&2
            failures=$((failures + 1))
        fi
    }

    expect_loaded "in-place rows: before, a fresh program loads" "$O "
    fill
    in_place "enable, full file system" enable 127 "$no_space" \
        $'[ERROR] Unable to write to file.\n' "$old" "$O "
    rm "$small/filler"
    in_place "enable, room enough" enable 0 "$enabled_out" "" "$old$L"$'\n' "$L $O "
    fill
    in_place "disable, full file system" disable 0 "$removed" "" "$old" "$O "
    umount "$preload"
    umount "$small"
}

if [ "${1:-}" = --inside ]; then
    shift
    rc=0
    inside "$@" || rc=$?
    exit "$rc"
fi

[ $# -ge 3 ] || {
    echo "usage: $0 OMBREXCTL LIBRARY OTHER [--records]" >&2
    exit 2
}
tool=$(readlink -f "$1")
library=$(readlink -f "$2")
other=$(readlink -f "$3")
records=${4:-}

require_namespaces
[ -d /usr/local/lib ] || unavailable "/usr/local/lib does not exist"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ombrex-e2e.XXXXXX")
chmod 0755 "$scratch"
mkdir "$scratch/layers" "$scratch/real"
trap 'rm -rf "$scratch"' EXIT

# What the real machine holds now, to prove afterwards that nothing changed.
snapshot() {
    local path
    for path in "$preload" "$installed" "$config"; do
        if [ -e "$path" ] || [ -L "$path" ]; then
            stat -c '%n %F %a %u %g %s %Y' "$path"
            sha256sum <"$path"
        else
            echo "$path absent"
        fi
    done
}
snapshot >"$scratch/real/before"

rc=0
unshare -m --propagation private "$BASH" "$0" --inside "$scratch" "$tool" "$library" "$other" \
    "$records" || rc=$?

snapshot >"$scratch/real/after"
if ! cmp -s "$scratch/real/before" "$scratch/real/after"; then
    echo "FAIL: the machine's own files changed:" >&2
    diff -u "$scratch/real/before" "$scratch/real/after" >&2 || true
    exit 1
fi
if [ "$rc" -eq 77 ]; then
    unavailable "overlay mounts failed in the namespace"
fi
exit "$rc"
