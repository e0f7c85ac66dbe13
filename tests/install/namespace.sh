# Sourced by the tests that install the package for real: runs a script as root inside a
# private mount namespace whose /etc, /usr, /var and /run are throw-away overlays kept in
# the scratch directory, so that nothing outside it changes.

run_in_private_root() { # script, arguments...
    [ "$(id -u)" -eq 0 ] || skip_or_fail "needs root for a private mount namespace"
    command -v unshare >/dev/null || skip_or_fail "unshare is not installed (Debian package util-linux)"
    unshare -m --propagation private true 2>/dev/null ||
        skip_or_fail "mount namespaces are not available here"
    unshare -m --propagation private bash -c '
        set -euo pipefail
        scratch=$1
        shift
        for dir in /etc /usr /var /run; do
            layer=$scratch/overlay$dir
            mkdir -p "$layer/upper" "$layer/work"
            mount -t overlay overlay \
                -o "lowerdir=$dir,upperdir=$layer/upper,workdir=$layer/work" "$dir"
        done
        # The host may list something of its own; the tests start from no preload file.
        rm -f /etc/ld.so.preload
        exec "$@"
    ' private-root "$scratch" "$@"
}
