#include "libombrex/lookup.h"

#include <dlfcn.h>

#include "libombrex/libc_versions.h"

namespace ombrex {

namespace {

void* resolved[static_cast<int>(Symbol::Count)];

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

} // namespace ombrex
