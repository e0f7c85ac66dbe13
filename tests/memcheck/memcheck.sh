#!/usr/bin/env bash
# Runs ombrexctl under valgrind's memcheck on a table of runs that cover every action path
# that returns (no leak of any kind that the tool could have freed, no invalid access), and a
# few fatal paths (no invalid access; a fatal exit releases nothing by design).
#
#   memcheck.sh OMBREXCTL [LIBRARY...]     LIBRARY: loadable libraries for conf and version
#
# Exit 77 (skipped) when valgrind is missing, unless CI=true, where that is a failure.
set -uo pipefail

tool=$(realpath "$1")
shift
libraries=("$@")

if ! command -v valgrind >/dev/null; then
    if [ "${CI:-}" = true ]; then
        echo "memcheck: valgrind is missing, and CI=true forbids skipping" >&2
        exit 1
    fi
    echo "memcheck: valgrind is missing; skipped" >&2
    exit 77
fi

valgrind=$(command -v valgrind)
setpriv=$(command -v setpriv)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
mkdir "$scratch/etc" "$scratch/lib" "$scratch/ro" "$scratch/bin"
# The runs as another user need a copy they can reach: the build tree may lie in a directory
# only its owner can enter.
install -m 0755 "$tool" "$scratch/bin/ombrexctl"
preload=$scratch/etc/ld.so.preload
library=$scratch/lib/libombrex.so
other=$scratch/lib/logger.so
echo "stands in for the library; never loaded" >"$library"
echo "another preloaded library" >"$other"
cp "$library" "$scratch/lib/my lib.so"
mkdir -m 0777 "$scratch/open" "$scratch/open/real"
ln -s real "$scratch/open/link"
cp "$library" "$scratch/open/real/libombrex.so"

failures=0
runs=0

# check NAME EXPECTED_STATUS LEAKS(yes|no) PRELOAD LIBRARY [ENV...] -- ACTION [RUNNER...]
check() {
    local name=$1 expected=$2 leaks=$3 pre=$4 lib=$5
    shift 5
    local environment=()
    while [ "$1" != -- ]; do
        environment+=("$1")
        shift
    done
    shift
    local action=$1
    shift
    local log=$scratch/valgrind.log
    local leakOptions=(--leak-check=no)
    if [ "$leaks" = yes ]; then
        # Still-reachable blocks are the library handle that is never closed by design.
        leakOptions=(--leak-check=full --show-leak-kinds=definite,indirect,possible
                     --errors-for-leak-kinds=definite,indirect,possible)
    fi
    runs=$((runs + 1))
    env -i OMBREX_TEST_LD_SO_PRELOAD_PATH="$pre" OMBREX_TEST_LIBOMBREX_SO_PATH="$lib" \
        "${environment[@]}" "$@" \
        "$valgrind" -q --error-exitcode=99 "${leakOptions[@]}" --log-fd=9 \
        "$tool" "$action" >"$scratch/out" 2>"$scratch/err" 9>"$log"
    local status=$?
    if [ "$status" != "$expected" ] || [ -s "$log" ]; then
        failures=$((failures + 1))
        echo "FAIL: $name: status $status, expected $expected" >&2
        sed 's/^/    out: /' "$scratch/out" >&2
        sed 's/^/    err: /' "$scratch/err" >&2
        sed 's/^/    valgrind: /' "$log" >&2
    else
        echo "ok: $name"
    fi
}

entry=$library
rm -f "$preload"
check "help" 0 yes "$preload" "$library" -- help
check "about" 0 yes "$preload" "$library" -- about
check "unknown action" 127 no "$preload" "$library" -- frobnicate

# enable
check "enable creates the file" 0 yes "$preload" "$library" -- enable
check "enable: already enabled" 0 yes "$preload" "$library" -- enable
printf '/lib/a.so' >"$preload"
check "enable appends after a last line without LF" 0 yes "$preload" "$library" -- enable
printf '/opt/libombrex.so\n' >"$preload"
check "enable: another instance" 127 no "$preload" "$library" -- enable
check "enable: library not readable" 127 no "$preload" "$scratch/missing.so" -- enable
if [ "$(id -u)" -eq 0 ]; then
    # The user may write the file but not its directory: the file is rewritten in place.
    printf '/lib/a.so\n' >"$scratch/ro/ld.so.preload"
    chown 65534:65534 "$scratch/ro/ld.so.preload"
    tool=$scratch/bin/ombrexctl check "enable in place (directory not writable by the user)" 0 yes \
        "$scratch/ro/ld.so.preload" "$library" -- enable "$setpriv" --reuid=65534 \
        --regid=65534 --clear-groups
    if [ "$(cat "$scratch/ro/ld.so.preload")" != "$(printf '/lib/a.so\n%s' "$library")" ]; then
        echo "FAIL: enable in place did not write the entry" >&2
        failures=$((failures + 1))
    fi
fi
ln -sf "$preload" "$scratch/etc/link"
printf '/lib/a.so\n' >"$preload"
check "enable through a symbolic link" 0 yes "$scratch/etc/link" "$library" -- enable
cd "$scratch"
check "enable: relative library path" 127 no "$preload" lib/libombrex.so -- enable
cd - >/dev/null
check "enable: library path with a blank" 127 no "$preload" "$scratch/lib/my lib.so" -- enable

# disable
printf '/lib/a.so\n%s # note\n/lib/b.so\n' "$entry" >"$preload"
check "disable removes the entry" 0 yes "$preload" "$library" -- disable
check "disable: already absent" 0 yes "$preload" "$library" -- disable
rm -f "$preload"
check "disable: no file" 0 yes "$preload" "$library" -- disable
printf '%s\n/x/libombrex.so\n' "$other" >"$preload"
check "disable warns about a remaining reference" 0 yes "$preload" "$other" -- disable
printf '/x/libombrex.so\n/y/libombrex.so\n' >"$preload"
check "disable: duplicate" 127 no "$preload" "$library" -- disable
printf '/lib/a.so:%s:/lib/b.so # note\n' "$entry" >"$preload"
check "disable takes the entry out of a shared line" 0 yes "$preload" "$library" -- disable

# status
rm -f "$preload"
check "status: no file" 0 yes "$preload" "$library" -- status
printf '%s\n' "$entry" >"$preload"
check "status: enabled" 0 yes "$preload" "$library" -- status
printf '/opt/libombrex.so\n' >"$preload"
check "status: foreign entry" 0 yes "$preload" "$library" -- status
printf '/a/libombrex.so\n/b/libombrex.so\n' >"$preload"
check "status: multiple references" 127 no "$preload" "$library" -- status
# Directories others may write, one of them reached through a symbolic link.
rm -f "$preload"
check "status: directories others may write" 0 yes "$preload" "$scratch/open/link/libombrex.so" \
    -- status

# conf and version, with each loadable library given
for lib in "${libraries[@]}"; do
    check "conf with $lib" 0 yes "$preload" "$lib" -- conf
    check "version with $lib" 0 yes "$preload" "$lib" -- version
done
if [ "${#libraries[@]}" -gt 0 ]; then
    # A name without a slash is loaded from the working directory.
    cp "${libraries[0]}" "$scratch/lib/loadable.so"
    cd "$scratch/lib"
    check "version with a name without a slash" 0 yes "$preload" loadable.so -- version
    cd - >/dev/null
fi
check "conf: library not loadable" 127 no "$preload" "$library" -- conf
check "version: library missing" 127 no "$preload" "$scratch/missing.so" -- version

echo "memcheck: $runs runs, $failures failed"
[ "$failures" -eq 0 ]
