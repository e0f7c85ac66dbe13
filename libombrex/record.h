// One record per program execution, or per execution that the kernel refused: what is
// recorded, how it is formatted, and the async-signal-safe path that gathers the facts and
// hands the record to its destination.
#ifndef OMBREX_LIBOMBREX_RECORD_H
#define OMBREX_LIBOMBREX_RECORD_H

#include <stddef.h>
#include <stdint.h>

#include "libombrex/held.h"
#include "libombrex/options.h"

namespace ombrex {

// The whole record, syslog header or line end included, fits in this many bytes. It stays
// under the 8 KiB that syslog daemons accept by default, so a cut record keeps its marker.
inline constexpr size_t recordCapacity = 8000;

// How the entry point finds the file it runs.
enum class Search {
    None, // the path as given (resolved against dirfd)
    Path, // execvp, execvpe, execlp, posix_spawnp: along PATH, by the C library's rules
};

// What the program asked for, as passed to the interposed call.
struct ExecEvent {
    const char* call;  // name of the entry point, e.g. "execvp"
    const char* file;  // path or name as given; may be null
    char* const* argv; // may be null
    int fd;            // descriptor shown in the record; -1 when there is none
    int dirfd;         // what file is resolved against: AT_FDCWD, a directory or the file itself
    int flags;         // AT_SYMLINK_NOFOLLOW and AT_EMPTY_PATH, as execveat takes them
    Search search;
    bool spawn; // posix_spawn, posix_spawnp: recorded by the caller, once the call returned
};

// A login uid or session id that the kernel does not hold.
inline constexpr uint32_t unsetId = 4294967295u;

// The executed file as the kernel's audit names it: its device and inode, its mode (with the
// file type bits) and its owner.
struct FileIdentity {
    bool known; // false: the file could not be looked up, and the record has none of this
    uint64_t device;
    uint64_t inode;
    uint32_t mode;
    uint32_t owner;
    uint32_t group;
};

// What the process looks like at the moment of the record, and what the call came to.
struct ProcessFacts {
    int64_t seconds; // since the epoch, UTC
    int64_t nanoseconds;
    int64_t sender;    // the process that writes the record
    uint64_t sequence; // the record's number in this program image, from 1: the n of its id
    int64_t pid;       // the process recorded; -1 for a posix_spawn that started none
    int64_t ppid;
    uint32_t auid; // unsetId when unset
    uint32_t ses;  // unsetId when unset
    uint32_t uid;
    uint32_t euid;
    uint32_t gid;
    uint32_t egid;
    const char* tty;  // controlling terminal: "pts/0", "none", ...
    const char* cwd;  // null when it could not be read
    const char* exe;  // the calling program's file; null when it could not be read
    const char* file; // the file shown: event.file, or what a descriptor refers to
    const char* path; // the file a PATH search found, absolute; null when there is none
    FileIdentity identity;
    int error;     // the error of a refused call; 0 for an execution
    uint32_t lost; // records of this process not delivered before this one
};

// For a syslog datagram; without it the record is a line of a log file.
struct SyslogHeader {
    int facility;
    const char* tag;
};

struct Pieces;

// How a record is laid out.
struct RecordStyle {
    const SyslogHeader* header; // null: a line of a file
    Format format;
    Pieces* pieces; // null: the whole record in the buffer; else in these pieces (writer.h)
};

// Formats the record into buffer (and pieces) and returns its length (never more than
// capacity).
size_t formatRecord(char* buffer, size_t capacity, const ExecEvent& event,
                    const ProcessFacts& facts, const RecordStyle& style);

// The record path. Each is async-signal-safe: only system calls, no lock, no allocation, no
// symbol lookup, and under 1 KiB of the caller's stack; errno, the signal mask and the
// pending signals are left as they were. A record that cannot be delivered is
// counted, and the next one that this process delivers says how many were lost.
//
// Each lets go of its descriptors into `held` (held.h), which the entry point closes once the
// call has returned, and once more after a record made after the call.
//
// Before an exec-family call: writes the record now when the call is expected to start the
// program, since a call that does never returns. Returns true when it is not expected to:
// the call is then made first, and recordRefusedExec() writes the record if it failed.
bool recordBeforeExec(const ExecEvent& event, Held& held);

// After an exec-family call that returned with `error`: the record of a refused execution, or
// none when there was nothing to run (a missing file, ENOENT or ENOTDIR; a descriptor that is
// none, EBADF; memory that cannot be read, EFAULT; a PATH search that found nothing, whatever
// error it left, 0 included).
void recordRefusedExec(const ExecEvent& event, int error, Held& held);

// After posix_spawn or posix_spawnp returned `error`, with `child` the new process when it
// is 0. No record for a failed call when there was nothing to run, as above.
void recordSpawn(const ExecEvent& event, int error, int64_t child, Held& held);

// Whether a call that failed with `error` had nothing to run, and so leaves no record.
bool nothingToRun(int error);

} // namespace ombrex

#endif
