// Shell-style patterns on absolute paths, as fnmatch(3) reads them with FNM_PATHNAME (and
// neither FNM_PERIOD nor FNM_NOESCAPE): `*` matches any run of characters and `?` any one
// character, `[...]` one character of a set (`[!...]` or `[^...]` one that is not in it, `a-z` a
// range of byte values), and `\` takes the character after it as it is. None of them matches
// a `/`: each `/` of the path is matched by a `/` of the pattern, component by component.
//
// Written here rather than taken from the C library, whose fnmatch reads the locale and may
// allocate: the record path runs in signal handlers and vfork children. No recursion, no
// allocation, a few words of stack, and time linear in the path for each `*` of a component.
#ifndef OMBREX_LIBOMBREX_PATTERN_H
#define OMBREX_LIBOMBREX_PATTERN_H

#include <stddef.h>

namespace ombrex {

// Whether the pattern (length bytes, not NUL-terminated) is one the matcher reads as the
// administrator meant it, and could match a file's resolved path: absolute, every bracket
// closed, a character after every `\`, no `/` inside brackets, no character class
// (`[:alpha:]`), no range that runs backwards, and no component that no resolved path has
// (empty, `.` or `..`, or a `/` at the end).
bool isReadablePattern(const char* pattern, size_t length);

// The matcher's parts, in this header so that the record path matches in one frame of its
// own: it runs on a stack of 1 KiB at most.
namespace pattern {

// One character of a bracket expression at p[i], or a `\` and the character it takes; moves i
// past it. False at the end of the pattern.
__attribute__((always_inline)) inline bool bracketCharacter(const char* p, size_t n, size_t& i,
                                                            unsigned char& c) {
    if (i >= n || (p[i] == '\\' && i + 1 >= n)) {
        return false;
    }
    if (p[i] == '\\') {
        ++i;
    }
    c = static_cast<unsigned char>(p[i]);
    ++i;
    return true;
}

// One item of a bracket expression at p[i], a character or a range from low to high; moves i
// past it. False for what the matcher does not read: a character class, a `/` (which a
// bracket never matches in a path), or a range that runs backwards.
__attribute__((always_inline)) inline bool bracketItem(const char* p, size_t n, size_t& i,
                                                       unsigned char& low, unsigned char& high) {
    if (p[i] == '[' && i + 1 < n && (p[i + 1] == ':' || p[i + 1] == '=' || p[i + 1] == '.')) {
        return false;
    }
    if (!bracketCharacter(p, n, i, low)) {
        return false;
    }
    high = low;
    if (i + 1 < n && p[i] == '-' && p[i + 1] != ']') {
        ++i;
        if (!bracketCharacter(p, n, i, high) || high < low) {
            return false;
        }
    }
    return low != '/' && high != '/';
}

struct Bracket {
    size_t end; // the index after its closing ']'
    bool matched;
};

// The bracket expression that starts at p[i] == '[', and whether c is one of its characters.
// A `]` right after the `[` (or `[!`, `[^`) is one of them, as is a `-` first or last. False
// for an expression that is not closed or that holds an item the matcher does not read.
__attribute__((always_inline)) inline bool readBracket(const char* p, size_t n, size_t i,
                                                       unsigned char c, Bracket& bracket) {
    ++i;
    const bool negated = i < n && (p[i] == '!' || p[i] == '^');
    i += negated ? 1 : 0;
    bool matched = false;
    for (bool first = true;; first = false) {
        if (i >= n) {
            return false;
        }
        if (p[i] == ']' && !first) {
            break;
        }
        unsigned char low = 0;
        unsigned char high = 0;
        if (!bracketItem(p, n, i, low, high)) {
            return false;
        }
        matched = matched || (c >= low && c <= high);
    }
    bracket.end = i + 1;
    bracket.matched = matched != negated;
    return true;
}

// Whether the element of the pattern at p[i], which is not a `*`, matches c; next is set to
// the index after it.
__attribute__((always_inline)) inline bool matchesOne(const char* p, size_t n, size_t i,
                                                      unsigned char c, size_t& next) {
    switch (p[i]) {
    case '?':
        next = i + 1;
        return c != '/';
    case '[': {
        Bracket bracket{};
        if (!readBracket(p, n, i, c, bracket)) {
            return false;
        }
        next = bracket.end;
        return c != '/' && bracket.matched;
    }
    case '\\':
        next = i + 2;
        return i + 1 < n && static_cast<unsigned char>(p[i + 1]) == c;
    default:
        next = i + 1;
        return static_cast<unsigned char>(p[i]) == c;
    }
}

} // namespace pattern

// Whether path (NUL-terminated) matches the pattern; the pattern must be readable.
// The classic matcher with one way back: a mismatch lets the last `*` take one more character.
// Since no `*` takes a `/`, the components of path and pattern pair off in order, and within
// a component the last `*` is the only one worth widening; when it would have to take a `/`,
// nothing can match.
__attribute__((always_inline)) inline bool matchesPattern(const char* p, size_t n,
                                                          const char* path) {
    size_t pi = 0;
    size_t si = 0;
    bool starred = false;
    size_t afterStar = 0;
    size_t starTook = 0;
    while (path[si] != 0) {
        if (pi < n && p[pi] == '*') {
            starred = true;
            afterStar = ++pi;
            starTook = si;
            continue;
        }
        size_t next = 0;
        if (pi < n && pattern::matchesOne(p, n, pi, static_cast<unsigned char>(path[si]), next)) {
            pi = next;
            ++si;
            continue;
        }
        if (!starred || path[starTook] == '/') {
            return false;
        }
        pi = afterStar;
        si = ++starTook;
    }
    while (pi < n && p[pi] == '*') {
        ++pi;
    }
    return pi == n;
}

} // namespace ombrex

#endif
