// The versions of the C library's symbols that the library binds to.
//
// Every version that the library needs is checked at the start of every process that loads
// it. On x86_64 the functions it imports all exist under the C library's first version,
// GLIBC_2.2.5 (dlsym as the same code under its later name), so asking for that one version
// alone saves a check at every start.
#ifndef OMBREX_LIBOMBREX_LIBC_VERSIONS_H
#define OMBREX_LIBOMBREX_LIBC_VERSIONS_H

#if defined(__x86_64__)
__asm__(".symver dlsym, dlsym@GLIBC_2.2.5");
#endif

#endif
