#!/usr/bin/env bash
# The generated manual pages are lint-clean and do not drift from the tool and the library:
# every action word of the usage text and every option that the library lists is described.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

man_dir=$OMBREX_BUILD_DIR/docs/man
tool_page=$man_dir/ombrexctl.8
library_page=$man_dir/ombrex.ini.5
[ -f "$tool_page" ] && [ -f "$library_page" ] || fail "pages not generated in $man_dir"

need_command mandoc mandoc
need_command groff groff-base
for page in "$tool_page" "$library_page"; do
    # mandoc reports style issues too; any message at all fails.
    findings=$(mandoc -T lint "$page" 2>&1 || true)
    [ -z "$findings" ] || fail "mandoc -T lint $page:
$findings"
    findings=$(groff -ww -z -man "$page" 2>&1 || true)
    [ -z "$findings" ] || fail "groff -ww $page:
$findings"
done

export OMBREX_TEST_LIBOMBREX_SO_PATH=$OMBREX_TEST_LIBRARY_FILE
export OMBREX_TEST_LD_SO_PRELOAD_PATH=$scratch/ld.so.preload

actions=$("$OMBREX_CTL" help | sed -n 's/^    \([a-z][a-z]*\)  .*/\1/p')
[ "$(echo "$actions" | wc -l)" -eq 7 ] || fail "expected seven actions in the usage text: $actions"
for action in $actions; do
    grep -qxF ".SS $action" "$tool_page" || fail "ombrexctl(8) has no section for the action $action"
done
for variable in OMBREX_TEST_LD_SO_PRELOAD_PATH OMBREX_TEST_LIBOMBREX_SO_PATH LD_PRELOAD; do
    grep -qxF ".B $variable" "$tool_page" || fail "ombrexctl(8) does not describe $variable"
done

# The library's own option list, through the tool; the tests' copy of the library finds no
# configuration file, so the values listed are the defaults.
rm -rf "$OMBREX_TEST_CONFIG"
options=$("$OMBREX_CTL" conf 2>/dev/null | sed -n 's/^\([a-z_]*\) = \(.*\)$/\1=\2/p')
[ -n "$options" ] || fail "ombrexctl conf listed no option"
for option in $options; do
    name=${option%%=*}
    default=${option#*=}
    if [ -z "$default" ]; then
        grep -qxF ".BR $name \" (empty by default)\"" "$library_page" ||
            fail "ombrex.ini(5) does not describe the option $name as empty by default"
    else
        grep -qxF ".BR $name \" (default \" $default )" "$library_page" ||
            fail "ombrex.ini(5) does not describe the option $name with its default $default"
    fi
done

echo "manual pages: ok"
