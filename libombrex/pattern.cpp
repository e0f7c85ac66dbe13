#include "libombrex/pattern.h"

namespace ombrex {

namespace {

// Whether the component [begin, end) of a pattern is one that no resolved path has: empty
// (`//` or a `/` at the end), `.` or `..`.
bool isImpossibleComponent(const char* p, size_t begin, size_t end) {
    const size_t length = end - begin;
    return length == 0 ||
           (p[begin] == '.' && (length == 1 || (length == 2 && p[begin + 1] == '.')));
}

} // namespace

bool isReadablePattern(const char* p, size_t n) {
    if (n == 0 || p[0] != '/') {
        return false;
    }
    size_t component = 1;
    for (size_t i = 1; i <= n;) {
        if (i == n || p[i] == '/') {
            if (isImpossibleComponent(p, component, i)) {
                return false;
            }
            component = ++i;
        } else if (p[i] == '\\') {
            if (i + 1 >= n) {
                return false;
            }
            i += 2;
        } else if (p[i] == '[') {
            pattern::Bracket bracket{};
            if (!pattern::readBracket(p, n, i, 0, bracket)) {
                return false;
            }
            i = bracket.end;
        } else {
            ++i;
        }
    }
    return true;
}

} // namespace ombrex
