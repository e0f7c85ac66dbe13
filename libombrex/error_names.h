// The symbolic names of the kernel's error numbers, for the result of a refused call. The C
// library has them too (strerrorname_np), but importing it would cost every process a symbol
// lookup at start.
#ifndef OMBREX_LIBOMBREX_ERROR_NAMES_H
#define OMBREX_LIBOMBREX_ERROR_NAMES_H

namespace ombrex {

// "EACCES" for EACCES; "" for a number without a name.
const char* errorName(int error);

} // namespace ombrex

#endif
