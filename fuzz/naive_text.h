// The straightforward reference algorithms for the preload text searches, written as
// literally as possible and with no care for speed: a plain substring search, and for each
// occurrence a walk back to its line's start. The fuzzers compare the product's linear
// searches against these on every input.
#ifndef OMBREX_FUZZ_NAIVE_TEXT_H
#define OMBREX_FUZZ_NAIVE_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace naive {

// One entry of the dynamic linker's reading: its offset in the text, and its bytes.
struct LoaderEntry {
    size_t offset;
    std::string bytes;
};

int32_t lineLength(const char* text);
// Heap copy of the first line without its LF; the caller frees it.
char* copyLine(const char* text);
const char* findEntry(const char* text, const char* path);
const char* findUncommentedLine(const char* text, const char* needle);
bool hasDuplicateReference(const char* text);

// The dynamic linker's reading, done the way it does it: comments overwritten with blanks
// first, then the whole text cut at every separator, empty pieces dropped.
std::vector<LoaderEntry> loaderEntries(const char* text);
const char* findLoaderEntry(const char* text, const char* path);

} // namespace naive

#endif
