// One record per program execution: what is recorded, how it is formatted, and the
// async-signal-safe path that gathers the facts and hands the record to its destination.
#ifndef OMBREX_LIBOMBREX_RECORD_H
#define OMBREX_LIBOMBREX_RECORD_H

#include <stddef.h>
#include <stdint.h>

namespace ombrex {

// The whole record, syslog header or line end included, fits in this many bytes. It stays
// under the 8 KiB that syslog daemons accept by default, so a cut record keeps its marker.
inline constexpr size_t recordCapacity = 8000;

// What the program asked for, as passed to the interposed call.
struct ExecEvent {
    const char* call;  // name of the entry point, e.g. "execvp"
    const char* file;  // path or name as given; may be null
    char* const* argv; // may be null
    int fd;            // descriptor executed or resolved against; -1 when there is none
};

// What the process looks like at the moment of the call.
struct ProcessFacts {
    int64_t seconds; // since the epoch, UTC
    int64_t nanoseconds;
    int64_t pid;
    int64_t ppid;
    uint32_t uid;
    uint32_t euid;
    uint32_t gid;
    uint32_t egid;
    const char* cwd;  // null when it could not be read
    const char* file; // the file shown: event.file, or what a descriptor refers to
};

// For a syslog datagram; without it the record is a line of a log file.
struct SyslogHeader {
    int facility;
    const char* tag;
};

// Formats the record into buffer and returns its length (never more than capacity).
size_t formatRecord(char* buffer, size_t capacity, const ExecEvent& event,
                    const ProcessFacts& facts, const SyslogHeader* header);

// Writes one record of the execution to the configured destination, or nothing if logging is
// off or fails (and then counts it as lost). Async-signal-safe: only system calls and the
// vDSO clock, no lock, no allocation, no symbol lookup, and under 1 KiB of the caller's
// stack; errno, the signal mask and the pending signals are left as they were.
void recordExecution(const ExecEvent& event);

} // namespace ombrex

#endif
