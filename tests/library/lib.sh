# Shared helpers of the library's shell tests; sourced by each of them.
#
# The build passes the files under test in the environment:
#   OMBREX_LIBRARY  the tests' copy of libombrex.so
#   OMBREX_TEST_CONFIG  the configuration file that copy reads (fixed in it at build time)
#   EXEC_PROBE      tests/library/exec_probe.c, built
#   EXEC_STORM      tests/library/exec_storm.c, built
#   OMBREXCTL       the built tool
set -u

: "${OMBREX_LIBRARY:?}" "${OMBREX_TEST_CONFIG:?}"
# The helper programs may be built with AddressSanitizer, whose runtime then is not the first
# library loaded; that is harmless here because this library defines no allocator.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
unset LD_PRELOAD

scratch=$(mktemp -d /tmp/ombrex-lib.XXXXXX)
cleanup_hooks=()
cleanup() {
    local hook
    for hook in "${cleanup_hooks[@]}"; do
        eval "$hook"
    done
    rm -rf "$scratch" "$OMBREX_TEST_CONFIG"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

expect_eq() { # ACTUAL EXPECTED WHAT
    if [ "$1" != "$2" ]; then
        fail "$3: expected [$2], got [$1]"
    fi
}

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

# A test that cannot run here: skipped on a developer's machine, failed in CI.
cannot_run() {
    if [ "$failures" -ne 0 ]; then
        echo "FAIL: $failures check(s) failed before: $*" >&2
        exit 1
    fi
    if [ "${CI:-}" = true ]; then
        echo "FAIL: $* (required in CI)" >&2
        exit 1
    fi
    echo "SKIP: $*"
    exit 77
}

# The library uses its configuration file only when root owns it and only root may write it.
if [ "$(id -u)" -ne 0 ]; then
    cannot_run "needs root: the library trusts only a configuration file that root owns"
fi

# use_config FILE makes FILE the library's configuration: a copy, root's, mode 0644.
use_config() {
    rm -rf "$OMBREX_TEST_CONFIG"
    install -m 0644 "$1" "$OMBREX_TEST_CONFIG"
}

# write_config FILE LINE... writes an [ombrex] section with the given key = value lines.
write_config() {
    local file=$1
    shift
    {
        echo "[ombrex]"
        local line
        for line in "$@"; do
            echo "$line"
        done
    } >"$file"
}

# preloaded CONFIG COMMAND... runs COMMAND with the library preloaded and CONFIG in use.
preloaded() {
    use_config "$1"
    shift
    env LD_PRELOAD="$OMBREX_LIBRARY" "$@"
}

# Splits records (one per line on stdin) into KEY<TAB>VALUE lines, honouring quoted values
# and their backslash escapes; a line "--" separates records. Values keep their escapes. A
# blank line, the library's repair of a record that the kernel cut short, is no record.
record_fields() {
    awk '/^ *$/ { next }
    {
        s = $0
        while (length(s) > 0) {
            sub(/^ +/, "", s)
            eq = index(s, "=")
            if (eq == 0) { print "!garbage\t" s; break }
            key = substr(s, 1, eq - 1)
            s = substr(s, eq + 1)
            if (substr(s, 1, 1) == "\"") {
                v = ""; i = 2; closed = 0
                while (i <= length(s)) {
                    c = substr(s, i, 1)
                    if (c == "\\") { v = v substr(s, i, 2); i += 2; continue }
                    if (c == "\"") { closed = 1; break }
                    v = v c; i++
                }
                if (!closed) print "!unclosed\t" key
                s = substr(s, i + 1)
            } else {
                sp = index(s, " ")
                if (sp == 0) { v = s; s = "" } else { v = substr(s, 1, sp - 1); s = substr(s, sp) }
            }
            print key "\t" v
        }
        print "--"
    }'
}

# field NAME RECORD prints the value of the first field NAME of one record.
field() {
    printf '%s\n' "$2" | record_fields | awk -F'\t' -v k="$1" '$1 == k { print $2; exit }'
}

# count_fields NAME RECORD prints how many fields NAME the record has.
count_fields() {
    printf '%s\n' "$2" | record_fields | awk -F'\t' -v k="$1" '$1 == k { n++ } END { print n + 0 }'
}

# Checks that every line of a log is one well-formed record: known keys only, quotes closed.
expect_well_formed() { # LOG
    local bad
    bad=$(record_fields <"$1" | awk -F'\t' '
        $0 == "--" { next }
        $1 !~ /^(call|time|id|result|lost|pid|ppid|auid|ses|uid|euid|gid|egid|tty|dev|inode|mode|ouid|ogid|cwd|exe|fd|file|path|argc|arg[0-9]+|truncated)$/ {
            print; exit
        }')
    if [ -n "$bad" ]; then
        fail "malformed record field in $1: $bad"
    fi
}
