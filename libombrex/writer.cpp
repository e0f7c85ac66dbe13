#include "libombrex/writer.h"

#include "libombrex/bytes.h"

namespace ombrex {

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at s (1 to 4), or 0 if the bytes there are not one
// (overlong forms, surrogates, code points past U+10FFFF, stray or missing continuation bytes).
// A NUL ends the text and is never a continuation byte, so this never reads past the string.
size_t sequenceLength(const unsigned char* s, uint32_t& codePoint) {
    const unsigned char c = s[0];
    if (c < 0x80) {
        codePoint = c;
        return 1;
    }
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    size_t length = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        codePoint = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        codePoint = c & 0x0Fu;
        if (c == 0xE0) {
            low = 0xA0; // overlong
        } else if (c == 0xED) {
            high = 0x9F; // surrogates
        }
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        codePoint = c & 0x07u;
        if (c == 0xF0) {
            low = 0x90; // overlong
        } else if (c == 0xF4) {
            high = 0x8F; // past U+10FFFF
        }
    } else {
        return 0;
    }
    if (s[1] < low || s[1] > high) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if (!isContinuation(s[i])) {
            return 0;
        }
        codePoint = (codePoint << 6) | (s[i] & 0x3Fu);
    }
    return length;
}

// Code points that a terminal, an editor or a log viewer may treat as a line break or that
// reorder the text shown: a log line must read as what it is.
bool needsUnicodeEscape(uint32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}

} // namespace

Writer::Writer(char* buffer, size_t capacity, size_t reserve, Pieces* pieces)
    : buffer_(buffer), pieces_(pieces), capacity_(static_cast<uint32_t>(capacity)),
      limit_(static_cast<uint32_t>(capacity > reserve ? capacity - reserve : 0)), length_(0),
      used_(0), built_(0), full_(false) {
    if (pieces_ != nullptr) {
        pieces_->count = 0;
    }
}

void Writer::append(const char* bytes, size_t count) {
    copyBytes(buffer_ + used_, bytes, count);
    used_ += static_cast<uint32_t>(count);
    length_ += static_cast<uint32_t>(count);
}

bool Writer::put(const char* bytes, size_t count) {
    if (!room(count)) {
        return false;
    }
    append(bytes, count);
    return true;
}

bool Writer::put(const char* text) {
    return put(text, textLength(text));
}

bool Writer::put(char c) {
    return put(&c, 1);
}

// Numbers are written straight into the buffer: no digits on the stack.
bool Writer::putUnsigned(uint64_t value, unsigned minDigits) {
    const size_t count = decimalLength(value, minDigits);
    if (!room(count)) {
        return false;
    }
    putDigits(buffer_ + used_, count, value);
    used_ += static_cast<uint32_t>(count);
    length_ += static_cast<uint32_t>(count);
    return true;
}

bool Writer::putSigned(int64_t value) {
    const size_t sign = value < 0 ? 1 : 0;
    const uint64_t digits = magnitude(value);
    const size_t count = decimalLength(digits);
    if (!room(sign + count)) {
        return false;
    }
    if (sign != 0) {
        buffer_[used_] = '-';
    }
    putDigits(buffer_ + used_ + sign, count, digits);
    used_ += static_cast<uint32_t>(sign + count);
    length_ += static_cast<uint32_t>(sign + count);
    return true;
}

namespace {

// Turns one escaped unit (at most 6 bytes) into JSON string content in place: a backslash
// before each backslash and quote. Returns the new length.
size_t toJsonUnit(char (&unit)[16], size_t length) {
    size_t extra = 0;
    for (size_t i = 0; i < length; ++i) {
        extra += unit[i] == '\\' || unit[i] == '"' ? 1 : 0;
    }
    for (size_t i = length, to = length + extra; i > 0; --i) {
        unit[--to] = unit[i - 1];
        if (unit[i - 1] == '\\' || unit[i - 1] == '"') {
            unit[--to] = '\\';
        }
    }
    return length + extra;
}

// "\xHH" for the byte c.
size_t byteEscape(unsigned char c, char (&unit)[16]) {
    unit[0] = '\\';
    unit[1] = 'x';
    unit[2] = hexDigits[c >> 4];
    unit[3] = hexDigits[c & 0xF];
    return 4;
}

// How many bytes from s on are whole characters that are written as they are: no quote,
// backslash or control character, valid UTF-8 and none of the code points escaped below.
size_t plainRun(const unsigned char* s) {
    const unsigned char* p = s;
    for (;;) {
        const unsigned char c = *p;
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            ++p;
            continue;
        }
        uint32_t cp = 0;
        const size_t length = c >= 0x80 ? sequenceLength(p, cp) : 0;
        if (length == 0 || needsUnicodeEscape(cp)) {
            return static_cast<size_t>(p - s);
        }
        p += length;
    }
}

// The escaped form of the character that starts at s (at most 6 bytes, in unit); sets
// consumed to the number of bytes of s that it stands for.
size_t escapeUnit(const unsigned char* s, char (&unit)[16], size_t& consumed) {
    const unsigned char c = *s;
    consumed = 1;
    if (c == '"' || c == '\\' || c == '\n' || c == '\r' || c == '\t') {
        unit[0] = '\\';
        unit[1] = c == '\n' ? 'n' : (c == '\r' ? 'r' : (c == '\t' ? 't' : static_cast<char>(c)));
        return 2;
    }
    if (c < 0x20 || c == 0x7F) {
        return byteEscape(c, unit);
    }
    if (c < 0x80) {
        unit[0] = static_cast<char>(c);
        return 1;
    }
    uint32_t cp = 0;
    const size_t length = sequenceLength(s, cp);
    if (length == 0) {
        return byteEscape(c, unit);
    }
    consumed = length;
    if (needsUnicodeEscape(cp)) {
        unit[0] = '\\';
        unit[1] = 'u';
        for (unsigned i = 0; i < 4; ++i) {
            unit[2 + i] = hexDigits[(cp >> (12 - 4 * i)) & 0xF];
        }
        return 6;
    }
    copyBytes(unit, reinterpret_cast<const char*>(s), length);
    return length;
}

} // namespace

bool Writer::room(size_t count) {
    if (full_ || length_ > limit_ || count > size_t{limit_} - length_) {
        full_ = true;
    }
    return !full_;
}

void Writer::putQuoted(const char* prefix, const char* value, bool json) {
    putQuoted("", prefix, "", value, json);
}

void Writer::putQuoted(const char* lead, const char* name, const char* tail, const char* value,
                       bool json) {
    if (!room(textLength(lead) + textLength(name) + textLength(tail) + 1)) {
        return;
    }
    put(lead);
    put(name);
    put(tail);
    put('"');
    const unsigned char* s = reinterpret_cast<const unsigned char*>(value != nullptr ? value : "");
    while (*s != 0) {
        // What needs no escape goes whole (JSON adds nothing to it either), the rest unit by
        // unit: an escape is never cut in half.
        const size_t run = plainRun(s);
        if (run > 0) {
            if (!putRun(reinterpret_cast<const char*>(s), run)) {
                break;
            }
            s += run;
            continue;
        }
        char unit[16];
        size_t consumed = 1;
        size_t unitLength = escapeUnit(s, unit, consumed);
        if (json) {
            unitLength = toJsonUnit(unit, unitLength);
        }
        if (!put(unit, unitLength)) {
            break;
        }
        s += consumed;
    }
    // A value that filled the buffer to the last byte is closed from the reserve all the same.
    if (!put('"')) {
        putReserved("\"", 1);
    }
}

__attribute__((always_inline)) inline bool Writer::putRun(const char* run, size_t count) {
    const size_t left = !full_ && length_ <= limit_ ? size_t{limit_} - length_ : 0;
    size_t fits = count <= left ? count : left;
    // Cut between two characters: never before a continuation byte.
    while (fits > 0 && fits < count && (static_cast<unsigned char>(run[fits]) & 0xC0) == 0x80) {
        --fits;
    }
    // A piece of its own needs room for it, for the bytes before it and for the last ones.
    if (pieces_ != nullptr && fits >= shortestPiece && pieces_->count + 3 <= pieces_->capacity) {
        closePiece();
        pieces_->iov[pieces_->count++] = iovec{const_cast<char*>(run), fits};
        length_ += static_cast<uint32_t>(fits);
    } else {
        append(run, fits);
    }
    if (fits < count) {
        full_ = true;
        return false;
    }
    return true;
}

void Writer::closePiece() {
    if (used_ > built_) {
        pieces_->iov[pieces_->count++] = iovec{buffer_ + built_, used_ - built_};
        built_ = used_;
    }
}

void Writer::putReserved(const char* bytes, size_t count) {
    // The reserve was sized for everything that goes here; the check only guards against a
    // capacity too small to hold even that.
    if (length_ > capacity_ || count > size_t{capacity_} - length_) {
        return;
    }
    append(bytes, count);
}

void Writer::finish(bool lineEnd) {
    finish(truncationMarker, lineEnd ? "\n" : "");
}

void Writer::finish(const char* marker, const char* end) {
    if (full_) {
        putReserved(marker, textLength(marker));
    }
    putReserved(end, textLength(end));
    if (pieces_ != nullptr) {
        closePiece();
    }
}

} // namespace ombrex
