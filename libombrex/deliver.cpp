#include "libombrex/deliver.h"

#include "libombrex/bytes.h"
#include "libombrex/sys.h"

#include <fcntl.h>
#include <stddef.h>
#include <sys/stat.h>

namespace ombrex {

namespace {

bool openFile(const char* path, Target& target) {
    // Never created here: a file made by whichever process happens to run first would belong
    // to that user. No symbolic link is followed, so nobody can point a privileged program's
    // records into another file, and O_NONBLOCK keeps a FIFO put in its place from blocking.
    const int fd = sys::openRegular(path, O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW |
                                              O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    target.fd = fd;
    return true;
}

bool openSocket(const Options& options, Target& target) {
    const size_t pathLength = textLength(options.syslogSocket);
    if (pathLength >= sizeof target.address.sun_path) {
        return false;
    }
    const int fd = sys::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    target.address.sun_family = AF_UNIX;
    copyBytes(target.address.sun_path, options.syslogSocket, pathLength + 1);
    target.addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + pathLength + 1);
    target.fd = fd;
    target.facility = options.facility;
    const size_t tagLength = textLength(options.tag);
    copyBytes(target.tag, options.tag, tagLength < maxTagLength ? tagLength + 1 : maxTagLength);
    target.tag[maxTagLength] = 0;
    return true;
}

} // namespace

bool openTarget(const Options& options, Target& target) {
    target.destination = options.destination;
    target.fd = -1;
    target.tag[0] = 0;
    switch (options.destination) {
    case Destination::file:
        return openFile(options.file, target);
    case Destination::syslog:
        return openSocket(options, target);
    case Destination::none:
        break;
    }
    return false;
}

void sendRecord(const Target& target, const char* record, size_t length) {
    ssize_t result;
    do {
        if (target.destination == Destination::syslog) {
            // MSG_DONTWAIT: a daemon that has stopped reading drops this record instead of
            // hanging every program on the machine.
            result = sys::sendto(target.fd, record, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                                 reinterpret_cast<const sockaddr*>(&target.address),
                                 target.addressLength);
        } else {
            result = sys::write(target.fd, record, length);
        }
    } while (result < 0 && sys::interrupted());
}

void closeTarget(Target& target) {
    if (target.fd >= 0) {
        sys::close(target.fd);
        target.fd = -1;
    }
}

} // namespace ombrex
