#include "libombrex/facts.h"

#include <errno.h>
#include <fcntl.h>

#include "libombrex/sys.h"

namespace ombrex {

namespace {

// Appends the decimal value at out[at] and returns the new end.
size_t putDecimal(char* out, size_t at, uint32_t value) {
    char digits[10];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) {
        out[at++] = digits[--n];
    }
    return at;
}

size_t putText(char* out, size_t at, const char* text) {
    for (; *text != 0; ++text) {
        out[at++] = *text;
    }
    return at;
}

// Reads at most capacity - 1 bytes of a small file at its start and NUL-terminates them;
// returns the length, or -1.
long readSmallFile(const char* path, char* text, size_t capacity) {
    const int fd = sys::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (sys::failed(fd)) {
        return -1;
    }
    long length;
    do {
        length = sys::read(fd, text, capacity - 1);
    } while (length == -EINTR);
    sys::close(fd);
    if (sys::failed(length)) {
        return -1;
    }
    text[length] = 0;
    return length;
}

// A login uid or session id as the kernel writes it: decimal digits and a line end.
uint32_t readId(const char* path) {
    char text[16];
    const long length = readSmallFile(path, text, sizeof text);
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

} // namespace

namespace {

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
    size_t at = 0;
    if (major >= 136 && major <= 143) {
        at = putDecimal(out, putText(out, 0, "pts/"), (major - 136) * 256 + minor);
    } else if (major == 4 && minor < 64) {
        at = putDecimal(out, putText(out, 0, "tty"), minor);
    } else if (major == 4) {
        at = putDecimal(out, putText(out, 0, "ttyS"), minor - 64);
    } else if (major == 5 && minor == 1) {
        at = putText(out, 0, "console");
    } else {
        at = putDecimal(out, putText(out, putDecimal(out, 0, major), ":"), minor);
    }
    out[at] = 0;
    return out;
}

void readWho(ProcessFacts& facts, char (&tty)[ttyNameCapacity], TextArea& texts) {
    facts.auid = readId("/proc/self/loginuid");
    facts.ses = readId("/proc/self/sessionid");
    // The start of the line is enough: the terminal is its seventh field.
    char* const stat = texts.next();
    const long length = readSmallFile("/proc/self/stat", stat, 256);
    uint32_t device = 0;
    facts.tty = length > 0 && statTerminal(stat, static_cast<size_t>(length), device)
                    ? ttyName(device, tty)
                    : "unknown";
    char* const exe = texts.next();
    const long exeLength = sys::readlink("/proc/self/exe", exe, PATH_MAX - 1);
    if (exeLength > 0) {
        exe[exeLength] = 0;
        facts.exe = texts.keep(static_cast<size_t>(exeLength));
    } else {
        facts.exe = nullptr;
    }
}

} // namespace ombrex
