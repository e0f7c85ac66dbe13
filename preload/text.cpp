#include "preload/text.h"

#include <cstdlib>
#include <cstring>

#include "preload/locations.h"

namespace {

// The occurrences of a needle in a text. memmem works on the known lengths, so every search
// continues where the last one stopped and no byte is scanned twice.
struct Occurrences {
    Occurrences(const char* text, const char* searched)
        : end(text + std::strlen(text)), needle(searched), length(std::strlen(searched)) {}

    // The first occurrence at or after at, or null. An empty needle has none: it would be
    // found everywhere and the search would never advance.
    const char* from(const char* at) const {
        if (length == 0) {
            return nullptr;
        }
        return static_cast<const char*>(memmem(at, static_cast<size_t>(end - at), needle, length));
    }

    const char* end;
    const char* needle;
    size_t length;
};

} // namespace

int32_t ombrex_cli_lineLength(const char* text) {
    const char* lineEnd = std::strchr(text, '\n');
    size_t length = lineEnd != nullptr ? static_cast<size_t>(lineEnd - text) : std::strlen(text);
    return static_cast<int32_t>(length);
}

char* ombrex_cli_copyLine(const char* text) {
    size_t length = static_cast<size_t>(ombrex_cli_lineLength(text));
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr) {
        return nullptr;
    }
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

const char* ombrex_cli_findEntry(const char* text, const char* path) {
    const Occurrences occurrences(text, path);
    for (const char* at = occurrences.from(text); at != nullptr;
         at = occurrences.from(at + occurrences.length)) {
        if (at == text || at[-1] == '\n') {
            char after = at[occurrences.length];
            if (after == '\0' || after == '\t' || after == '\n' || after == ' ' || after == '#') {
                return at;
            }
        }
    }
    return nullptr;
}

const char* ombrex_cli_findUncommentedLine(const char* text, const char* needle) {
    const Occurrences occurrences(text, needle);
    // Each occurrence belongs to the line after the last LF at or before it. That LF is
    // tracked as the search moves forward instead of walking back from every occurrence,
    // which would be quadratic on a long comment line full of the needle.
    const char* lineStart = text;
    const char* scannedUpTo = text;
    // Without an LF in the needle no occurrence spans lines, so once a line is known to be a
    // comment the search may go on at its end: every later occurrence on it is a comment too.
    bool skipCommentLines = std::memchr(needle, '\n', occurrences.length) == nullptr;
    const char* at = occurrences.from(text);
    while (at != nullptr) {
        // The occurrence's own first byte counts as well.
        const void* lastLf = memrchr(scannedUpTo, '\n', static_cast<size_t>(at + 1 - scannedUpTo));
        if (lastLf != nullptr) {
            lineStart = static_cast<const char*>(lastLf) + 1;
        }
        scannedUpTo = at + 1;
        if (*lineStart != '#') {
            return lineStart;
        }
        const char* from = at + occurrences.length;
        if (skipCommentLines) {
            const void* lineEnd =
                std::memchr(from, '\n', static_cast<size_t>(occurrences.end - from));
            if (lineEnd == nullptr) {
                return nullptr;
            }
            from = static_cast<const char*>(lineEnd);
            scannedUpTo = from;
        }
        at = occurrences.from(from);
    }
    return nullptr;
}

bool ombrex_cli_hasDuplicateReference(const char* text) {
    const char* first = ombrex_cli_findUncommentedLine(text, libraryFileName);
    return first != nullptr && ombrex_cli_hasReferenceAfter(first);
}

bool ombrex_cli_hasReferenceAfter(const char* firstLine) {
    // The search goes on at the LF that ends the first line, or at the end of the text.
    const char* rest = firstLine + ombrex_cli_lineLength(firstLine);
    return ombrex_cli_findUncommentedLine(rest, libraryFileName) != nullptr;
}

namespace {

// The separators between two entries on one line; LF also separates, but ends the line.
constexpr const char lineSeparators[] = " \t:";
// What ends an entry: a separator, a comment, or the end of the text.
constexpr const char entryEnds[] = " \t\n:#";

} // namespace

const char* ombrex_cli_nextLoaderEntry(const char* at) {
    return at + std::strspn(at, lineSeparators);
}

bool ombrex_cli_isLoaderEntryStart(const char* at) {
    return *at != '\0' && *at != '\n' && *at != '#';
}

size_t ombrex_cli_loaderEntryLength(const char* entry) {
    return std::strcspn(entry, entryEnds);
}

bool ombrex_cli_isLoaderEntryPath(const char* path) {
    return *path != '\0' && path[std::strcspn(path, entryEnds)] == '\0';
}

const char* ombrex_cli_findLoaderEntry(const char* text, const char* path) {
    if (!ombrex_cli_isLoaderEntryPath(path)) {
        return nullptr;
    }
    size_t pathLength = std::strlen(path);
    const char* at = text;
    for (;;) {
        at = ombrex_cli_nextLoaderEntry(at);
        if (ombrex_cli_isLoaderEntryStart(at)) {
            size_t length = ombrex_cli_loaderEntryLength(at);
            if (length == pathLength && std::memcmp(at, path, length) == 0) {
                return at;
            }
            at += length;
            continue;
        }
        // The line's entries are over; a comment runs on to its LF.
        const char* lineEnd = *at == '\n' ? at : std::strchr(at, '\n');
        if (lineEnd == nullptr) {
            return nullptr;
        }
        at = lineEnd + 1;
    }
}
