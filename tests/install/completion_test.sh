#!/usr/bin/env bash
# Drives the bash completion as bash does (COMP_WORDS, COMP_CWORD): the seven action words
# as the first word, nothing after it. Then the installed copy is found on demand by
# bash-completion, also through sudo.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

completion=$OMBREX_SOURCE_DIR/completion/ombrexctl

# Prints the candidates, sorted, one per line, for the given words; the last word is the
# one being completed.
candidates() {
    bash --norc --noprofile -c '
        source "$1"
        shift
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE="${COMP_WORDS[*]}"
        COMP_POINT=${#COMP_LINE}
        _ombrexctl ombrexctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort
    ' completion "$completion" "$@"
}

all=$(printf '%s\n' about conf disable enable help status version)
expect_equal "$(candidates ombrexctl '')" "$all" "candidates for an empty first word"
expect_equal "$(candidates ombrexctl e)" "enable" "candidates for e"
expect_equal "$(candidates ombrexctl dis)" "disable" "candidates for dis"
expect_equal "$(candidates ombrexctl s)" "status" "candidates for s"
expect_equal "$(candidates ombrexctl enable)" "enable" "candidates for a complete word"
expect_equal "$(candidates ombrexctl x)" "" "candidates for x"
# Upper case is another word to the tool, so it is not completed either.
expect_equal "$(candidates ombrexctl E)" "" "candidates for E"
expect_equal "$(candidates ombrexctl enable '')" "" "candidates after the action word"
expect_equal "$(candidates ombrexctl status s)" "" "candidates for a second word"

registered=$(bash --norc --noprofile -c 'source "$1"; complete -p ombrexctl' x "$completion")
expect_equal "$registered" "complete -F _ombrexctl ombrexctl" "registration"

# The installed copy, loaded on demand the way an interactive shell does it.
loader=/usr/share/bash-completion/bash_completion
[ -f "$loader" ] || skip_or_fail "bash-completion is not installed (Debian package bash-completion)"
stage=$scratch/stage
DESTDIR=$stage cmake --install "$OMBREX_BUILD_DIR" >/dev/null
prefix=$stage$OMBREX_INSTALL_PREFIX
on_demand() {
    PATH=$prefix/sbin:$PATH XDG_DATA_DIRS=$prefix/share:/usr/share \
        BASH_COMPLETION_USER_DIR=$scratch/none bash --norc --noprofile -c '
        source "$1"
        shift
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE="${COMP_WORDS[*]}"
        COMP_POINT=${#COMP_LINE}
        __load_completion "${COMP_WORDS[0]}" || exit 1
        registration=$(complete -p "${COMP_WORDS[0]}")
        function=${registration#*-F }
        function=${function%% *}
        "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort
    ' on-demand "$loader" "$@"
}
expect_equal "$(on_demand ombrexctl d)" "disable" "installed completion loaded on demand"
if [ -f /usr/share/bash-completion/completions/sudo ]; then
    expect_equal "$(on_demand sudo ombrexctl v)" "version" "completion through sudo"
fi

echo "completion: ok"
