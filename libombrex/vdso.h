// The kernel's clock, read from the vDSO as the C library reads it: no system call, no lock.
//
// Importing the C library's clock_gettime would cost a symbol lookup at the start of every
// process; the vDSO's own function is found instead from the auxiliary vector, which the
// dynamic linker shows the library's constructor, and looked up in the vDSO's symbol table
// each time a record needs the time.
#ifndef OMBREX_LIBOMBREX_VDSO_H
#define OMBREX_LIBOMBREX_VDSO_H

#include <time.h>

namespace ombrex {

// CLOCK_REALTIME from the vDSO, or from the system call where there is no vDSO clock.
// Async-signal-safe; returns 0 or a negative error number; errno is not touched.
int realtimeClock(struct timespec* now);

// CLOCK_MONOTONIC, the same way: for the bound of a wait.
int monotonicClock(struct timespec* now);

} // namespace ombrex

#endif
