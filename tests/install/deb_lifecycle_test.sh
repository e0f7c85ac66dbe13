#!/usr/bin/env bash
# Installs, upgrades and removes the Debian package for real, inside a private mount
# namespace with throw-away overlays: installing never enables the library, an upgrade
# keeps it enabled, removal takes its entry out of the preload file first, and a removal
# that cannot do so safely is refused.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
source "$here/namespace.sh"

need_command dpkg dpkg
debs=("$OMBREX_DEB_DIR"/ombrex_*.deb)
[ -f "${debs[0]}" ] || fail "no package in $OMBREX_DEB_DIR (install.deb_package builds it)"

cat >"$scratch/inside.sh" <<'INSIDE'
set -euo pipefail
source "$TEST_DIR/assertions.sh"
deb=$1
records=$2
unset OMBREX_TEST_LD_SO_PRELOAD_PATH OMBREX_TEST_LIBOMBREX_SO_PATH
export DEBIAN_FRONTEND=noninteractive

dpkg -i "$deb" >"$records.dpkg" 2>&1 || fail "dpkg -i: $(cat "$records.dpkg")"
[ ! -e /etc/ld.so.preload ] || fail "installing the package created /etc/ld.so.preload"

# The tool finds the packaged library at its built-in path, with no override.
version=$(ombrexctl version) || fail "ombrexctl version after install"
library=$(sed -n 's/^Ombrex library version:  .* (path: \(.*\))$/\1/p' <<<"$version")
[ -f "$library" ] || fail "the library named by version is not there: $version"
expect_equal "$(dpkg -S "$library" | cut -d: -f1)" ombrex "owner of $library"

printf '[ombrex]\ndestination = file\nfile = %s\n' "$records" >/etc/ombrex.ini
out=$(ombrexctl enable) || fail "enable"
expect_contains "$out" "SUCCESS: Ombrex has been enabled." "enable"
expect_equal "$(cat /etc/ld.so.preload)" "$library" "preload file after enable"
bash -c '/bin/true; :'
grep -q 'call=execve .* file="/bin/true" argc=1 arg0="/bin/true"' "$records" ||
    fail "no record of /bin/true: $(cat "$records")"

# Reinstalling is an upgrade: the library stays enabled.
dpkg -i "$deb" >"$records.dpkg" 2>&1 || fail "dpkg -i again: $(cat "$records.dpkg")"
expect_equal "$(cat /etc/ld.so.preload)" "$library" "preload file after an upgrade"

# Removal with a second reference that the tool will not choose between: refused, and the
# library stays where the preload file expects it.
printf '%s\n/opt/elsewhere/libombrex.so\n' "$library" >/etc/ld.so.preload
if dpkg -r ombrex >"$records.dpkg" 2>&1; then
    fail "removal went on although the preload file could not be cleaned: $(cat "$records.dpkg")"
fi
expect_contains "$(cat "$records.dpkg")" "remove the entry by hand" "refused removal"
[ -f "$library" ] || fail "the library was removed although the preload file still lists it"
expect_equal "$(dpkg-query -W -f '${db:Status-Status}' ombrex)" installed "status after a refused removal"

# Removal of an enabled library: the entry goes first, other lines stay, and programs start
# without the dynamic linker's complaint.
printf '# kept\n%s\n' "$library" >/etc/ld.so.preload
dpkg -r ombrex >"$records.dpkg" 2>&1 || fail "dpkg -r: $(cat "$records.dpkg")"
expect_contains "$(cat "$records.dpkg")" "[SUCCESS] Ombrex has been removed from /etc/ld.so.preload." "removal"
expect_equal "$(cat /etc/ld.so.preload)" "# kept" "preload file after removal"
[ ! -e "$library" ] || fail "the library is still there after removal"
complaint=$(bash -c 'true' 2>&1)
expect_equal "$complaint" "" "output of a program started after removal"

# Removing a package whose library is not enabled leaves the preload file alone.
dpkg -i "$deb" >"$records.dpkg" 2>&1 || fail "dpkg -i: $(cat "$records.dpkg")"
dpkg -P ombrex >"$records.dpkg" 2>&1 || fail "dpkg -P: $(cat "$records.dpkg")"
expect_equal "$(cat /etc/ld.so.preload)" "# kept" "preload file after purge"
echo "package lifecycle: ok"
INSIDE

touch "$scratch/records.log"
TEST_DIR=$here run_in_private_root bash "$scratch/inside.sh" "${debs[0]}" "$scratch/records.log"
