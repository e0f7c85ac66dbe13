#include "libombrex/rules.h"

#include <fcntl.h>

#include "libombrex/bytes.h"
#include "libombrex/facts.h"
#include "libombrex/pattern.h"
#include "libombrex/sys.h"

namespace ombrex {

namespace {

// The largest id that a rule may name: the one above it is the kernel's "no id" (-1).
constexpr uint32_t largestId = unsetId - 1;
constexpr char unsetWord[] = "unset";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// A decimal id of 1 to 10 digits, at most largestId.
bool readId(const char* text, size_t length, uint32_t& id) {
    if (length == 0 || length > 10) {
        return false;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (value > largestId) {
        return false;
    }
    id = static_cast<uint32_t>(value);
    return true;
}

bool isUnsetWord(const char* text, size_t length) {
    if (length != sizeof unsetWord - 1) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        const char c =
            text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != unsetWord[i]) {
            return false;
        }
    }
    return true;
}

struct IdRange {
    uint32_t low;
    uint32_t high;
};

// "1000", "1000-1999", or, where the kind allows it, "unset" (in any case): the kernel's -1.
bool readIdValue(const char* text, size_t length, ListKind kind, IdRange& range) {
    if (kind == ListKind::Auids && isUnsetWord(text, length)) {
        range = {unsetId, unsetId};
        return true;
    }
    size_t dash = 0;
    while (dash < length && text[dash] != '-') {
        ++dash;
    }
    if (dash == length) {
        return readId(text, length, range.low) && readId(text, length, range.high);
    }
    return readId(text, dash, range.low) &&
           readId(text + dash + 1, length - dash - 1, range.high) && range.low <= range.high;
}

bool isValidValue(const char* text, size_t length, ListKind kind) {
    if (kind == ListKind::Paths) {
        return isReadablePattern(text, length);
    }
    IdRange range{};
    return readIdValue(text, length, kind, range);
}

// The value at cursor in a list whose values are separated by blanks; moves cursor past it.
// False when no value is left. Inline, so that a list is compared with a path in one frame.
__attribute__((always_inline)) inline bool nextValue(const char*& cursor, const char*& value,
                                                     size_t& length) {
    while (isBlank(*cursor)) {
        ++cursor;
    }
    value = cursor;
    while (*cursor != 0 && !isBlank(*cursor)) {
        ++cursor;
    }
    length = static_cast<size_t>(cursor - value);
    return length > 0;
}

__attribute__((always_inline)) inline bool listHasId(const char* list, ListKind kind, uint32_t id) {
    const char* value = nullptr;
    size_t length = 0;
    while (nextValue(list, value, length)) {
        IdRange range{};
        if (readIdValue(value, length, kind, range) && id >= range.low && id <= range.high) {
            return true;
        }
    }
    return false;
}

bool listHasPath(const char* list, const char* path) {
    const char* value = nullptr;
    size_t length = 0;
    while (nextValue(list, value, length)) {
        if (matchesPattern(value, length, path)) {
            return true;
        }
    }
    return false;
}

enum class Verdict { Match, NoMatch, Undecided };

// What the target of a symbolic link came to against a list, and its length when it was read
// whole (else -1).
struct LinkRead {
    Verdict verdict;
    long length;
};

// The target of the symbolic link at `link` against the list, read into the room. A link that
// cannot be read leaves nothing to compare, and the execution is recorded; one longer than
// the room is undecided.
__attribute__((always_inline)) inline LinkRead linkVerdict(const char* link, const char* list,
                                                           PathRoom room) {
    if (room.capacity == 0) {
        return LinkRead{Verdict::Undecided, -1};
    }
    const long got = sys::readlink(link, room.text, room.capacity);
    if (sys::failed(got)) {
        return LinkRead{Verdict::NoMatch, -1};
    }
    if (static_cast<size_t>(got) >= room.capacity) {
        return LinkRead{Verdict::Undecided, -1};
    }
    room.text[got] = 0;
    return LinkRead{listHasPath(list, room.text) ? Verdict::Match : Verdict::NoMatch, got};
}

bool hasSlash(const char* text) {
    for (; *text != 0; ++text) {
        if (*text == '/') {
            return true;
        }
    }
    return false;
}

// The file that the call runs, as the kernel shows it once every symbolic link is followed:
// what the descriptor refers to, or the path (the file a PATH search found) opened for its
// name alone, which neither reads the file nor blocks on a FIFO.
//
// The descriptor's name under /proc takes the end of the room, not a buffer on the stack.
Verdict programVerdict(const RuleCheck& check, const char* found, PathRoom room) {
    if (room.capacity <= sizeof(DescriptorPath)) {
        return Verdict::Undecided;
    }
    room.capacity -= sizeof(DescriptorPath);
    auto& link = *reinterpret_cast<DescriptorPath*>(room.text + room.capacity);
    const ExecEvent& event = check.event;
    const char* const list = check.options.skipProgram;
    if (event.fd >= 0 && (event.file == nullptr || event.file[0] == 0)) {
        return linkVerdict(descriptorPath(link, event.fd), list, room).verdict;
    }
    const char* path = event.file;
    int dirfd = event.dirfd;
    int flags = O_PATH | O_CLOEXEC;
    if (event.search != Search::None) {
        if (found == nullptr && path != nullptr && !hasSlash(path)) {
            return Verdict::Undecided;
        }
        path = found != nullptr ? found : path;
        dirfd = sys::currentDirectory;
    } else if ((event.flags & sys::noFollow) != 0) {
        flags |= O_NOFOLLOW;
    }
    if (path == nullptr || path[0] == 0) {
        return Verdict::NoMatch;
    }
    const int fd = check.held.open([&] { return sys::openAt(dirfd, path, flags); });
    if (sys::failed(fd)) {
        return Verdict::NoMatch;
    }
    const Verdict verdict = linkVerdict(descriptorPath(link, fd), list, room).verdict;
    check.held.letGo(fd);
    return verdict;
}

// True for a match; takes the kind out of pending when it does not match.
bool settle(Verdict verdict, unsigned kind, unsigned& pending) {
    if (verdict == Verdict::NoMatch) {
        pending &= ~kind;
    }
    return verdict == Verdict::Match;
}

Verdict realUserVerdict(const char* list) {
    uint32_t real = 0;
    uint32_t others = 0; // the effective and the saved id, not wanted: one word for both
    if (sys::failed(sys::getresuid(&real, &others, &others))) {
        return Verdict::NoMatch;
    }
    return listHasId(list, ListKind::Uids, real) ? Verdict::Match : Verdict::NoMatch;
}

} // namespace

char* keepValidValues(char* list, ListKind kind) {
    char* out = list;
    const char* cursor = list;
    const char* value = nullptr;
    size_t length = 0;
    while (nextValue(cursor, value, length)) {
        if (!isValidValue(value, length, kind)) {
            continue;
        }
        if (out != list) {
            *out++ = ' ';
        }
        // Moving down in place: out never passes the value it copies.
        const bool unset = kind == ListKind::Auids && isUnsetWord(value, length);
        for (size_t i = 0; i < length; ++i) {
            out[i] = unset ? unsetWord[i] : value[i];
        }
        out += length;
    }
    *out = 0;
    return list;
}

unsigned rulesOf(const Options& options) {
    return (options.skipUid[0] != 0 ? uidRules : 0) | (options.skipAuid[0] != 0 ? auidRules : 0) |
           (options.skipExe[0] != 0 ? exeRules : 0) |
           (options.skipProgram[0] != 0 ? programRules : 0);
}

namespace {

// The login uid, read once for the rule and the record.
Verdict loginUserVerdict(RuleCheck& check) {
    Known& known = check.known;
    if (!known.auid) {
        known.auidValue = loginUid(check.held);
        known.auid = true;
    }
    return listHasId(check.options.skipAuid, ListKind::Auids, known.auidValue) ? Verdict::Match
                                                                               : Verdict::NoMatch;
}

// The calling program's file, read once for the rule and the record; the room that follows
// it is what is left for the program's.
Verdict callerVerdict(RuleCheck& check, PathRoom& room) {
    const LinkRead caller = linkVerdict("/proc/self/exe", check.options.skipExe, room);
    if (caller.verdict == Verdict::NoMatch) {
        check.known.exe = true;
        check.known.exeText = caller.length >= 0 ? room.text : nullptr;
        if (caller.length >= 0) {
            const auto used = static_cast<size_t>(caller.length) + 1;
            room = PathRoom{room.text + used, room.capacity - used};
        }
    }
    return caller.verdict;
}

} // namespace

bool leftOut(RuleCheck& check, const char* found, PathRoom room, unsigned& pending) {
    if ((pending & uidRules) != 0 &&
        settle(realUserVerdict(check.options.skipUid), uidRules, pending)) {
        return true;
    }
    if ((pending & auidRules) != 0 && settle(loginUserVerdict(check), auidRules, pending)) {
        return true;
    }
    if ((pending & exeRules) != 0 && settle(callerVerdict(check, room), exeRules, pending)) {
        return true;
    }
    return (pending & programRules) != 0 &&
           settle(programVerdict(check, found, room), programRules, pending);
}

} // namespace ombrex
