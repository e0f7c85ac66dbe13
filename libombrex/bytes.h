// The few string operations the library needs, written out so that none of the C library's
// CPU-dispatched string functions has to be resolved when the library is loaded.
#ifndef OMBREX_LIBOMBREX_BYTES_H
#define OMBREX_LIBOMBREX_BYTES_H

#include <stddef.h>
#include <stdint.h>

namespace ombrex {

inline size_t textLength(const char* text) {
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

inline void copyBytes(char* to, const char* from, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        to[i] = from[i];
    }
}

inline bool sameText(const char* a, const char* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// First c in [begin, end), or null. A word at a time: the configuration is scanned for every
// line end on each record, and a commented file is mostly bytes to pass over. In a word, the
// lowest byte equal to c is the lowest zero byte of word ^ c, which the carry test below marks
// exactly (a borrow can only mark bytes above a zero one). The last word of a range that is not
// a whole number of words overlaps bytes already found free of c; nothing outside the range is
// read. Out of line: inlined, its registers would grow the frames of its callers.
__attribute__((noinline)) inline char* findByte(char* begin, char* end, char c) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the lowest byte comes first");
    constexpr ptrdiff_t wordSize = sizeof(uint64_t);
    constexpr uint64_t ones = 0x0101010101010101u;
    constexpr uint64_t highs = 0x8080808080808080u;
    if (end - begin < wordSize) {
        for (char* p = begin; p < end; ++p) {
            if (*p == c) {
                return p;
            }
        }
        return nullptr;
    }
    const uint64_t pattern = ones * static_cast<unsigned char>(c);
    for (char* p = begin;; p += wordSize) {
        p = end - p < wordSize ? end - wordSize : p;
        uint64_t word;
        __builtin_memcpy(&word, p, sizeof word);
        const uint64_t x = word ^ pattern;
        const uint64_t found = (x - ones) & ~x & highs;
        if (found != 0) {
            return p + __builtin_ctzll(found) / 8;
        }
        if (p == end - wordSize) {
            return nullptr;
        }
    }
}

// Last c in [begin, end), or null.
inline char* findLastByte(char* begin, char* end, char c) {
    for (char* p = end; p > begin; --p) {
        if (p[-1] == c) {
            return p - 1;
        }
    }
    return nullptr;
}

// How many decimal digits value has, zero-padded to minDigits. Comparisons, not divisions:
// every number of a record is measured before it is written.
inline size_t decimalLength(uint64_t value, unsigned minDigits = 1) {
    size_t count = 1;
    for (uint64_t bound = 10; count < 20 && value >= bound; bound *= 10) {
        ++count;
    }
    return count < minDigits ? minDigits : count;
}

// The last count decimal digits of value at out, the lowest at out[count - 1].
inline void putDigits(char* out, size_t count, uint64_t value) {
    for (size_t i = count; i > 0; --i) {
        out[i - 1] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// The decimal digits of value at out, zero-padded to minDigits; returns their number.
inline size_t decimalText(char* out, uint64_t value, unsigned minDigits = 1) {
    const size_t count = decimalLength(value, minDigits);
    putDigits(out, count, value);
    return count;
}

// The magnitude of a signed value as unsigned, so that the most negative one is no overflow.
inline uint64_t magnitude(int64_t value) {
    return value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
}

// The length of a signed value in decimal, with a '-' before a negative one.
inline size_t signedDecimalLength(int64_t value) {
    return (value < 0 ? 1 : 0) + decimalLength(magnitude(value));
}

// The name under which the kernel shows an open descriptor: "/proc/self/fd/N".
inline constexpr char descriptorDirectory[] = "/proc/self/fd/";
using DescriptorPath = char[sizeof descriptorDirectory + 10];
inline const char* descriptorPath(DescriptorPath& out, int fd) {
    copyBytes(out, descriptorDirectory, sizeof descriptorDirectory - 1);
    const size_t digits =
        decimalText(out + sizeof descriptorDirectory - 1, static_cast<uint32_t>(fd));
    out[sizeof descriptorDirectory - 1 + digits] = 0;
    return out;
}

} // namespace ombrex

#endif
