# Sourced by the end-to-end tests: the checks that a private mount namespace can be had, and
# the throw-away overlays inside it that take every write, so that the machine's own files
# never change.

# unavailable REASON: a test that cannot run here is skipped (exit 77), or fails under
# CI=true, where it must run.
unavailable() {
    echo "$(basename "$0" .sh): cannot run: $*" >&2
    if [ "${CI:-}" = true ]; then
        exit 1
    fi
    exit 77
}

# Root, unshare, the overlay file system and private mount namespaces, or unavailable.
require_namespaces() {
    [ "$(id -u)" -eq 0 ] || unavailable "needs root for a private mount namespace"
    command -v unshare >/dev/null || unavailable "unshare is not installed (util-linux)"
    grep -qw overlay /proc/filesystems || modprobe overlay 2>/dev/null ||
        unavailable "the overlay file system is not available"
    unshare -m --propagation private true 2>/dev/null ||
        unavailable "mount namespaces are not available"
}

# mount_overlays SCRATCH DIRECTORY...: inside the namespace, an overlay over each DIRECTORY
# whose writes go to SCRATCH/layers/NAME, NAME being the directory's last component (etc,
# lib, run). The layers live on a tmpfs of the namespace's own, whatever file system SCRATCH
# is on, and vanish with the namespace. Returns 77 when a mount fails.
mount_overlays() {
    local layers=$1/layers directory name
    shift
    mount -t tmpfs -o mode=0755 ombrex-e2e "$layers" || return 77
    for directory in "$@"; do
        name=${directory##*/}
        mkdir "$layers/$name" "$layers/$name.work"
        mount -t overlay overlay \
            -o "lowerdir=$directory,upperdir=$layers/$name,workdir=$layers/$name.work" \
            "$directory" || return 77
    done
}
