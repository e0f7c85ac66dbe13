// Properties of the content transforms of enable and disable, for any content without a
// NUL byte and any library path:
//   - enable keeps the old content as a byte-for-byte prefix and adds exactly one entry line
//     (after the one LF that ends an unterminated last line);
//   - disable edits only the first line on which the dynamic linker reads an entry equal to
//     the path: the whole line goes where nothing else is read on it, otherwise only those
//     entries go, each with one separator next to it; the loader then reads every other
//     entry of the file as before, and no entry equal to the path on that line;
//   - a path the loader cannot read as one entry is taken out as a line of its own only;
//   - disable after a successful enable gives the old content back (with that one added LF)
//     whenever the old content had no reference to the library's file name and no entry
//     for the path;
//   - every outcome is the one the reference searches call for;
//   - nothing reads or writes out of bounds (exact-size blocks, address sanitizer).
//
// Input: PATH NUL CONTENT, or just CONTENT with the built-in library path. The content ends
// at the next NUL.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/naive_text.h"
#include "preload/decisions.h"

namespace {

using fuzzing::builtInLibraryPath;
using fuzzing::check;
using fuzzing::exactCopy;
using fuzzing::libraryFileName;

// The text with a final LF added when it is not empty and lacks one.
std::string terminated(const std::string& text) {
    return text.empty() || text.back() == '\n' ? text : text + "\n";
}

// Returns the new content of a successful enable, or an empty string with written false.
std::string checkEnable(const std::string& old, const char* path, bool& written) {
    char* content = exactCopy(old.data(), old.size());
    EnablePlan plan = ombrex_cli_planEnable(content, path);
    written = false;
    std::string result;
    if (naive::findEntry(content, path) != nullptr) {
        check(plan.outcome == EnableOutcome::AlreadyEnabled && plan.newContent == nullptr);
    } else if (naive::findUncommentedLine(content, libraryFileName) != nullptr) {
        check(plan.outcome == EnableOutcome::AnotherInstance && plan.newContent == nullptr);
    } else if (std::strchr(path, '\n') != nullptr || *path == '\0') {
        // Not one entry line: the enable action refuses such a path before it plans, so
        // only the bounds are checked here.
    } else {
        check(plan.outcome == EnableOutcome::Write && plan.newContent != nullptr);
        result = plan.newContent;
        // The old content is a prefix, byte for byte; then exactly the entry line.
        std::string expected = terminated(old) + path + "\n";
        check(result == expected);
        // And that line is an entry for the path.
        size_t entryAt = terminated(old).size();
        check(naive::findEntry(plan.newContent, path) == plan.newContent + entryAt);
        written = true;
    }
    std::free(plan.newContent);
    std::free(content);
    return result;
}

bool isLoaderEntryPath(const char* path) {
    return *path != '\0' && std::strpbrk(path, " \t\n:#") == nullptr;
}

bool isLineSeparator(char byte) {
    return byte == ' ' || byte == '\t' || byte == ':';
}

// What disable must leave, given the first entry for path: the rule spelt out on the old
// content with a mask of dropped bytes.
std::string expectedDisable(const std::string& old, const char* path, size_t entry) {
    size_t lineStart = entry == 0 ? std::string::npos : old.rfind('\n', entry - 1);
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    size_t lineEnd = old.find('\n', entry);
    lineEnd = lineEnd == std::string::npos ? old.size() : lineEnd;
    std::vector<naive::LoaderEntry> onLine;
    for (const naive::LoaderEntry& e : naive::loaderEntries(old.c_str())) {
        if (e.offset >= lineStart && e.offset < lineEnd) {
            onLine.push_back(e);
        }
    }
    bool alone = true;
    for (const naive::LoaderEntry& e : onLine) {
        alone = alone && e.bytes == path;
    }
    if (!isLoaderEntryPath(path) || alone) {
        return old.substr(0, lineStart) + old.substr(std::min(lineEnd + 1, old.size()));
    }
    std::vector<bool> dropped(old.size(), false);
    for (const naive::LoaderEntry& e : onLine) {
        if (e.bytes != path) {
            continue;
        }
        size_t from = e.offset;
        size_t to = e.offset + e.bytes.size();
        if (from > lineStart && isLineSeparator(old[from - 1]) && !dropped[from - 1]) {
            --from;
        } else if (to < lineEnd && isLineSeparator(old[to])) {
            ++to;
        }
        for (size_t i = from; i < to; ++i) {
            dropped[i] = true;
        }
    }
    std::string kept;
    for (size_t i = 0; i < old.size(); ++i) {
        if (!dropped[i]) {
            kept += old[i];
        }
    }
    return kept;
}

// The entries the loader reads, as bytes, without those equal to path on the line holding
// the byte at offset.
std::vector<std::string> entriesApartFrom(const std::string& text, const char* path,
                                          size_t offset) {
    size_t lineStart = offset == 0 ? std::string::npos : text.rfind('\n', offset - 1);
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    size_t lineEnd = text.find('\n', offset);
    std::vector<std::string> entries;
    for (const naive::LoaderEntry& e : naive::loaderEntries(text.c_str())) {
        bool onLine = e.offset >= lineStart && (lineEnd == std::string::npos || e.offset < lineEnd);
        if (!(onLine && e.bytes == path)) {
            entries.push_back(e.bytes);
        }
    }
    return entries;
}

// Returns the new content of a successful disable, with written set.
std::string checkDisable(const std::string& old, const char* path, bool& written) {
    char* content = exactCopy(old.data(), old.size());
    DisablePlan plan = ombrex_cli_planDisable(content, path);
    written = false;
    std::string result;
    // A path holding an LF is no line of the file, so it never has an entry line to cut.
    const char* entry = isLoaderEntryPath(path)              ? naive::findLoaderEntry(content, path)
                        : std::strchr(path, '\n') == nullptr ? naive::findEntry(content, path)
                                                             : nullptr;
    if (naive::hasDuplicateReference(content)) {
        check(plan.outcome == DisableOutcome::Duplicate && plan.newContent == nullptr);
    } else if (entry == nullptr) {
        check(plan.outcome == DisableOutcome::AlreadyAbsent && plan.newContent == nullptr);
    } else {
        check(plan.outcome == DisableOutcome::Write && plan.newContent != nullptr);
        result = plan.newContent;
        size_t start = static_cast<size_t>(entry - content);
        check(result == expectedDisable(old, path, start));
        if (isLoaderEntryPath(path)) {
            // What the loader reads is unchanged but for the library's entries on that line.
            std::vector<std::string> after;
            for (const naive::LoaderEntry& e : naive::loaderEntries(plan.newContent)) {
                after.push_back(e.bytes);
            }
            check(after == entriesApartFrom(old, path, start));
        }
        check(plan.referenceRemains ==
              (naive::findUncommentedLine(plan.newContent, libraryFileName) != nullptr));
        written = true;
    }
    std::free(plan.newContent);
    std::free(content);
    return result;
}

void checkVerdict(const std::string& old, const char* path) {
    char* content = exactCopy(old.data(), old.size());
    PreloadVerdict verdict = ombrex_cli_judgePreloadContent(content, path);
    PreloadVerdict expected;
    if (naive::findUncommentedLine(content, libraryFileName) == nullptr) {
        expected = PreloadVerdict::NotEnabled;
    } else if (naive::hasDuplicateReference(content)) {
        expected = PreloadVerdict::Multiple;
    } else if (std::strchr(path, '\n') == nullptr && naive::findEntry(content, path) != nullptr) {
        expected = PreloadVerdict::Enabled;
    } else {
        expected = PreloadVerdict::ForeignEntry;
    }
    check(verdict == expected);
    std::free(content);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const char* split = static_cast<const char*>(std::memchr(bytes, 0, size));
    std::string pathText = split != nullptr ? std::string(bytes, split) : builtInLibraryPath;
    const char* contentStart = split != nullptr ? split + 1 : bytes;
    size_t rest = size - static_cast<size_t>(contentStart - bytes);
    const char* contentEnd = static_cast<const char*>(std::memchr(contentStart, 0, rest));
    std::string old(contentStart, contentEnd != nullptr ? contentEnd : contentStart + rest);
    char* path = exactCopy(pathText.data(), pathText.size());

    bool enabled = false;
    bool disabled = false;
    std::string afterEnable = checkEnable(old, path, enabled);
    checkDisable(old, path, disabled);
    checkVerdict(old, path);

    if (enabled) {
        std::string afterDisable = checkDisable(afterEnable, path, disabled);
        if (old.find(libraryFileName) == std::string::npos &&
            naive::findLoaderEntry(old.c_str(), path) == nullptr) {
            check(disabled && afterDisable == terminated(old));
        }
    }
    std::free(path);
    return 0;
}
