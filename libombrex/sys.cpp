#include "libombrex/sys.h"

#include "libombrex/lookup.h"

#include <errno.h>

namespace ombrex::sys {

long call(long number, long a, long b, long c, long d, long e, long f) {
    using Fn = long (*)(long, ...);
    const auto fn = reinterpret_cast<Fn>(nextSymbol(Symbol::syscall, "syscall"));
    if (fn == nullptr) {
        return -1;
    }
    // The generic entry point takes six argument registers whatever the call; unused ones are 0.
    return fn(number, a, b, c, d, e, f);
}

bool interrupted() {
    const int* const location = errnoLocation();
    return location != nullptr && *location == EINTR;
}

} // namespace ombrex::sys
