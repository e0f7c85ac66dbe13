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

} // namespace

EnablePlan ombrex_cli_planEnable(const char* content, const char* libraryPath) {
    if (ombrex_cli_findEntry(content, libraryPath) != nullptr) {
        return {EnableOutcome::AlreadyEnabled, nullptr};
    }
    // Enable applies no duplicate rule: any other uncommented mention is another instance.
    if (ombrex_cli_findUncommentedLine(content, OMBREX_LIBRARY_FILE_NAME) != nullptr) {
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
    // Disable never chooses between competing references; this runs before the entry search.
    if (ombrex_cli_hasDuplicateReference(content)) {
        return {DisableOutcome::Duplicate, nullptr, false};
    }
    const char* entry = findEntryLine(content, libraryPath);
    if (entry == nullptr) {
        return {DisableOutcome::AlreadyAbsent, nullptr, false};
    }
    char* entryLine = ombrex_cli_copyLine(entry);
    char* next = static_cast<char*>(std::malloc(std::strlen(content) + 1));
    if (entryLine == nullptr || next == nullptr) {
        std::free(entryLine);
        std::free(next);
        return {DisableOutcome::NoMemory, nullptr, false};
    }
    // The entry's whole line goes, blanks, comment and any second path included, and so
    // does its LF when it has one.
    size_t before = static_cast<size_t>(entry - content);
    const char* after = entry + std::strlen(entryLine);
    std::free(entryLine);
    if (*after == '\n') {
        ++after;
    }
    std::memcpy(next, content, before);
    std::strcpy(next + before, after);
    bool remains = ombrex_cli_findUncommentedLine(next, OMBREX_LIBRARY_FILE_NAME) != nullptr;
    return {DisableOutcome::Write, next, remains};
}

PreloadVerdict ombrex_cli_judgePreloadContent(const char* content, const char* libraryPath) {
    const char* first = ombrex_cli_findUncommentedLine(content, OMBREX_LIBRARY_FILE_NAME);
    if (first == nullptr) {
        return PreloadVerdict::NotEnabled;
    }
    // Go on from the line already found rather than search the content again.
    if (ombrex_cli_hasReferenceAfter(first)) {
        return PreloadVerdict::Multiple;
    }
    // The entry is looked for in the whole content, not only on the line found above.
    return findEntryLine(content, libraryPath) != nullptr ? PreloadVerdict::Enabled
                                                          : PreloadVerdict::ForeignEntry;
}
