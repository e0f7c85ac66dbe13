#include "libombrex/deliver.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "libombrex/bytes.h"
#include "libombrex/sys.h"

namespace ombrex {

namespace {

// The tally of each process: its id in the upper half, the given-up flag and the count of
// undelivered records in the lower. Two of them, because a vfork child runs in its parent's
// memory: it takes the one that is not its parent's, and a parent finds its own untouched.
uint64_t tallies[2];
constexpr uint64_t gaveUpBit = uint64_t{1} << 31;
constexpr uint64_t countMask = gaveUpBit - 1;

uint32_t owner(uint64_t tally) {
    return static_cast<uint32_t>(tally >> 32);
}

// The tally of process self, or null when it has none yet.
uint64_t* findTally(uint32_t self) {
    for (uint64_t& tally : tallies) {
        if (owner(__atomic_load_n(&tally, __ATOMIC_ACQUIRE)) == self) {
            return &tally;
        }
    }
    return nullptr;
}

// The tally of process self, taken when it has none: an empty one, or one left by another
// process, but never the parent's (whose memory this may be). Threads of one process may race
// here; the compare-and-swap lets one of them take it and the others find it.
uint64_t* claimTally(uint32_t self) {
    const auto parent = static_cast<uint32_t>(sys::getppid());
    for (;;) {
        if (uint64_t* own = findTally(self)) {
            return own;
        }
        for (uint64_t& tally : tallies) {
            uint64_t seen = __atomic_load_n(&tally, __ATOMIC_ACQUIRE);
            if ((seen == 0 || owner(seen) != parent) &&
                __atomic_compare_exchange_n(&tally, &seen, uint64_t{self} << 32, false,
                                            __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
                return &tally;
            }
        }
    }
}

// Applies change to the tally of self, atomically.
template <typename Change> void updateTally(uint32_t self, Change change) {
    uint64_t* const tally = claimTally(self);
    uint64_t seen = __atomic_load_n(tally, __ATOMIC_ACQUIRE);
    while (owner(seen) == self &&
           !__atomic_compare_exchange_n(tally, &seen, change(seen), false, __ATOMIC_ACQ_REL,
                                        __ATOMIC_ACQUIRE)) {
    }
}

constexpr uint64_t unlimited = ~uint64_t{0}; // RLIM64_INFINITY

// Open flags of the log file. It is never created here: a file made by whichever process
// happens to run first would belong to that user. No symbolic link is followed, so nobody can
// point a privileged program's records into another file, and O_NONBLOCK keeps a FIFO put in
// its place from blocking.
constexpr int logFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;

// Why a destination could not be opened, for ombrexctl; null on the record path.
struct Failure {
    DestinationUse use;
    int error;
};

bool fail(Failure* failure, DestinationUse use, long result) {
    if (failure != nullptr) {
        failure->use = use;
        failure->error = sys::failed(result) ? static_cast<int>(-result) : 0;
    }
    return false;
}

bool openFile(const char* path, Target& target, Failure* failure, Held& held) {
    const int fd = held.open([path] { return sys::open(path, logFlags | O_APPEND); });
    if (sys::failed(fd)) {
        return fail(failure, fd == -ELOOP ? DestinationFileLink : DestinationFileRefused, fd);
    }
    struct stat status;
    const long statResult = sys::fstat(fd, &status);
    const DestinationUse use = sys::failed(statResult) ? DestinationFileRefused : judgeLog(status);
    if (use != DestinationReady) {
        sys::close(fd);
        return fail(failure, use, statResult);
    }
    target.fd = fd;
    target.file = path;
    target.device = status.st_dev;
    target.inode = status.st_ino;
    return true;
}

// Connected, so that waiting until the socket is writable means waiting for room in the
// daemon's own queue, which an unconnected socket cannot tell.
bool openSocket(const Options& options, Target& target, Failure* failure, Held& held) {
    const size_t pathLength = textLength(options.syslogSocket);
    if (pathLength >= sizeof target.address.sun_path) {
        return fail(failure, DestinationSocketRefused, -ENAMETOOLONG);
    }
    const int fd = held.open([] { return sys::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
    if (sys::failed(fd)) {
        return fail(failure, DestinationSocketRefused, fd);
    }
    target.address.sun_family = AF_UNIX;
    copyBytes(target.address.sun_path, options.syslogSocket, pathLength + 1);
    target.addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + pathLength + 1);
    const long connected =
        sys::connect(fd, reinterpret_cast<const sockaddr*>(&target.address), target.addressLength);
    if (sys::failed(connected)) {
        sys::close(fd);
        return fail(failure, DestinationSocketRefused, connected);
    }
    target.fd = fd;
    target.facility = options.facility;
    target.waitMs = options.syslogWaitMs;
    const size_t tagLength = textLength(options.tag);
    copyBytes(target.tag, options.tag, tagLength < maxTagLength ? tagLength + 1 : maxTagLength);
    target.tag[maxTagLength] = 0;
    return true;
}

// writev(2), made again when a signal interrupted it before it wrote anything.
long writeRecord(int fd, const RecordBytes& record) {
    long written;
    do {
        written = sys::writev(fd, record.iov, record.count);
    } while (written == -EINTR);
    return written;
}

// A write that came back short (at a file size limit that another writer's record moved
// closer, or on a full disk) left the start of the record as a line without its end, which
// the next record would be glued to. Those bytes are overwritten where they are with blanks
// and a line feed, a blank line that no reader takes for a record, through a descriptor of
// its own without O_APPEND (a write through the first one would go to the end of the file).
// They lie below the size limit, since the kernel wrote them, so this raises nothing.
void blankOut(const Target& target, char* blanks, long count) {
    // The appending descriptor's offset is just past what this write appended.
    const long end = sys::seek(target.fd, 0, sys::fromCurrent);
    if (sys::failed(end) || end < count) {
        return;
    }
    const int fd = sys::open(target.file, logFlags);
    if (sys::failed(fd)) {
        return;
    }
    struct stat status;
    if (!sys::failed(sys::fstat(fd, &status)) && status.st_dev == target.device &&
        status.st_ino == target.inode) {
        for (long i = 0; i < count - 1; ++i) {
            blanks[i] = ' ';
        }
        blanks[count - 1] = '\n';
        for (long done = 0; done < count;) {
            const long written = sys::pwrite(fd, blanks + done, static_cast<size_t>(count - done),
                                             end - count + done);
            if (written <= 0 && written != -EINTR) {
                break;
            }
            done += written > 0 ? written : 0;
        }
    }
    sys::close(fd);
}

// One write(2) on the descriptor opened with O_APPEND: the kernel appends it at the end of
// the file in one piece, holding the file's own lock for it, so records of concurrent
// processes never interleave and nobody else's cooperation is needed. Whole, or repaired.
long appendOnce(const Target& target, const RecordBytes& record) {
    const long written = writeRecord(target.fd, record);
    if (written > 0 && written < static_cast<long>(record.length)) {
        blankOut(target, record.scratch, written);
    }
    return written;
}

// With a limit, a write that crosses it is cut short, or fails and raises SIGXFSZ. So the
// record is written only when the whole of it fits at the size the file has now; a record
// that another writer's append made too long after all is cut by the kernel and blanked out.
// SIGXFSZ is held back meanwhile, and one that this write raised is taken back, so that the
// program's pending signals stay as they were.
bool appendWithinLimit(const Target& target, const RecordBytes& record, uint64_t limit) {
    const size_t length = record.length;
    const sys::SignalSet fileSize = sys::signalBit(SIGXFSZ);
    sys::SignalSet mask = 0;
    if (sys::failed(sys::sigprocmask(SIG_BLOCK, &fileSize, &mask))) {
        return false;
    }
    sys::SignalSet pending = fileSize; // if unknown, never take one
    sys::sigpending(&pending);
    bool whole = false;
    struct stat status;
    if (!sys::failed(sys::fstat(target.fd, &status)) && status.st_size >= 0 &&
        static_cast<uint64_t>(status.st_size) <= limit &&
        length <= limit - static_cast<uint64_t>(status.st_size)) {
        const long written = appendOnce(target, record);
        whole = written == static_cast<long>(length);
        if (written == -EFBIG && (pending & fileSize) == 0) {
            sys::takePendingSignal(&fileSize);
        }
    }
    sys::sigprocmask(SIG_SETMASK, &mask, nullptr);
    return whole;
}

long sendOnce(int fd, const RecordBytes& record) {
    long sent;
    do {
        // MSG_DONTWAIT: a full queue is waited for below, within the bound, never longer.
        sent = sys::sendPieces(fd, record.iov, record.count, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent == -EINTR);
    return sent;
}

int64_t monotonicNanoseconds() {
    struct timespec now = {0, 0};
    sys::clockTime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// A full queue is waited for, up to the bound, once per process: a daemon that has stopped
// reading delays each process by the bound at most once, and its later records are not sent.
__attribute__((noinline)) bool sendToLog(const Target& target, const RecordBytes& record,
                                         uint32_t self) {
    const size_t length = record.length;
    long sent = sendOnce(target.fd, record);
    if (sent != -EAGAIN || target.waitMs == 0 || gaveUpWaiting(self)) {
        return sent == static_cast<long>(length);
    }
    const int64_t deadline = monotonicNanoseconds() + int64_t{target.waitMs} * 1'000'000;
    for (;;) {
        const int64_t remaining = deadline - monotonicNanoseconds();
        if (remaining <= 0) {
            giveUpWaiting(self);
            return false;
        }
        // Not const: the kernel writes the time left back into it.
        struct timespec timeout = {static_cast<time_t>(remaining / 1'000'000'000),
                                   static_cast<long>(remaining % 1'000'000'000)};
        sys::PollEntry entry = {target.fd, sys::readyToWrite, 0};
        const long ready = sys::ppoll(&entry, 1, &timeout);
        if (sys::failed(ready) && ready != -EINTR) {
            return false;
        }
        if (ready > 0) {
            sent = sendOnce(target.fd, record);
            if (sent != -EAGAIN) {
                return sent == static_cast<long>(length);
            }
        }
    }
}

__attribute__((noinline)) bool appendToFile(const Target& target, const RecordBytes& record) {
    sys::Limit limit;
    if (sys::failed(sys::getLimit(RLIMIT_FSIZE, &limit))) {
        return false;
    }
    if (limit.soft == unlimited) {
        return appendOnce(target, record) == static_cast<long>(record.length);
    }
    return appendWithinLimit(target, record, limit.soft);
}

} // namespace

DestinationUse judgeLog(const struct stat& status) {
    if (!S_ISREG(status.st_mode)) {
        return DestinationFileNotRegular;
    }
    if (status.st_uid != 0) {
        return DestinationFileNotRootOwned;
    }
    return status.st_nlink == 1 ? DestinationReady : DestinationFileLinked;
}

namespace {

bool openTargetFor(const Options& options, Target& target, Failure* failure, Held& held) {
    target.destination = options.destination;
    target.format = options.format;
    target.fd = -1;
    target.file = nullptr;
    target.tag[0] = 0;
    switch (options.destination) {
    case Destination::File:
        return openFile(options.file, target, failure, held);
    case Destination::Syslog:
        return openSocket(options, target, failure, held);
    case Destination::None:
        break;
    }
    return fail(failure, DestinationOff, 0);
}

} // namespace

bool openTarget(const Options& options, Target& target, Held& held) {
    return openTargetFor(options, target, nullptr, held);
}

DestinationUse checkTarget(const Options& options, int& error) {
    Target target;
    Failure failure = {DestinationReady, 0};
    Held held;
    if (openTargetFor(options, target, &failure, held)) {
        closeTarget(target, held);
    }
    held.closeAll();
    error = failure.error;
    return failure.use;
}

bool sendRecord(const Target& target, const RecordBytes& record, uint32_t self) {
    if (target.destination != Destination::Syslog) {
        return appendToFile(target, record);
    }
    return sendToLog(target, record, self);
}

void closeTarget(Target& target, Held& held) {
    held.letGo(target.fd);
    target.fd = -1;
}

uint32_t pendingLost(uint32_t self) {
    const uint64_t* const tally = findTally(self);
    return tally != nullptr
               ? static_cast<uint32_t>(__atomic_load_n(tally, __ATOMIC_ACQUIRE) & countMask)
               : 0;
}

void countLostRecord(uint32_t self) {
    updateTally(
        self, [](uint64_t tally) { return (tally & countMask) == countMask ? tally : tally + 1; });
}

void settleLost(uint32_t self, uint32_t reported) {
    if (reported == 0) {
        return;
    }
    updateTally(self, [reported](uint64_t tally) {
        const uint64_t count = tally & countMask;
        return tally - (count < reported ? count : reported);
    });
}

bool gaveUpWaiting(uint32_t self) {
    const uint64_t* const tally = findTally(self);
    return tally != nullptr && (__atomic_load_n(tally, __ATOMIC_ACQUIRE) & gaveUpBit) != 0;
}

void giveUpWaiting(uint32_t self) {
    updateTally(self, [](uint64_t tally) { return tally | gaveUpBit; });
}

} // namespace ombrex
