// Where a record goes: the system log's datagram socket or an appended file. Every failure is
// silent; a program must never notice that its execution could not be recorded.
#ifndef OMBREX_LIBOMBREX_DELIVER_H
#define OMBREX_LIBOMBREX_DELIVER_H

#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>

#include "libombrex/held.h"
#include "libombrex/options.h"

namespace ombrex {

// An open destination with the few options that the record still needs: the configuration
// text it came from is gone by the time the record is formatted.
struct Target {
    Destination destination;
    Format format;
    int fd;
    const char* file; // the log file's path
    dev_t device;     // and the file that fd is open on, which a second open must find again
    ino_t inode;
    sockaddr_un address;
    socklen_t addressLength;
    int facility;
    unsigned waitMs;
    char tag[maxTagLength + 1];
};

// Whether a file with this status may receive records: DestinationReady for a regular file
// owned by root with a single name, else why not. A file that a user created, or a link a
// user made to root's file, would hand that user the command lines of everyone else.
DestinationUse judgeLog(const struct stat& status);

// False when there is nothing to write to (logging off, missing or untrusted file, no socket).
// An open that finds no descriptor free closes those held first and tries again.
bool openTarget(const Options& options, Target& target, Held& held);

// A record in pieces (writer.h), one write or datagram, and room for recordCapacity bytes
// where the blanks that repair a short write are built.
struct RecordBytes {
    const struct iovec* iov;
    unsigned count;
    size_t length; // of all pieces
    char* scratch;
};

// Delivers the record whole, or not at all; false when it was not delivered. `self` is the
// calling process, which waits for room in the system log's queue only until it first gives up.
bool sendRecord(const Target& target, const RecordBytes& record, uint32_t self);

// Lets the destination's descriptor go (held.h).
void closeTarget(Target& target, Held& held);

// Opens and closes the destination as openTarget does, for ombrexctl: DestinationReady, or
// what stopped it, with the errno of the call that failed in error (else 0).
DestinationUse checkTarget(const Options& options, int& error);

// What each process keeps across its records: how many it could not deliver (and has not
// reported yet in a delivered record), and whether it has given up waiting for the system
// log. Kept under the process id, so that a forked child starts with nothing of its parent's
// and a vfork child, which shares its parent's memory, leaves the parent's own as it was.
uint32_t pendingLost(uint32_t self);
void countLostRecord(uint32_t self);
// After a delivered record that reported `reported` of them.
void settleLost(uint32_t self, uint32_t reported);
bool gaveUpWaiting(uint32_t self);
void giveUpWaiting(uint32_t self);

} // namespace ombrex

#endif
