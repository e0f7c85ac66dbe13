# Sourced by the benches that run programs under the real dynamic linker (bench/workload,
# bench/syslog-stall, bench/exec-cost, bench/peers). Each of them re-runs itself inside a
# private mount namespace whose /etc and /usr/local/lib are overlays on a tmpfs of the
# namespace's own, so the library is configured only the way a machine configures it: listed
# in /etc/ld.so.preload and set up by /etc/ombrex.ini. Nothing written there reaches the
# machine's own files, and everything vanishes with the namespace.
#
# A script uses it like this:
#   . "$here/namespace.sh"
#   if [ "${1:-}" = --inside ]; then shift; ns_inside "$@"; body; exit; fi
#   ns_outside NAME "$0" BUILD_DIR
#
# In the namespace: $scratch (a tmpfs), $library (/usr/local/lib/libombrex.so, the build's
# copy), $helpers (the C helpers of bench/helpers, built), and the functions below.

readonly ns_installed=/usr/local/lib/libombrex.so
readonly ns_preload=/etc/ld.so.preload
readonly ns_config=/etc/ombrex.ini

ns_fail() {
    echo "$ns_name: $*" >&2
    exit 1
}

# What the machine holds at the paths the namespace overlays, to prove afterwards that
# nothing changed.
ns_snapshot() {
    local path
    for path in "$ns_preload" "$ns_config" "$ns_installed"; do
        if [ -e "$path" ] || [ -L "$path" ]; then
            stat -c '%n %F %a %u %g %s %Y' "$path"
            sha256sum <"$path"
        else
            echo "$path absent"
        fi
    done
}

# ns_library BUILD: prints the absolute path of the library that BUILD names: a build
# directory (its libombrex/libombrex.so) or the library file itself, so that a library kept
# from another build can be measured. A sanitized build is refused: its run-time would be
# measured with it.
ns_library() {
    local build=$1 library
    if [ -f "$build" ]; then
        library=$(cd "$(dirname "$build")" && pwd)/$(basename "$build")
    else
        [ -d "$build" ] || ns_fail "no build directory or library $build"
        library=$(cd "$build" && pwd)/libombrex/libombrex.so
        [ -f "$library" ] || ns_fail "no $library; build first (cmake --build $build)"
        if grep -q '^OMBREX_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
            ns_fail "$build is a sanitized build; benchmarks need a plain one"
        fi
    fi
    if readelf -d "$library" 2>/dev/null | grep -qE '\(NEEDED\).*lib(a|ub|t)san'; then
        ns_fail "$library is a sanitized build; benchmarks need a plain one"
    fi
    echo "$library"
}

# ns_outside NAME SCRIPT BUILD [ARGUMENTS...]: checks what the bench needs, then runs
# SCRIPT --inside SCRATCH LIBRARY ARGUMENTS... in a private mount namespace and exits with its
# status. BUILD is a build directory or a library file (ns_library).
ns_outside() {
    ns_name=$1
    local script=$2 build=$3
    shift 3
    [ "$(id -u)" -eq 0 ] ||
        ns_fail "needs root: it runs programs in a private mount namespace with overlays over /etc and /usr/local/lib"
    command -v unshare >/dev/null || ns_fail "unshare is needed (Debian package util-linux)"
    grep -qw overlay /proc/filesystems || modprobe overlay 2>/dev/null ||
        ns_fail "the overlay file system is not available"
    [ -d /usr/local/lib ] || ns_fail "/usr/local/lib does not exist"
    unshare -m --propagation private true 2>/dev/null || ns_fail "mount namespaces are not available"
    command -v cc >/dev/null || ns_fail "a C compiler (cc) is needed for the helpers"
    local library
    library=$(ns_library "$build") || exit 1

    ns_scratch=$(mktemp -d /tmp/ombrex-bench.XXXXXX)
    chmod 0755 "$ns_scratch"
    trap 'rm -rf "$ns_scratch"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    local before after
    before=$(ns_snapshot)

    local rc=0
    # Neither variable may configure the library here: only the namespace's files do.
    # NS_NETWORK=1: a network namespace of its own too, with nothing but loopback.
    local network=()
    [ "${NS_NETWORK:-0}" = 1 ] && network=(-n)
    unshare -m "${network[@]}" --propagation private env -u LD_PRELOAD -u OMBREX_CONFIG_FILE \
        "$BASH" "$script" --inside "$ns_name" "$ns_scratch" "$library" "$@" || rc=$?

    after=$(ns_snapshot)
    if [ "$before" != "$after" ]; then
        echo "$ns_name: the machine's own files changed:" >&2
        diff <(echo "$before") <(echo "$after") >&2 || true
        exit 1
    fi
    exit "$rc"
}

# Background processes of the bench, stopped and reaped on the way out.
ns_daemons=()
ns_cleanup() {
    local pid
    for pid in "${ns_daemons[@]}"; do
        kill -CONT "$pid" 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

# ns_inside NAME SCRATCH LIBRARY: sets the namespace up; the caller's own arguments follow
# in ns_arguments.
ns_inside() {
    ns_name=$1
    scratch=$2
    local built=$3
    shift 3
    ns_arguments=("$@")
    umask 022
    if [ "${NS_NETWORK:-0}" = 1 ]; then
        ip link set lo up || ns_fail "cannot bring up loopback in the network namespace"
    fi
    # A signal ends the bench through its exit trap, which stops what it started.
    trap ns_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM

    # The scratch directory becomes a tmpfs of this namespace: the layers, the records and the
    # work files all live there and vanish with it.
    mount -t tmpfs -o mode=0755 ombrex-bench "$scratch" || ns_fail "cannot mount a tmpfs"
    mkdir "$scratch"/{etc,etc.work,lib,lib.work,helpers}
    mount -t overlay overlay -o "lowerdir=/etc,upperdir=$scratch/etc,workdir=$scratch/etc.work" \
        /etc || ns_fail "cannot mount an overlay over /etc"
    mount -t overlay overlay \
        -o "lowerdir=/usr/local/lib,upperdir=$scratch/lib,workdir=$scratch/lib.work" \
        /usr/local/lib || ns_fail "cannot mount an overlay over /usr/local/lib"
    # Writes below go to the overlays only if they really are there.
    local mounts
    mounts=$(awk '$5 == "/etc" || $5 == "/usr/local/lib" { print $5 }' /proc/self/mountinfo |
        sort -u | paste -sd ' ')
    [ "$mounts" = "/etc /usr/local/lib" ] || ns_fail "the overlays are not in place"

    rm -f "$ns_preload" "$ns_config"
    install -m 0755 "$built" "$ns_installed"
    library=$ns_installed

    helpers=$scratch/helpers
    local source name linking
    for source in "$(dirname "${BASH_SOURCE[0]}")"/helpers/*.c; do
        name=$(basename "$source" .c)
        linking=()
        case $name in static-*) linking=(-static) ;; esac
        cc -O2 -Wall -Wextra -Werror "${linking[@]}" -o "$helpers/$name" "$source" ||
            ns_fail "cannot build $source"
    done
}

# ns_configure LINE...: /etc/ombrex.ini with these lines in its [ombrex] section, owned by
# root, mode 0644, as an administrator leaves it.
ns_configure() {
    rm -f "$ns_config"
    {
        echo '[ombrex]'
        printf '%s\n' "$@"
    } >"$ns_config"
    chown root:root "$ns_config"
    chmod 0644 "$ns_config"
}

# ns_preload [PATH]: lists PATH in /etc/ld.so.preload (default: the library), so that every
# program started from now on loads it; ns_unpreload removes the file.
ns_preload() {
    printf '%s\n' "${1:-$library}" >"$ns_preload"
    chmod 0644 "$ns_preload"
}
ns_unpreload() {
    rm -f "$ns_preload"
}

# ns_rsyslogd DIR: starts an rsyslogd of the bench's own, which writes each message it
# receives on DIR/log.sock as one line of DIR/messages.log; sets ns_rsyslogd_pid. Started
# again with the same DIR it appends to the same file.
ns_rsyslogd() {
    local dir=$1
    command -v rsyslogd >/dev/null || ns_fail "rsyslogd is needed (Debian package rsyslog)"
    mkdir -p "$dir/work"
    cat >"$dir/rsyslog.conf" <<CONF
global(workDirectory="$dir/work")
module(load="imuxsock" SysSock.Use="off")
input(type="imuxsock" Socket="$dir/log.sock" RateLimit.Interval="0")
template(name="message" type="string" string="%msg%\n")
*.* action(type="omfile" file="$dir/messages.log" template="message")
CONF
    rm -f "$dir/log.sock"
    rsyslogd -n -f "$dir/rsyslog.conf" -i "$dir/rsyslogd.pid" >>"$dir/rsyslogd.out" 2>&1 &
    ns_rsyslogd_pid=$!
    ns_daemons+=("$ns_rsyslogd_pid")
    local _
    for _ in $(seq 200); do
        [ -S "$dir/log.sock" ] && return 0
        sleep 0.05
    done
    cat "$dir/rsyslogd.out" >&2
    ns_fail "rsyslogd did not create its socket"
}

# ns_stop PID: stops a daemon of the bench the orderly way (rsyslogd writes out what it has
# received); ns_reap PID waits for a background process of the bench to end. Both forget its
# id, which the system may give to another process.
ns_stop() {
    kill -CONT "$1" 2>/dev/null || true
    kill -TERM "$1" 2>/dev/null || true
    ns_reap "$1"
}
ns_reap() {
    local pid kept=()
    wait "$1" 2>/dev/null || true
    for pid in "${ns_daemons[@]}"; do
        [ "$pid" = "$1" ] || kept+=("$pid")
    done
    ns_daemons=("${kept[@]}")
}
