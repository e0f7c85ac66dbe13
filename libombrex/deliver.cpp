#include "libombrex/deliver.h"

#include "libombrex/bytes.h"
#include "libombrex/sys.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace ombrex {

namespace {

unsigned long lost;

constexpr uint64_t unlimited = ~uint64_t{0}; // RLIM64_INFINITY

// How long a record waits for the log's lock. Whoever holds it may be a user's process that
// never lets go, and a program must not hang for it; a record that waited in vain is dropped.
constexpr long maxLockWaitNanoseconds = 10'000'000;
constexpr long firstLockPauseNanoseconds = 20'000;
constexpr long longestLockPauseNanoseconds = 1'000'000;

bool openFile(const char* path, Target& target) {
    // Never created here: a file made by whichever process happens to run first would belong
    // to that user. No symbolic link is followed, so nobody can point a privileged program's
    // records into another file, and O_NONBLOCK keeps a FIFO put in its place from blocking.
    const int fd =
        sys::open(path, O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (sys::failed(fd)) {
        return false;
    }
    struct stat status;
    if (sys::failed(sys::fstat(fd, &status)) || !isTrustedLog(status)) {
        sys::close(fd);
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
    if (sys::failed(fd)) {
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

// Takes the log's lock (LOCK_SH or LOCK_EX) within the bounded wait.
bool lockLog(int fd, int operation) {
    long pause = firstLockPauseNanoseconds;
    long waited = 0;
    for (;;) {
        const long result = sys::flock(fd, operation | LOCK_NB);
        if (result == 0) {
            return true;
        }
        if ((result != -EWOULDBLOCK && result != -EINTR) || waited >= maxLockWaitNanoseconds) {
            return false;
        }
        sys::sleepNanoseconds(pause);
        waited += pause;
        pause = pause * 2 < longestLockPauseNanoseconds ? pause * 2 : longestLockPauseNanoseconds;
    }
}

bool writeWhole(int fd, const char* record, size_t length) {
    long written;
    do {
        written = sys::write(fd, record, length);
    } while (written == -EINTR);
    return written == static_cast<long>(length);
}

// Without a file size limit the kernel appends the whole record in one piece. The shared lock
// only keeps the size steady for a process that has a limit and holds the lock exclusively.
bool appendUnlimited(int fd, const char* record, size_t length) {
    if (!lockLog(fd, LOCK_SH)) {
        return false;
    }
    const bool whole = writeWhole(fd, record, length);
    sys::flock(fd, LOCK_UN);
    return whole;
}

// With a limit, a write that crosses it is cut (leaving half a line that the next record would
// be glued to) or fails and raises SIGXFSZ. So the record goes only where it fits whole, with
// the size read under the exclusive lock that every writer of the library respects; SIGXFSZ
// is held back meanwhile, for a writer outside the library, and one that this write raised is
// taken back so that the program's pending signals stay as they were.
bool appendWithinLimit(int fd, const char* record, size_t length, uint64_t limit) {
    const sys::SignalSet fileSize = sys::signalBit(SIGXFSZ);
    sys::SignalSet mask = 0;
    if (sys::failed(sys::sigprocmask(SIG_BLOCK, &fileSize, &mask))) {
        return false;
    }
    sys::SignalSet pending = fileSize; // if unknown, never take one
    sys::sigpending(&pending);
    bool whole = false;
    if (lockLog(fd, LOCK_EX)) {
        struct stat status;
        if (!sys::failed(sys::fstat(fd, &status)) && status.st_size >= 0 &&
            static_cast<uint64_t>(status.st_size) <= limit &&
            length <= limit - static_cast<uint64_t>(status.st_size)) {
            long written;
            do {
                written = sys::write(fd, record, length);
            } while (written == -EINTR);
            whole = written == static_cast<long>(length);
            if (written == -EFBIG && (pending & fileSize) == 0) {
                sys::takePendingSignal(&fileSize);
            }
        }
        sys::flock(fd, LOCK_UN);
    }
    sys::sigprocmask(SIG_SETMASK, &mask, nullptr);
    return whole;
}

bool appendToFile(int fd, const char* record, size_t length) {
    sys::Limit limit;
    if (sys::failed(sys::getLimit(RLIMIT_FSIZE, &limit))) {
        return false;
    }
    return limit.soft == unlimited ? appendUnlimited(fd, record, length)
                                   : appendWithinLimit(fd, record, length, limit.soft);
}

} // namespace

bool isTrustedLog(const struct stat& status) {
    return S_ISREG(status.st_mode) && status.st_uid == 0 && status.st_nlink == 1;
}

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

bool sendRecord(const Target& target, const char* record, size_t length) {
    if (target.destination != Destination::syslog) {
        return appendToFile(target.fd, record, length);
    }
    long sent;
    do {
        // MSG_DONTWAIT: a daemon that has stopped reading drops this record instead of
        // hanging every program on the machine.
        sent =
            sys::sendto(target.fd, record, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&target.address), target.addressLength);
    } while (sent == -EINTR);
    return sent == static_cast<long>(length);
}

void closeTarget(Target& target) {
    if (target.fd >= 0) {
        sys::close(target.fd);
        target.fd = -1;
    }
}

unsigned long lostRecords() {
    return __atomic_load_n(&lost, __ATOMIC_RELAXED);
}

void countLostRecord() {
    __atomic_add_fetch(&lost, 1, __ATOMIC_RELAXED);
}

} // namespace ombrex
