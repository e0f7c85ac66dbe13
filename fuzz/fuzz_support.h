// What the fuzz targets share: the names they search for, exact-size copies that let the
// address sanitizer catch any read past a terminator, and a check that stops on a finding.
#ifndef OMBREX_FUZZ_FUZZ_SUPPORT_H
#define OMBREX_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace fuzzing {

inline constexpr const char libraryFileName[] = "libombrex.so";
inline constexpr const char builtInLibraryPath[] = "/usr/local/lib/libombrex.so";

// A NUL-terminated heap copy in a block of exactly length + 1 bytes; the caller frees it.
inline char* exactCopy(const void* bytes, size_t length) {
    char* copy = static_cast<char*>(std::malloc(length + 1));
    std::memcpy(copy, bytes, length);
    copy[length] = '\0';
    return copy;
}

inline void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

} // namespace fuzzing

#endif
