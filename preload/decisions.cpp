#include "preload/decisions.h"

#include <cstdlib>
#include <cstring>

#include "preload/locations.h"
#include "preload/text.h"

namespace {

// A path that holds an LF is not one line of the file, so no line can be its entry: cutting
// "its" line would remove some other library's line and leave the rest of the path behind.
const char* findEntryLine(const char* content, const char* libraryPath) {
    return std::strchr(libraryPath, '\n') != nullptr ? nullptr
                                                     : ombrex_cli_findEntry(content, libraryPath);
}

// Where disable finds the library: wherever the loader reads it as an entry. A path that the
// loader cannot read as one entry (a blank, a TAB, ':' or '#' in it) can stand in the file only
// as a line of its own, written by hand since enable refuses such a path; that line is still
// found, so that it can be taken out.
const char* findDisableEntry(const char* content, const char* libraryPath) {
    return ombrex_cli_isLoaderEntryPath(libraryPath)
               ? ombrex_cli_findLoaderEntry(content, libraryPath)
               : findEntryLine(content, libraryPath);
}

bool isLineSeparator(char byte) {
    return byte == ' ' || byte == '\t' || byte == ':';
}

bool isEntry(const char* at, size_t length, const char* path, size_t pathLength) {
    return length == pathLength && std::memcmp(at, path, length) == 0;
}

const char* lineStartOf(const char* content, const char* at) {
    const void* lf = memrchr(content, '\n', static_cast<size_t>(at - content));
    return lf != nullptr ? static_cast<const char*>(lf) + 1 : content;
}

// True when the loader reads nothing on the line but entries for path.
bool holdsOnlyEntriesFor(const char* lineStart, const char* path, size_t pathLength) {
    for (const char* at = ombrex_cli_nextLoaderEntry(lineStart);
         ombrex_cli_isLoaderEntryStart(at);) {
        size_t length = ombrex_cli_loaderEntryLength(at);
        if (!isEntry(at, length, path, pathLength)) {
            return false;
        }
        at = ombrex_cli_nextLoaderEntry(at + length);
    }
    return true;
}

char* copyBytes(char* out, const char* from, const char* to) {
    size_t length = static_cast<size_t>(to - from);
    std::memcpy(out, from, length);
    return out + length;
}

// Writes content to out with the entries for path taken out of the line at lineStart, each
// with one separator next to it (the one before it while that is still there, else the one
// after it), so that the line's other entries and its comment stay, byte for byte.
void cutEntriesFromLine(char* out, const char* content, const char* lineStart, const char* path) {
    size_t pathLength = std::strlen(path);
    out = copyBytes(out, content, lineStart);
    const char* kept = lineStart; // bytes before kept are written or dropped
    for (const char* at = ombrex_cli_nextLoaderEntry(lineStart);
         ombrex_cli_isLoaderEntryStart(at);) {
        size_t length = ombrex_cli_loaderEntryLength(at);
        const char* end = at + length;
        if (isEntry(at, length, path, pathLength)) {
            const char* cutFrom = at;
            const char* cutTo = end;
            if (at > kept && isLineSeparator(at[-1])) {
                --cutFrom;
            } else if (isLineSeparator(*end)) {
                ++cutTo;
            }
            out = copyBytes(out, kept, cutFrom);
            kept = cutTo;
        }
        at = ombrex_cli_nextLoaderEntry(end);
    }
    std::strcpy(out, kept);
}

// Writes content to out without the line at lineStart, and without its LF when it has one.
void cutLine(char* out, const char* content, const char* lineStart) {
    const char* after = lineStart + ombrex_cli_lineLength(lineStart);
    if (*after == '\n') {
        ++after;
    }
    std::strcpy(copyBytes(out, content, lineStart), after);
}

} // namespace

EnablePlan ombrex_cli_planEnable(const char* content, const char* libraryPath) {
    if (ombrex_cli_findEntry(content, libraryPath) != nullptr) {
        return {EnableOutcome::AlreadyEnabled, nullptr};
    }
    // Enable applies no duplicate rule: any other uncommented mention is another instance.
    if (ombrex_cli_findUncommentedLine(content, libraryFileName) != nullptr) {
        return {EnableOutcome::AnotherInstance, nullptr};
    }
    size_t contentLength = std::strlen(content);
    size_t pathLength = std::strlen(libraryPath);
    // Old content, an LF it may lack, the path, its LF and the NUL.
    char* next = static_cast<char*>(std::malloc(contentLength + pathLength + 3));
    if (next == nullptr) {
        return {EnableOutcome::NoMemory, nullptr};
    }
    size_t at = contentLength;
    std::memcpy(next, content, contentLength);
    if (contentLength != 0 && content[contentLength - 1] != '\n') {
        next[at++] = '\n';
    }
    std::memcpy(next + at, libraryPath, pathLength);
    at += pathLength;
    next[at++] = '\n';
    next[at] = '\0';
    return {EnableOutcome::Write, next};
}

DisablePlan ombrex_cli_planDisable(const char* content, const char* libraryPath) {
    // Disable never chooses between competing references, not even when one is the entry.
    if (ombrex_cli_hasDuplicateReference(content)) {
        return {DisableOutcome::Duplicate, nullptr, false};
    }
    const char* entry = findDisableEntry(content, libraryPath);
    if (entry == nullptr) {
        return {DisableOutcome::AlreadyAbsent, nullptr, false};
    }
    char* next = static_cast<char*>(std::malloc(std::strlen(content) + 1));
    if (next == nullptr) {
        return {DisableOutcome::NoMemory, nullptr, false};
    }
    // Only the first line that holds the entry is edited. Where the entry stands alone, the
    // whole line goes, blanks and comment included, and so does its LF when it has one.
    const char* lineStart = lineStartOf(content, entry);
    if (!ombrex_cli_isLoaderEntryPath(libraryPath) ||
        holdsOnlyEntriesFor(lineStart, libraryPath, std::strlen(libraryPath))) {
        cutLine(next, content, lineStart);
    } else {
        cutEntriesFromLine(next, content, lineStart, libraryPath);
    }
    bool remains = ombrex_cli_findUncommentedLine(next, libraryFileName) != nullptr;
    return {DisableOutcome::Write, next, remains};
}

PreloadVerdict ombrex_cli_judgePreloadContent(const char* content, const char* libraryPath) {
    const char* first = ombrex_cli_findUncommentedLine(content, libraryFileName);
    if (first == nullptr) {
        return PreloadVerdict::NotEnabled;
    }
    if (ombrex_cli_hasReferenceAfter(first)) {
        return PreloadVerdict::Multiple;
    }
    // In the whole content: a library path without the file name in it has its entry on
    // another line than the reference found above.
    return findEntryLine(content, libraryPath) != nullptr ? PreloadVerdict::Enabled
                                                          : PreloadVerdict::ForeignEntry;
}
