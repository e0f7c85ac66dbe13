// Where a record goes: the system log's datagram socket or an appended file. Every failure is
// silent; a program must never notice that its execution could not be recorded.
#ifndef OMBREX_LIBOMBREX_DELIVER_H
#define OMBREX_LIBOMBREX_DELIVER_H

#include "libombrex/options.h"

#include <stddef.h>
#include <sys/socket.h>
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

// False when there is nothing to write to (logging off, missing file, no socket).
bool openTarget(const Options& options, Target& target);

// One system call; a short or failed write is dropped.
void sendRecord(const Target& target, const char* record, size_t length);

void closeTarget(Target& target);

} // namespace ombrex

#endif
