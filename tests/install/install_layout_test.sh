#!/usr/bin/env bash
# cmake --install into a staging directory: everything lands in its standard place under
# the prefix, the library exactly at the tool's built-in path, and the installed tool works
# with the installed library.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

stage=$scratch/stage
DESTDIR=$stage cmake --install "$OMBREX_BUILD_DIR" >"$scratch/install.log" ||
    fail "cmake --install failed: $(cat "$scratch/install.log")"
prefix=$stage$OMBREX_INSTALL_PREFIX

for file in \
    sbin/ombrexctl \
    share/man/man8/ombrexctl.8.gz \
    share/man/man5/ombrex.ini.5.gz \
    share/bash-completion/completions/ombrexctl \
    share/doc/ombrex/README.md \
    share/doc/ombrex/copyright \
    share/doc/ombrex/changelog.gz \
    share/doc/ombrex/examples/ombrex.ini \
    share/doc/ombrex/examples/60-ombrex-forward.conf \
    share/doc/ombrex/examples/60-ombrex-central.conf \
    share/doc/ombrex/examples/ombrex-dedupe.jq \
    share/doc/ombrex/examples/ansible/roles/ombrex/tasks/main.yml; do
    [ -f "$prefix/$file" ] || fail "not installed: $OMBREX_INSTALL_PREFIX/$file"
done
[ -x "$prefix/sbin/ombrexctl" ] || fail "ombrexctl is not executable"

# The one path that must agree: where the library is installed and where the tool looks.
library=$stage$OMBREX_LIBRARY_PATH
[ -f "$library" ] ||
    fail "libombrex.so is not installed at the tool's built-in path $OMBREX_LIBRARY_PATH: $(
        find "$stage" -name libombrex.so)"
# Preloaded into set-user-ID programs too: nobody but root may be able to change it.
mode=$(stat -c %a "$library")
[ $((8#$mode & 8#022)) -eq 0 ] || fail "libombrex.so is writable by group or others ($mode)"

outside=$(find "$stage" ! -type d | grep -v "^$prefix/" || true)
[ -z "$outside" ] || fail "installed outside the prefix: $outside"

for page in "$prefix"/share/man/man*/*.gz; do
    gzip -t "$page" || fail "not a valid gzip file: $page"
    zcat "$page" | grep -q '@[A-Z_]*@' && fail "unsubstituted placeholder in $page"
done
zcat "$prefix/share/man/man8/ombrexctl.8.gz" | grep -qF "$OMBREX_LIBRARY_PATH" ||
    fail "ombrexctl(8) does not name the built-in library path $OMBREX_LIBRARY_PATH"

# The installed tool with the installed library; both test overrides keep it off the
# system's files.
export OMBREX_TEST_LIBOMBREX_SO_PATH=$library
export OMBREX_TEST_LD_SO_PRELOAD_PATH=$scratch/ld.so.preload
out=$("$prefix/sbin/ombrexctl" version 2>"$scratch/err") || fail "installed ombrexctl version failed: $(cat "$scratch/err")"
expect_equal "$out" "Ombrex CLI tool version: $OMBREX_VERSION
Ombrex library version:  $OMBREX_VERSION (path: $library)" "installed ombrexctl version"

out=$("$prefix/sbin/ombrexctl" enable 2>/dev/null) || fail "installed ombrexctl enable failed"
expect_contains "$out" "SUCCESS: Ombrex has been enabled." "enable"
expect_equal "$(cat "$OMBREX_TEST_LD_SO_PRELOAD_PATH")" "$library" "preload content after enable"

echo "install layout: ok"
