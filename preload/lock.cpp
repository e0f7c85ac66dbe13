#include "preload/lock.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/messages.h"
#include "preload/locations.h"

namespace {

// /run is a file system of the running system that only root may write to; this directory
// below it is root's alone, so that no other user can create, open and so hold the lock.
constexpr char builtInLockPath[] = "/run/ombrex/ld.so.preload.lock";
constexpr size_t builtInLockNameOffset = sizeof "/run/ombrex/" - 1;

// A run holds the lock for milliseconds; the bound leaves room for a slow disk and for a
// run that waits for other programs to let go of the file it replaced.
constexpr long lockWaitMilliseconds = 10000;
constexpr long pollMilliseconds = 10;

// The lock file's path; its directory is the part before nameOffset.
struct LockLocation {
    char path[PATH_MAX];
    size_t nameOffset;
};

struct HeldLock {
    int directory = -1;
    int file = -1;
    LockLocation location{};
};

HeldLock heldLock;

enum class Attempt { Held, Busy, Unavailable };

// Removed as it is released, so that no lock file stays beside a preload file; a run that
// opened it just before finds it gone once it holds it, and starts again.
void releaseLock() {
    if (heldLock.file < 0) {
        return;
    }
    unlinkat(heldLock.directory, heldLock.location.path + heldLock.location.nameOffset, 0);
    close(heldLock.file);
    close(heldLock.directory);
    heldLock.file = -1;
}

// "/run/ombrex/ld.so.preload.lock" for the system's file; ".NAME.lock" beside any other, where
// whoever tests with scratch files may create it. False when there is no such place.
bool locate(const char* path, LockLocation& location) {
    if (std::strcmp(path, builtInLdSoPreloadPath) == 0) {
        std::memcpy(location.path, builtInLockPath, sizeof builtInLockPath);
        location.nameOffset = builtInLockNameOffset;
        return true;
    }
    const char* slash = std::strrchr(path, '/');
    const char* base = slash != nullptr ? slash + 1 : path;
    size_t directoryLength = static_cast<size_t>(base - path);
    size_t baseLength = std::strlen(base);
    if (baseLength == 0 || baseLength + sizeof "..lock" > NAME_MAX ||
        directoryLength + baseLength + sizeof "..lock" > sizeof location.path) {
        return false;
    }
    std::memcpy(location.path, path, directoryLength);
    std::snprintf(location.path + directoryLength, sizeof location.path - directoryLength,
                  ".%s.lock", base);
    location.nameOffset = directoryLength;
    return true;
}

// The lock file's directory, open; -1 when it cannot be used.
int openDirectory(const LockLocation& location) {
    char directory[PATH_MAX];
    size_t length = location.nameOffset;
    if (length == 0) {
        std::strcpy(directory, ".");
    } else {
        length = length == 1 ? 1 : length - 1;
        std::memcpy(directory, location.path, length);
        directory[length] = '\0';
    }
    bool builtIn = std::strcmp(location.path, builtInLockPath) == 0;
    if (builtIn && mkdir(directory, 0700) != 0 && errno != EEXIST) {
        return -1;
    }
    int fd = open(directory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && builtIn &&
        (fstat(fd, &info) != 0 || info.st_uid != 0 || (info.st_mode & 022) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

// One try. A lock file that others may open, or that is not this user's own regular file,
// is no lock: whoever could open it could hold it.
Attempt tryLock(int directory, const char* name, int& fd) {
    fd = openat(directory, name, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        return Attempt::Unavailable;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() ||
        (info.st_mode & 066) != 0) {
        close(fd);
        return Attempt::Unavailable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int savedErrno = errno;
        close(fd);
        return savedErrno == EWOULDBLOCK ? Attempt::Busy : Attempt::Unavailable;
    }
    struct stat named {};
    if (fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != info.st_ino ||
        named.st_dev != info.st_dev) {
        close(fd);
        return Attempt::Busy;
    }
    return Attempt::Held;
}

[[noreturn]] void failWaiting(const char* path, const char* lockPath) {
    ombrex_cli_printDiagValue("ld.so.preload path", path);
    ombrex_cli_printDiagValue("lock file path", lockPath);
    ombrex_cli_fatal("Unable to lock the ld.so.preload file: another run keeps it locked.");
}

long millisecondsNow() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

void sleepFor(long milliseconds) {
    struct timespec interval {
        0, milliseconds * 1000000
    };
    while (nanosleep(&interval, &interval) != 0 && errno == EINTR) {
    }
}

} // namespace

void ombrex_cli_lockLdSoPreload(const char* path) {
    if (heldLock.file >= 0) {
        return;
    }
    LockLocation location{};
    if (!locate(path, location)) {
        return;
    }
    int directory = openDirectory(location);
    if (directory < 0) {
        return;
    }
    const char* name = location.path + location.nameOffset;
    long deadline = millisecondsNow() + lockWaitMilliseconds;
    for (;;) {
        int fd = -1;
        switch (tryLock(directory, name, fd)) {
        case Attempt::Held:
            heldLock = {directory, fd, location};
            std::atexit(releaseLock);
            return;
        case Attempt::Unavailable:
            close(directory);
            return;
        case Attempt::Busy:
            break;
        }
        if (millisecondsNow() >= deadline) {
            failWaiting(path, location.path);
        }
        sleepFor(pollMilliseconds);
    }
}
