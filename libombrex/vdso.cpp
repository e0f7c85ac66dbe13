#include "libombrex/vdso.h"

#include <elf.h>
#include <link.h>
#include <stdint.h>

#include "libombrex/bytes.h"
#include "libombrex/sys.h"

namespace ombrex {

namespace {

using ClockFn = int (*)(clockid_t, struct timespec*);

#if defined(__x86_64__)
constexpr char clockName[] = "__vdso_clock_gettime";
#else
constexpr char clockName[] = "__kernel_clock_gettime";
#endif

// Set once by the constructor, before any other code of the process runs.
const ElfW(Ehdr) * vdso;

// The constructor: the dynamic linker passes the program's arguments and its first
// environment, which the auxiliary vector follows on the initial stack. When the environment
// has been replaced (a library opened later by dlopen sees the current one), that is not
// known to hold, and the vDSO is left unknown.
__attribute__((constructor)) void findVdso(int argc, char** argv, char** envp) {
    if (argv == nullptr || envp == nullptr || envp != argv + argc + 1) {
        return;
    }
    char** p = envp;
    while (*p != nullptr) {
        ++p;
    }
    for (const auto* entry = reinterpret_cast<const ElfW(auxv_t)*>(p + 1); entry->a_type != AT_NULL;
         ++entry) {
        if (entry->a_type == AT_SYSINFO_EHDR) {
            vdso = reinterpret_cast<const ElfW(Ehdr)*>(entry->a_un.a_val);
            return;
        }
    }
}

// The address of a defined function of the vDSO by its name, or 0.
uintptr_t lookUp(const ElfW(Ehdr) * header, const char* name) {
    const auto base = reinterpret_cast<uintptr_t>(header);
    const auto* segments = reinterpret_cast<const ElfW(Phdr)*>(base + header->e_phoff);
    uintptr_t bias = 0;
    const ElfW(Dyn)* dynamic = nullptr;
    bool loaded = false;
    for (unsigned i = 0; i < header->e_phnum; ++i) {
        if (segments[i].p_type == PT_LOAD && !loaded) {
            bias = base + segments[i].p_offset - segments[i].p_vaddr;
            loaded = true;
        } else if (segments[i].p_type == PT_DYNAMIC) {
            dynamic = reinterpret_cast<const ElfW(Dyn)*>(base + segments[i].p_offset);
        }
    }
    const ElfW(Sym)* symbols = nullptr;
    const char* strings = nullptr;
    const Elf32_Word* hash = nullptr;
    for (const ElfW(Dyn)* d = dynamic; d != nullptr && d->d_tag != DT_NULL; ++d) {
        if (d->d_tag == DT_SYMTAB) {
            symbols = reinterpret_cast<const ElfW(Sym)*>(bias + d->d_un.d_ptr);
        } else if (d->d_tag == DT_STRTAB) {
            strings = reinterpret_cast<const char*>(bias + d->d_un.d_ptr);
        } else if (d->d_tag == DT_HASH) {
            hash = reinterpret_cast<const Elf32_Word*>(bias + d->d_un.d_ptr);
        }
    }
    if (!loaded || symbols == nullptr || strings == nullptr || hash == nullptr) {
        return 0;
    }
    const Elf32_Word count = hash[1]; // the number of symbols
    for (Elf32_Word i = 0; i < count; ++i) {
        const ElfW(Sym)& s = symbols[i];
        if (ELF64_ST_TYPE(s.st_info) == STT_FUNC && s.st_shndx != SHN_UNDEF &&
            sameText(strings + s.st_name, name)) {
            return bias + s.st_value;
        }
    }
    return 0;
}

// Looked up at each use rather than kept: a record is often the first and only one of a
// forked child, whose first write to the library's data is a page fault (a copy of the page),
// dearer than reading the vDSO's few symbols again.
ClockFn vdsoClock() {
    const uintptr_t found = vdso != nullptr ? lookUp(vdso, clockName) : 0;
    return found != 0 ? reinterpret_cast<ClockFn>(found) : nullptr;
}

int readClock(clockid_t which, struct timespec* now) {
    if (const ClockFn fn = vdsoClock()) {
        return fn(which, now);
    }
    return static_cast<int>(sys::invoke(SYS_clock_gettime, which, now));
}

} // namespace

int realtimeClock(struct timespec* now) {
    return readClock(CLOCK_REALTIME, now);
}

int monotonicClock(struct timespec* now) {
    return readClock(CLOCK_MONOTONIC, now);
}

} // namespace ombrex
