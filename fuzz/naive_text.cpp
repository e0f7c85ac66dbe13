#include "fuzz/naive_text.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace naive {

int32_t lineLength(const char* text) {
    int32_t length = 0;
    while (text[length] != '\0' && text[length] != '\n') {
        ++length;
    }
    return length;
}

char* copyLine(const char* text) {
    int32_t length = lineLength(text);
    char* copy = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (copy == nullptr) {
        std::abort();
    }
    for (int32_t i = 0; i < length; ++i) {
        copy[i] = text[i];
    }
    copy[length] = '\0';
    return copy;
}

const char* findEntry(const char* text, const char* path) {
    // An empty path would be found everywhere and never advance: it names no entry.
    if (*path == '\0') {
        return nullptr;
    }
    size_t pathLength = std::strlen(path);
    const char* at = std::strstr(text, path);
    while (at != nullptr) {
        if (at == text || at[-1] == '\n') {
            char after = at[pathLength];
            if (after == '\0' || after == '\t' || after == '\n' || after == ' ' || after == '#') {
                return at;
            }
        }
        at = std::strstr(at + pathLength, path);
    }
    return nullptr;
}

const char* findUncommentedLine(const char* text, const char* needle) {
    if (*needle == '\0') {
        return nullptr;
    }
    size_t needleLength = std::strlen(needle);
    const char* at = std::strstr(text, needle);
    while (at != nullptr) {
        // Back from the occurrence itself to the nearest LF, or to the start of the text;
        // the start is examined too.
        const char* stop = at;
        while (stop != text && *stop != '\n') {
            --stop;
        }
        const char* lineStart = *stop == '\n' ? stop + 1 : stop;
        if (*lineStart != '#') {
            return lineStart;
        }
        at = std::strstr(at + needleLength, needle);
    }
    return nullptr;
}

bool hasDuplicateReference(const char* text) {
    const char* first = findUncommentedLine(text, fuzzing::libraryFileName);
    if (first == nullptr) {
        return false;
    }
    return findUncommentedLine(first + lineLength(first), fuzzing::libraryFileName) != nullptr;
}

std::vector<LoaderEntry> loaderEntries(const char* text) {
    std::string blanked = text;
    bool inComment = false;
    for (char& byte : blanked) {
        if (byte == '\n') {
            inComment = false;
        } else if (byte == '#') {
            inComment = true;
        }
        if (inComment) {
            byte = ' ';
        }
    }
    std::vector<LoaderEntry> entries;
    size_t start = 0;
    for (size_t i = 0; i <= blanked.size(); ++i) {
        bool separator = i == blanked.size() || blanked[i] == ' ' || blanked[i] == '\t' ||
                         blanked[i] == '\n' || blanked[i] == ':';
        if (separator) {
            if (i > start) {
                entries.push_back({start, blanked.substr(start, i - start)});
            }
            start = i + 1;
        }
    }
    return entries;
}

const char* findLoaderEntry(const char* text, const char* path) {
    for (const LoaderEntry& entry : loaderEntries(text)) {
        if (entry.bytes == path) {
            return text + entry.offset;
        }
    }
    return nullptr;
}

} // namespace naive
