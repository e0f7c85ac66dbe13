// Differential target: the product's linear text searches, the dynamic linker's reading among
// them, must return exactly what the straightforward reference algorithms return, on every
// text and every needle.
//
// Input: NEEDLE NUL TEXT, or just TEXT (the needle is then the library's file name). The
// text ends at the next NUL. Both are copied into blocks of their exact size, so that any
// read past a terminator is caught by the address sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/naive_text.h"
#include "preload/text.h"

namespace {

using fuzzing::builtInLibraryPath;
using fuzzing::check;
using fuzzing::exactCopy;
using fuzzing::libraryFileName;

void compareSearches(const char* text, const char* needle) {
    check(ombrex_cli_findEntry(text, needle) == naive::findEntry(text, needle));
    check(ombrex_cli_findUncommentedLine(text, needle) == naive::findUncommentedLine(text, needle));
    check(ombrex_cli_findLoaderEntry(text, needle) == naive::findLoaderEntry(text, needle));
}

// Walking the product's way, entry by entry and line by line, yields exactly the entries
// that the literal reading finds, at the same places.
void compareLoaderEntries(const char* text) {
    std::vector<naive::LoaderEntry> expected = naive::loaderEntries(text);
    size_t seen = 0;
    const char* at = text;
    for (;;) {
        at = ombrex_cli_nextLoaderEntry(at);
        if (ombrex_cli_isLoaderEntryStart(at)) {
            size_t length = ombrex_cli_loaderEntryLength(at);
            check(seen < expected.size() &&
                  expected[seen].offset == static_cast<size_t>(at - text) &&
                  expected[seen].bytes == std::string(at, length));
            check(ombrex_cli_findLoaderEntry(text, expected[seen].bytes.c_str()) ==
                  naive::findLoaderEntry(text, expected[seen].bytes.c_str()));
            ++seen;
            at += length;
            continue;
        }
        const char* lineEnd = std::strchr(at, '\n');
        if (lineEnd == nullptr) {
            break;
        }
        at = lineEnd + 1;
    }
    check(seen == expected.size());
}

void compareLine(const char* text) {
    int32_t length = ombrex_cli_lineLength(text);
    check(length == naive::lineLength(text));
    char* copy = ombrex_cli_copyLine(text);
    char* reference = naive::copyLine(text);
    check(copy != nullptr && std::strcmp(copy, reference) == 0 &&
          std::strlen(copy) == static_cast<size_t>(length));
    std::free(copy);
    std::free(reference);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* split = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    char* needle;
    const uint8_t* textStart;
    if (split != nullptr) {
        needle = exactCopy(data, static_cast<size_t>(split - data));
        textStart = split + 1;
    } else {
        needle = exactCopy(reinterpret_cast<const uint8_t*>(libraryFileName),
                           sizeof libraryFileName - 1);
        textStart = data;
    }
    size_t rest = size - static_cast<size_t>(textStart - data);
    const uint8_t* textEnd = static_cast<const uint8_t*>(std::memchr(textStart, 0, rest));
    char* text =
        exactCopy(textStart, textEnd != nullptr ? static_cast<size_t>(textEnd - textStart) : rest);

    compareSearches(text, needle);
    compareSearches(text, libraryFileName);
    compareSearches(text, builtInLibraryPath);
    check(ombrex_cli_hasDuplicateReference(text) == naive::hasDuplicateReference(text));
    compareLoaderEntries(text);

    // Every line start, and every LF (where the duplicate rule starts its second search).
    compareLine(text);
    for (const char* lf = std::strchr(text, '\n'); lf != nullptr; lf = std::strchr(lf + 1, '\n')) {
        compareLine(lf);
        compareLine(lf + 1);
        check(ombrex_cli_findUncommentedLine(lf, libraryFileName) ==
              naive::findUncommentedLine(lf, libraryFileName));
    }

    std::free(text);
    std::free(needle);
    return 0;
}
