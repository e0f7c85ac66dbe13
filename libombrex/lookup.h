// Functions of other objects, looked up by name on first use instead of being imported.
//
// With immediate binding every imported symbol costs a lookup at the start of every process
// that loads the library, and most processes never execute anything. So the library imports
// dlsym alone and resolves everything else the first time it is needed. A resolved address
// never changes, so the cache needs no lock: a race, or a vfork child filling in its parent's
// copy, stores the same value twice at worst.
#ifndef OMBREX_LIBOMBREX_LOOKUP_H
#define OMBREX_LIBOMBREX_LOOKUP_H

namespace ombrex {

enum class Symbol {
    execve,
    execv,
    execvp,
    execvpe,
    fexecve,
    execveat,
    posixSpawn,
    posixSpawnp,
    syscall,
    errnoLocation,
    secureGetenv,
    count,
};

// The next definition of name after this library (normally the C library's), or null when
// there is none or when it is self, this library's own definition.
void* nextSymbol(Symbol slot, const char* name, const void* self = nullptr);

// The calling thread's errno, or null if it cannot be found.
int* errnoLocation();

// Sets errno if it can be found.
void setErrno(int value);

// The C library's secure_getenv; null for an unset variable, and always null in a process
// running with elevated privileges.
const char* secureGetenv(const char* name);

} // namespace ombrex

#endif
