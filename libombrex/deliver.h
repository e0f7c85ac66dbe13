// Where a record goes: the system log's datagram socket or an appended file. Every failure is
// silent; a program must never notice that its execution could not be recorded.
#ifndef OMBREX_LIBOMBREX_DELIVER_H
#define OMBREX_LIBOMBREX_DELIVER_H

#include "libombrex/options.h"

#include <stddef.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace ombrex {

// An open destination with the few options that the record still needs: the configuration
// text it came from is gone by the time the record is formatted.
struct Target {
    Destination destination;
    int fd;
    sockaddr_un address;
    socklen_t addressLength;
    int facility;
    char tag[maxTagLength + 1];
};

// Whether a file with this status may receive records: a regular file owned by root with a
// single name. A file that a user created, or a link a user made to root's file, would hand
// that user the command lines of everyone else.
bool isTrustedLog(const struct stat& status);

// False when there is nothing to write to (logging off, missing or untrusted file, no socket).
bool openTarget(const Options& options, Target& target);

// Delivers the record whole, or not at all; false when it was not delivered.
bool sendRecord(const Target& target, const char* record, size_t length);

void closeTarget(Target& target);

// Records that the library meant to write and could not, in this process.
unsigned long lostRecords();
void countLostRecord();

} // namespace ombrex

#endif
