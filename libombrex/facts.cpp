#include "libombrex/facts.h"

#include <errno.h>
#include <fcntl.h>

#include "libombrex/rules.h"
#include "libombrex/sys.h"
#include "libombrex/writer.h"

namespace ombrex {

namespace {

// Reads at most capacity - 1 bytes of a small file at its start and NUL-terminates them;
// returns the length, or -1.
__attribute__((always_inline)) inline long readSmallFile(const char* path, char* text,
                                                         size_t capacity, Held& held) {
    const int fd = held.open([path] { return sys::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY); });
    if (sys::failed(fd)) {
        return -1;
    }
    long length;
    do {
        length = sys::read(fd, text, capacity - 1);
    } while (length == -EINTR);
    held.letGo(fd);
    if (sys::failed(length)) {
        return -1;
    }
    text[length] = 0;
    return length;
}

// A login uid or session id as the kernel writes it: decimal digits and a line end.
uint32_t readId(const char* path, Held& held) {
    char text[16];
    const long length = readSmallFile(path, text, sizeof text, held);
    uint64_t value = 0;
    long i = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > unsetId) {
            return unsetId;
        }
    }
    return i > 0 ? static_cast<uint32_t>(value) : unsetId;
}

// Moves at past one blank and the word after it, which starts at start; false when there is
// no such field.
bool skipField(const char* text, size_t length, size_t& at, size_t& start) {
    if (at >= length || text[at] != ' ') {
        return false;
    }
    start = ++at;
    while (at < length && text[at] != ' ') {
        ++at;
    }
    return at > start;
}

// The decimal number, perhaps negative, in text[start, end), as the kernel's int prints it.
bool deviceNumber(const char* text, size_t start, size_t end, uint32_t& device) {
    const bool negative = text[start] == '-';
    int64_t value = 0;
    for (size_t i = negative ? start + 1 : start; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9' || value > 0xFFFFFFFF) {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    device = static_cast<uint32_t>(negative ? -value : value);
    return true;
}

} // namespace

bool statTerminal(const char* text, size_t length, uint32_t& device) {
    // The program's name in parentheses may hold anything, ')' too, but nothing after it does.
    size_t at = length;
    while (at > 0 && text[at - 1] != ')') {
        --at;
    }
    if (at == 0) {
        return false;
    }
    // After "pid (comm)": state, ppid, pgrp, session, tty_nr.
    size_t start = 0;
    for (int field = 0; field < 5; ++field) {
        if (!skipField(text, length, at, start)) {
            return false;
        }
    }
    return deviceNumber(text, start, at, device);
}

const char* ttyName(uint32_t device, char (&out)[ttyNameCapacity]) {
    if (device == 0) {
        return "none";
    }
    // The kernel's encoding of a device number in 32 bits.
    const uint32_t major = (device >> 8) & 0xFFF;
    const uint32_t minor = (device & 0xFF) | ((device >> 12) & 0xFFF00);
    Writer w(out, sizeof out, 0);
    if (major >= 136 && major <= 143) {
        w.put("pts/");
        w.putUnsigned((major - 136) * 256 + minor);
    } else if (major == 4 && minor < 64) {
        w.put("tty");
        w.putUnsigned(minor);
    } else if (major == 4) {
        w.put("ttyS");
        w.putUnsigned(minor - 64);
    } else if (major == 5 && minor == 1) {
        w.put("console");
    } else {
        w.putUnsigned(major);
        w.put(':');
        w.putUnsigned(minor);
    }
    w.put('\0');
    return out;
}

void readWho(ProcessFacts& facts, char (&tty)[ttyNameCapacity], TextArea& texts, const Known& known,
             Held& held) {
    facts.auid = known.auid ? known.auidValue : loginUid(held);
    facts.ses = readId("/proc/self/sessionid", held);
    // The start of the line is enough: the terminal is its seventh field.
    char* const stat = texts.next();
    const long length = readSmallFile("/proc/self/stat", stat, 256, held);
    uint32_t device = 0;
    facts.tty = length > 0 && statTerminal(stat, static_cast<size_t>(length), device)
                    ? ttyName(device, tty)
                    : "unknown";
    facts.exe = known.exe ? known.exeText : keepLinkTarget("/proc/self/exe", texts);
}

uint32_t loginUid(Held& held) {
    return readId("/proc/self/loginuid", held);
}

const char* keepLinkTarget(const char* path, TextArea& texts) {
    char* const target = texts.next();
    const long length = sys::readlink(path, target, PATH_MAX - 1);
    if (length <= 0) {
        return nullptr;
    }
    target[length] = 0;
    return texts.keep(static_cast<size_t>(length));
}

} // namespace ombrex
