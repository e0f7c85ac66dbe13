// Functions of other objects, looked up by name on first use instead of being imported.
//
// With immediate binding every imported symbol costs a lookup at the start of every process
// that loads the library, and most processes never execute anything. So the entry points that
// POSIX does not require to be async-signal-safe (execvp, execvpe, execlp, execveat,
// posix_spawn, posix_spawnp) find the C library's definition with dlsym the first time they
// run. A resolved address never changes, so the cache needs no lock: a race, or a vfork child
// filling in its parent's copy, stores the same value twice at worst.
//
// The async-signal-safe entry points never come here: they make their system call themselves.
#ifndef OMBREX_LIBOMBREX_LOOKUP_H
#define OMBREX_LIBOMBREX_LOOKUP_H

namespace ombrex {

enum class Symbol {
    Execvp,
    Execvpe,
    Execveat,
    PosixSpawn,
    PosixSpawnp,
    Count,
};

// The next definition of name after this library (normally the C library's), or null when
// there is none or when it is self, this library's own definition.
void* nextSymbol(Symbol slot, const char* name, const void* self);

} // namespace ombrex

#endif
