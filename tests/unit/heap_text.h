// Heap texts that the product hands out, compared as strings.
#ifndef OMBREX_TESTS_UNIT_HEAP_TEXT_H
#define OMBREX_TESTS_UNIT_HEAP_TEXT_H

#include <cstdlib>
#include <string>

namespace ombrex::test {

// The text as a string, or "<null>" when there is none; releases the text.
inline std::string takeText(char* text) {
    std::string copy = text != nullptr ? text : "<null>";
    std::free(text);
    return copy;
}

} // namespace ombrex::test

#endif
