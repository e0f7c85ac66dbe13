#include "libombrex/lookup.h"

#include <dlfcn.h>

namespace ombrex {

namespace {

void* resolved[static_cast<int>(Symbol::count)];

} // namespace

void* nextSymbol(Symbol slot, const char* name, const void* self) {
    void** const entry = &resolved[static_cast<int>(slot)];
    void* found = __atomic_load_n(entry, __ATOMIC_ACQUIRE);
    if (found == nullptr) {
        found = dlsym(RTLD_NEXT, name);
        if (found == self) {
            found = nullptr;
        }
        if (found != nullptr) {
            __atomic_store_n(entry, found, __ATOMIC_RELEASE);
        }
    }
    return found;
}

int* errnoLocation() {
    using Fn = int* (*)();
    const auto fn = reinterpret_cast<Fn>(nextSymbol(Symbol::errnoLocation, "__errno_location"));
    return fn != nullptr ? fn() : nullptr;
}

void setErrno(int value) {
    if (int* const location = errnoLocation()) {
        *location = value;
    }
}

const char* secureGetenv(const char* name) {
    using Fn = const char* (*)(const char*);
    const auto fn = reinterpret_cast<Fn>(nextSymbol(Symbol::secureGetenv, "secure_getenv"));
    // Without it there is no safe way to read the variable, so it counts as unset.
    return fn != nullptr ? fn(name) : nullptr;
}

} // namespace ombrex
