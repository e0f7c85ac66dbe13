// The straightforward reference algorithms for the preload text searches, written as
// literally as possible and with no care for speed: a plain substring search, and for each
// occurrence a walk back to its line's start. The fuzzers compare the product's linear
// searches against these on every input.
#ifndef OMBREX_FUZZ_NAIVE_TEXT_H
#define OMBREX_FUZZ_NAIVE_TEXT_H

#include <cstdint>

namespace naive {

int32_t lineLength(const char* text);
// Heap copy of the first line without its LF; the caller frees it.
char* copyLine(const char* text);
const char* findEntry(const char* text, const char* path);
const char* findUncommentedLine(const char* text, const char* needle);
bool hasDuplicateReference(const char* text);

} // namespace naive

#endif
