// What an exec-family call is expected to come to, judged before it from what the kernel will
// check first: whether the file is there, whether it is a regular file, and whether the
// process may execute it (a file system mounted noexec refuses that too). For the calls that
// search PATH, the search itself, candidate by candidate, by the C library's rules.
//
// A call that succeeds never returns, so its record must be written before; one expected to
// fail is made first and recorded after, with the kernel's own answer. What cannot be told
// beforehand at this cost (a file the kernel cannot load, ENOEXEC; arguments too long, E2BIG;
// a file open for writing, ETXTBSY; a missing interpreter) counts as expected to run: a record
// of a refused call reads as an execution then, which is better than a real execution without
// a record.
#ifndef OMBREX_LIBOMBREX_PREDICT_H
#define OMBREX_LIBOMBREX_PREDICT_H

#include <limits.h>
#include <sys/stat.h>

#include "libombrex/record.h"

namespace ombrex {

enum class Prediction {
    Absent,  // nothing there to run (ENOENT, ENOTDIR, EBADF, EFAULT)
    Refused, // there, and refused for certain (EACCES, ELOOP, ENAMETOOLONG)
    Runs,    // expected to start
};

struct SearchSpace {
    // The status of the file settled on, when `identified`: the file that is to run or that
    // was refused, as the newfstatat that judged it saw it.
    struct stat status;
    bool identified;
    // Room for PATH_MAX bytes, where a PATH search leaves the file it settled on, as the C
    // library builds its name: the first one expected to run, else the first one refused;
    // empty when there is none.
    char* found;
    // The first candidate refused with EACCES, which a search settles on when nothing after it
    // runs.
    struct stat deniedStatus;
    bool deniedIdentified;
};

Prediction predictExec(const ExecEvent& event, SearchSpace& space);

// After a call that names no PATH search: the status of its file, for the record, without
// judging it (the kernel has).
void identifyFile(const ExecEvent& event, SearchSpace& space);

} // namespace ombrex

#endif
