#!/usr/bin/env bash
# Builds the Debian package the documented way (packaging/build-deb) and checks it: its
# contents, its dependency on the C library, that the packaged tool looks for the library
# where the package puts it, that no maintainer script enables anything, and lintian.
# Leaves the package in $OMBREX_DEB_DIR for the tests that install it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

need_command dpkg-deb dpkg
need_command dpkg-shlibdeps dpkg-dev
need_command file file
need_command cpack cmake
need_command lintian lintian

rm -rf "$OMBREX_DEB_DIR"
mkdir -p "$OMBREX_DEB_DIR"
JOBS=2 "$OMBREX_SOURCE_DIR/packaging/build-deb" "$scratch/build" "$OMBREX_DEB_DIR" \
    >"$scratch/build.log" 2>&1 || fail "packaging/build-deb failed: $(tail -n 30 "$scratch/build.log")"
debs=("$OMBREX_DEB_DIR"/ombrex_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one package in $OMBREX_DEB_DIR"
deb=${debs[0]}
arch=$(dpkg --print-architecture)
expect_equal "$(basename "$deb")" "ombrex_${OMBREX_VERSION}_$arch.deb" "package file name"

expect_equal "$(dpkg-deb -f "$deb" Package)" ombrex "Package"
expect_equal "$(dpkg-deb -f "$deb" Version)" "$OMBREX_VERSION" "Version"
expect_equal "$(dpkg-deb -f "$deb" Architecture)" "$arch" "Architecture"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends =~ ^libc6\ \(\>=\ [0-9.]+\)$ ]] || fail "Depends should be the C library alone: [$depends]"

listing=$(dpkg-deb -c "$deb" | awk '{print $1, $6}')
entry() { # mode, path
    grep -qxF -e "$1 ./$2" <<<"$listing" || fail "package lacks $2 with mode $1"
}
entry -rwxr-xr-x usr/sbin/ombrexctl
entry -rw-r--r-- usr/share/man/man8/ombrexctl.8.gz
entry -rw-r--r-- usr/share/man/man5/ombrex.ini.5.gz
entry -rw-r--r-- usr/share/bash-completion/completions/ombrexctl
entry -rw-r--r-- usr/share/doc/ombrex/copyright
entry -rw-r--r-- usr/share/doc/ombrex/changelog.gz
entry -rw-r--r-- usr/share/doc/ombrex/examples/60-ombrex-forward.conf
entry -rw-r--r-- usr/share/doc/ombrex/examples/60-ombrex-central.conf
entry -rw-r--r-- usr/share/doc/ombrex/examples/ombrex-dedupe.jq
libraries=$(awk '$2 ~ /\/libombrex\.so$/ {print substr($2, 2)}' <<<"$listing")
[ "$(wc -l <<<"$libraries")" -eq 1 ] && [ -n "$libraries" ] || fail "expected one libombrex.so: $libraries"
library=$libraries
entry -rw-r--r-- "${library#/}"
case "$library" in
/usr/local/* | /opt/*) fail "a Debian package must not install into $library" ;;
esac
if grep -v '^d' <<<"$listing" | grep -qv ' \./usr/'; then
    fail "files outside /usr: $(grep -v '^d' <<<"$listing" | grep -v ' \./usr/')"
fi

root=$scratch/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$root/DEBIAN"
(cd "$root" && md5sum --quiet -c DEBIAN/md5sums) || fail "md5sums do not match the contents"
file "$root/usr/sbin/ombrexctl" "$root$library" | grep -q 'not stripped' && fail "unstripped binaries"

# The packaged tool has the packaged library's path built in, and loads that library.
grep -qaF "$library" "$root/usr/sbin/ombrexctl" ||
    fail "the packaged ombrexctl does not look for the library at $library"
out=$(OMBREX_TEST_LIBOMBREX_SO_PATH=$root$library OMBREX_TEST_LD_SO_PRELOAD_PATH=$scratch/ld.so.preload \
    "$root/usr/sbin/ombrexctl" version 2>/dev/null) || fail "the packaged ombrexctl cannot load the packaged library"
expect_contains "$out" "Ombrex library version:  $OMBREX_VERSION (path: " "packaged version"
zcat "$root/usr/share/man/man8/ombrexctl.8.gz" | grep -qF "$library" ||
    fail "the packaged ombrexctl(8) does not name $library"

# Maintainer scripts: the package never enables the library on its own. The only script
# is prerm, and the only action it runs is disable.
scripts=$(cd "$root/DEBIAN" && ls | grep -vxE 'control|md5sums|conffiles|triggers|shlibs' || true)
expect_equal "$scripts" prerm "maintainer scripts"
actions=$(grep -oE '"\$ctl"[[:space:]]+[a-z]+' "$root/DEBIAN/prerm" | awk '{print $2}' | sort -u)
expect_equal "$actions" disable "actions run by prerm"
sh -n "$root/DEBIAN/prerm" || fail "prerm is not valid sh"

# Lintian: errors and warnings fail; what the package does on purpose is overridden with
# its reason in packaging/debian/lintian-overrides.
lintian --fail-on error,warning --info --pedantic "$deb" >"$scratch/lintian.log" 2>&1 ||
    fail "lintian: $(cat "$scratch/lintian.log")"
grep -E '^[EWIP]: ' "$scratch/lintian.log" || true

echo "package $(basename "$deb"): ok"
