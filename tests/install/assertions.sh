# Outcome helpers shared by the install tests.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A missing prerequisite skips the test on a developer's machine (exit 77, which CTest
# reports as skipped) but fails it in CI, where everything must run.
skip_or_fail() {
    if [ "${CI:-}" = true ]; then
        echo "FAIL (CI=true, cannot skip): $*" >&2
        exit 1
    fi
    echo "SKIP: $*" >&2
    exit 77
}

need_command() { # command, Debian package
    command -v "$1" >/dev/null 2>&1 || skip_or_fail "$1 is not installed (Debian package $2)"
}

expect_equal() { # actual, expected, what
    [ "$1" = "$2" ] || fail "$3: expected [$2], got [$1]"
}

expect_contains() { # haystack, needle, what
    case "$1" in
    *"$2"*) ;;
    *) fail "$3: [$2] not found in: $1" ;;
    esac
}
