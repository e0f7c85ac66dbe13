// The few string operations the library needs, written out so that none of the C library's
// CPU-dispatched string functions has to be resolved when the library is loaded.
#ifndef OMBREX_LIBOMBREX_BYTES_H
#define OMBREX_LIBOMBREX_BYTES_H

#include <stddef.h>

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

// First c in [begin, end), or null.
inline char* findByte(char* begin, char* end, char c) {
    for (char* p = begin; p < end; ++p) {
        if (*p == c) {
            return p;
        }
    }
    return nullptr;
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

} // namespace ombrex

#endif
