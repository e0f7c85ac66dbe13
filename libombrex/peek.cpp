#include "libombrex/peek.h"

#include <errno.h>

#include "libombrex/bytes.h"
#include "libombrex/options.h"
#include "libombrex/rules.h"
#include "libombrex/sys.h"

namespace ombrex {

namespace {

// Moves the lists of the rules on paths to the start of the text, which the rest of the
// configuration is no longer needed from, and returns what follows them as the room for the
// path they are compared with: no buffer of its own on a stack this short.
PathRoom packPathLists(Options& options, char* text, size_t capacity) {
    const char** lists[2] = {&options.skipExe, &options.skipProgram};
    // An empty list may be the default's text, outside this one: only lists in it are ordered.
    if ((*lists[0])[0] != 0 && (*lists[1])[0] != 0 && *lists[1] < *lists[0]) {
        const char** const earlier = lists[1];
        lists[1] = lists[0];
        lists[0] = earlier;
    }
    // Each list lies at or after the place it moves to, so a forward copy is safe.
    char* at = text;
    for (const char** list : lists) {
        if ((*list)[0] == 0) {
            continue;
        }
        const size_t length = textLength(*list) + 1;
        copyBytes(at, *list, length);
        *list = at;
        at += length;
    }
    return PathRoom{at, capacity - static_cast<size_t>(at - text)};
}

// The rules that the small file holds: those on who runs the program first, which need no
// room, then those on paths, in the room left in the text.
bool leftOutOnStack(Options& options, const ExecEvent& event, char* text, size_t capacity,
                    unsigned& pending) {
    if (leftOut(options, event, nullptr, PathRoom{nullptr, 0}, pending)) {
        return true;
    }
    return (pending & (exeRules | programRules)) != 0 &&
           leftOut(options, event, nullptr, packPathLists(options, text, capacity), pending);
}

} // namespace

__attribute__((noinline)) ConfigPeek peekConfig(bool sandboxed, const ExecEvent& event) {
    ConfigPeek peek{-1, 0, false, allRules};
    peek.fd = openConfig(configPath(), peek.size);
    if (peek.fd < 0 || peek.size > peekCapacity) {
        return peek;
    }
    char text[peekCapacity + 2];
    long got;
    do {
        got = sys::pread(peek.fd, text, peekCapacity + 1, 0);
    } while (got == -EINTR);
    if (sys::failed(got) || got > static_cast<long>(peekCapacity)) {
        return peek; // grown since: read in full later
    }
    Options options;
    setDefaults(options);
    parseOptions(text, static_cast<size_t>(got), options);
    peek.off = options.destination == Destination::None ||
               (sandboxed && options.sandboxed == Sandboxed::Skip);
    if (!peek.off) {
        peek.pending = rulesOf(options);
        peek.off =
            peek.pending != 0 && leftOutOnStack(options, event, text, sizeof text, peek.pending);
    }
    if (peek.off) {
        sys::close(peek.fd);
        peek.fd = -1;
    }
    return peek;
}

} // namespace ombrex
