#!/usr/bin/env bash
# The build's stack check over call chains: small call graphs in GCC's format, and whether the
# checker lets each through. A checker that passed everything would let the bound go unseen.
set -u
: "${STACK_CHECK:?}"
scratch=$(mktemp -d /tmp/ombrex-stack.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0

# graph FILE LINE...: a call graph; "f 100" is a function with a 100-byte frame ("f 100 d"
# sized at run time), "f>g" a call.
graph() {
    local file=$1 line
    shift
    echo 'graph: { title: "t.cpp"' >"$file"
    for line in "$@"; do
        case $line in
        *'>'*) printf 'edge: { sourcename: "%s" targetname: "%s" label: "t.cpp:1:1" }\n' \
            "${line%%>*}" "${line#*>}" >>"$file" ;;
        *' d') set -- $line
            printf 'node: { title: "%s" label: "%s\\nt.cpp:1:1\\n%s bytes (dynamic)" }\n' "$1" "$1" "$2" >>"$file" ;;
        *) set -- $line
            printf 'node: { title: "%s" label: "%s\\nt.cpp:1:1\\n%s bytes (static)" }\n' "$1" "$1" "$2" >>"$file" ;;
        esac
    done
    echo '}' >>"$file"
}

# case NAME EXPECTED_STATUS GRAPH_LINES...: entry points execve and execl, bound 1024,
# clock_gettime allowed 200 bytes, execl allowed a frame sized at run time.
check() {
    local name=$1 expected=$2
    shift 2
    graph "$scratch/a.ci" "$@"
    "$STACK_CHECK" 1024 execve,execl clock_gettime=200 execl "$scratch/a.ci" >"$scratch/out" 2>&1
    local status=$?
    if [ "$status" -ne "$expected" ]; then
        echo "FAIL: $name: status $status, expected $expected: $(cat "$scratch/out")" >&2
        failures=$((failures + 1))
    fi
}

check "chain within the bound" 0 "execve 200" "record 300" "format 500" "execl 100 d" \
    "execve>record" "record>format" "execl>record"
check "chain one byte over" 1 "execve 200" "record 300" "format 525" "execl 100 d" \
    "execve>record" "record>format" "execl>record"
check "deep chain through a shallow branch" 1 "execve 100" "a 100" "b 100" "c 900" \
    "execl 10 d" "execve>a" "execve>b" "b>c" "execl>a"
check "allowance of an outside function counts" 1 "execve 300" "record 600" "execl 10 d" \
    "execve>record" "record>clock_gettime" "execl>record"
check "outside function without an allowance" 1 "execve 100" "execl 10 d" "execve>malloc"
check "recursion" 1 "execve 100" "a 100" "execl 10 d" "execve>a" "a>a"
check "frame sized at run time outside the list" 1 "execve 100 d" "execl 10 d"
check "entry point missing from the graphs" 1 "execve 100"

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "all checks passed"
