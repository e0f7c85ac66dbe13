#!/usr/bin/env bash
# The calls that search PATH (execvp, execvpe, execlp, posix_spawnp) name in path= the file
# that ran, found by the C library's rules: directory by directory, passing over what is not
# there and what is refused; an empty directory is the working directory; a name with a slash
# is not searched; without PATH, /bin:/usr/bin. The path is absolute. file= keeps the name.
. "$(dirname "$0")/lib.sh"
: "${EXEC_PROBE:?}"

log=$scratch/records.log
write_config "$scratch/file.ini" "destination = file" "file = $log"
use_config "$scratch/file.ini"
work=$scratch/work

# make_tree CANDIDATE...: a fresh tree of candidates. CANDIDATE is PLACE:KIND, PLACE relative
# to $scratch, KIND one of: script (prints "ran PLACE"), refused (no execute permission),
# directory, bare (executable, without a #! line: the kernel cannot load it).
make_tree() {
    rm -rf "$scratch/d1" "$scratch/d2" "$work"
    mkdir -p "$scratch/d1" "$scratch/d2" "$work/rel" "$work/sub"
    local candidate place kind
    for candidate in "$@"; do
        place=${candidate%%:*}
        kind=${candidate#*:}
        case $kind in
        script) printf '#!/bin/sh\necho "ran %s"\n' "$place" >"$scratch/$place" ;;
        refused) printf '#!/bin/sh\necho "ran %s"\n' "$place" >"$scratch/$place" ;;
        directory) mkdir "$scratch/$place" ;;
        bare) printf 'echo "ran %s"\n' "$place" >"$scratch/$place" ;;
        esac
        case $kind in
        refused) chmod 0644 "$scratch/$place" ;;
        script | bare) chmod 0755 "$scratch/$place" ;;
        esac
    done
}

# what | PATH (- for unset) | name | candidates | path= expected | result (none: no record)
# @D1@, @D2@: the two directories; @W@: the working directory; @ABS@: @D2@/tool; @LONG@: a
# directory of 4,100 bytes, @4094@ one of 4,094 (with "/tool", longer than a path may be);
# @NAME256@: a name of 256 bytes
rows=(
    "in the second directory|@D1@:@D2@|tool|d2/tool:script|@D2@/tool|"
    "refused in the first, run from the second|@D1@:@D2@|tool|d1/tool:refused d2/tool:script|@D2@/tool|"
    "a directory in the first|@D1@:@D2@|tool|d1/tool:directory d2/tool:script|@D2@/tool|"
    "the first of two|@D1@:@D2@|tool|d1/tool:script d2/tool:script|@D1@/tool|"
    "refused, and nothing after it|@D1@:@D2@|tool|d1/tool:refused|@D1@/tool|EACCES"
    "the first refusal counts|@D1@:@D2@|tool|d1/tool:refused d2/tool:refused|@D1@/tool|EACCES"
    "nowhere|@D1@:@D2@|tool||-|none"
    "an empty directory is the working one|@D1@::@D2@|tool|work/tool:script d2/tool:script|@W@/tool|"
    "an empty first directory|:@D2@|tool|work/tool:script d2/tool:script|@W@/tool|"
    "an empty last directory|@D1@:|tool|work/tool:script|@W@/tool|"
    "a relative directory|rel:@D2@|tool|work/rel/tool:script|@W@/rel/tool|"
    "a name with a slash is not searched|@D2@|sub/tool|work/sub/tool:script d2/tool:script|@W@/sub/tool|"
    "dot slash|@D2@|./tool|work/tool:script|@W@/tool|"
    "an absolute name|@D1@|@ABS@|d2/tool:script|@D2@/tool|"
    "without PATH, /bin:/usr/bin|-|true||/bin/true|"
    "a directory too long for PATH is passed over|@LONG@:@D2@|tool|d2/tool:script|@D2@/tool|"
    "in its place the working directory|@LONG@:@D2@|tool|work/tool:script d2/tool:script|@W@/tool|"
    "refused there, run from the next one|@LONG@:@D2@|tool|work/tool:refused d2/tool:script|@D2@/tool|"
    "a directory too long for PATH at the end|@D1@:@LONG@|tool|work/tool:script|-|none"
    "refused before a directory too long at the end|@D1@:@LONG@|tool|d1/tool:refused work/tool:script|@D1@/tool|EACCES"
    "only a directory too long for PATH|@LONG@|tool|work/tool:script|-|none"
    "two directories too long for PATH|@LONG@:@LONG@:@D2@|tool|d2/tool:script|@D2@/tool|"
    "a candidate longer than a path may be|@4094@:@D2@|tool|d2/tool:script||ENAMETOOLONG"
    "a name longer than NAME_MAX|@D2@|@NAME256@|d2/tool:script||ENAMETOOLONG"
)
long=/$(head -c 4099 /dev/zero | tr '\0' x)
long4094=/$(head -c 4093 /dev/zero | tr '\0' x)
name256=$(head -c 256 /dev/zero | tr '\0' n)
entries=(execvp execvpe execlp posix_spawnp)

for row in "${rows[@]}"; do
    IFS='|' read -r what path name candidates expected result <<<"$row"
    path=${path//@LONG@/$long}
    path=${path//@4094@/$long4094}
    path=${path//@D1@/$scratch/d1}
    path=${path//@D2@/$scratch/d2}
    [ "$expected" = - ] && expected=
    expected=${expected//@D1@/$scratch/d1}
    expected=${expected//@D2@/$scratch/d2}
    expected=${expected//@W@/$work}
    name=${name//@ABS@/$scratch/d2/tool}
    name=${name//@NAME256@/$name256}
    read -ra tree <<<"$candidates"
    for entry in "${entries[@]}"; do
        make_tree "${tree[@]}"
        run=(env PATH="$path")
        [ "$path" = - ] && run=(env -u PATH)
        # The same outcome with the library as without it, from the working directory.
        without=$(cd "$work" && "${run[@]}" "$EXEC_PROBE" try "$entry" "$name" 2>&1 |
            sed 's/^pid [0-9]*$/pid N/')
        : >"$log"
        with=$(cd "$work" && "${run[@]}" LD_PRELOAD="$OMBREX_LIBRARY" "$EXEC_PROBE" try \
            "$entry" "$name" 2>&1 | sed 's/^pid [0-9]*$/pid N/')
        expect_eq "$with" "$without" "$what: $entry: outcome"
        if [ "$result" = none ]; then
            expect_eq "$(wc -l <"$log")" 0 "$what: $entry: records"
            continue
        fi
        expect_eq "$(wc -l <"$log")" 1 "$what: $entry: records"
        r=$(cat "$log")
        expect_eq "$(field file "$r")" "$name" "$what: $entry: file"
        expect_eq "$(field path "$r")" "$expected" "$what: $entry: path"
        expect_eq "$(field result "$r")" "$result" "$what: $entry: result"
        # What ran is what path= names.
        if [ -z "$result" ] && [[ $with == *"ran "* ]]; then
            expect_eq "$scratch/$(sed -n 's/^ran //p' <<<"$with")" "$expected" \
                "$what: $entry: the program that ran"
        fi
    done
done

# A file the kernel cannot load: execvp and the like run it with /bin/sh, as the C library
# does; posix_spawnp does not, and the spawn fails.
for entry in "${entries[@]}"; do
    make_tree d1/tool:bare
    : >"$log"
    out=$(cd "$work" && PATH=$scratch/d1 LD_PRELOAD="$OMBREX_LIBRARY" "$EXEC_PROBE" try \
        "$entry" tool 2>&1)
    r=$(cat "$log")
    expect_eq "$(wc -l <"$log")" 1 "without #!: $entry: records"
    expect_eq "$(field path "$r")" "$scratch/d1/tool" "without #!: $entry: path"
    if [ "$entry" = posix_spawnp ]; then
        expect_eq "$out" "error ENOEXEC" "without #!: $entry: outcome"
        expect_eq "$(field result "$r")" ENOEXEC "without #!: $entry: result"
    else
        expect_eq "$out" $'ran d1/tool\nstatus 0' "without #!: $entry: outcome"
        expect_eq "$(count_fields result "$r")" 0 "without #!: $entry: result"
    fi
done

finish
