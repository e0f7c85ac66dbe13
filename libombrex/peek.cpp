#include "libombrex/peek.h"

#include <errno.h>
#include <stdint.h>

#include "libombrex/bytes.h"
#include "libombrex/options.h"
#include "libombrex/sys.h"

namespace ombrex {

namespace {

// Moves the values that the options keep in the text to its start, one after the other, and
// returns what follows them as the room for the path that the rules compare: no buffer of its
// own on a stack this short. The values move in the order they lie in, so that each lies at or
// after the place it moves to and a forward copy is safe; a value outside the text (a
// default's) stays where it is.
__attribute__((noinline)) PathRoom packValues(Options& options, char* text, size_t capacity) {
    const char** values[] = {&options.file,    &options.syslogSocket, &options.tag,
                             &options.skipExe, &options.skipProgram,  &options.skipUid,
                             &options.skipAuid};
    constexpr size_t count = sizeof values / sizeof values[0];
    const auto inText = [text, capacity](const char* value) {
        const auto at = reinterpret_cast<uintptr_t>(value);
        const auto start = reinterpret_cast<uintptr_t>(text);
        return at >= start && at - start < capacity;
    };
    char* at = text;
    for (size_t moved = 0; moved < count; ++moved) {
        // The lowest value in the text that has not moved yet.
        const char** lowest = nullptr;
        for (const char** value : values) {
            if (inText(*value) && *value >= at && (lowest == nullptr || *value < *lowest)) {
                lowest = value;
            }
        }
        if (lowest == nullptr) {
            break;
        }
        const size_t length = textLength(*lowest) + 1;
        copyBytes(at, *lowest, length);
        *lowest = at;
        at += length;
    }
    return PathRoom{at, capacity - static_cast<size_t>(at - text)};
}

// The rules that the small file holds: those on who runs the program first, which need no
// room, then those on paths, in the room left in the text.
bool leftOutOnStack(RuleCheck& check, Options& options, char* text, size_t capacity,
                    unsigned& pending) {
    if (leftOut(check, nullptr, PathRoom{nullptr, 0}, pending)) {
        return true;
    }
    return (pending & (exeRules | programRules)) != 0 &&
           leftOut(check, nullptr, packValues(options, text, capacity), pending);
}

// A pointer into the text at `from` (`size` bytes), moved to the same place in the copy at
// `to`; any other pointer (a default's text) stays.
template <typename Text> void move(Text& pointer, const char* from, size_t size, char* to) {
    const auto at = reinterpret_cast<uintptr_t>(pointer);
    const auto start = reinterpret_cast<uintptr_t>(from);
    if (pointer != nullptr && at >= start && at - start < size) {
        pointer = to + (at - start);
    }
}

// The parsed text and what the rules read into it, copied to the record's workspace as they
// are, with every pointer into it moved along. A frame of its own, beside the rules' chain.
__attribute__((noinline)) Workspace* keepInWorkspace(const Options& options, const Known& known,
                                                     const char* text) {
    Workspace* const w = claimWorkspace();
    if (w == nullptr) {
        return nullptr;
    }
    constexpr size_t size = peekTextSize;
    copyBytes(w->texts, text, size);
    w->options = options;
    w->known = known;
    Options& o = w->options;
    move(o.file, text, size, w->texts);
    move(o.syslogSocket, text, size, w->texts);
    move(o.tag, text, size, w->texts);
    move(o.skipProgram, text, size, w->texts);
    move(o.skipExe, text, size, w->texts);
    move(o.skipUid, text, size, w->texts);
    move(o.skipAuid, text, size, w->texts);
    move(w->known.exeText, text, size, w->texts);
    return w;
}

} // namespace

__attribute__((noinline)) ConfigPeek peekConfig(bool sandboxed, const ExecEvent& event,
                                                Held& held) {
    ConfigPeek peek{nullptr, -1, 0, allRules, false, false};
    size_t size = 0;
    peek.fd = openConfig(configPath(), size);
    // Only the first configTextCapacity bytes are ever read.
    peek.size = static_cast<uint32_t>(size <= configTextCapacity ? size : configTextCapacity + 1);
    if (peek.fd < 0 || peek.size > peekCapacity) {
        return peek;
    }
    char text[peekTextSize];
    long got;
    do {
        got = sys::pread(peek.fd, text, peekCapacity + 1, 0);
    } while (got == -EINTR);
    if (sys::failed(got) || got > static_cast<long>(peekCapacity)) {
        return peek; // grown since: read in full later
    }
    held.letGo(peek.fd);
    peek.fd = -1;
    peek.read = true;
    Options options;
    setDefaults(options);
    parseOptions(text, static_cast<size_t>(got), options);
    peek.off = options.destination == Destination::None ||
               (sandboxed && options.sandboxed == Sandboxed::Skip);
    RuleCheck check{options, event, held, Known{nullptr, 0, false, false}};
    if (!peek.off) {
        peek.pending = rulesOf(options);
        peek.off =
            peek.pending != 0 && leftOutOnStack(check, options, text, sizeof text, peek.pending);
    }
    if (!peek.off) {
        peek.workspace = keepInWorkspace(options, check.known, text);
    }
    return peek;
}

} // namespace ombrex
