#include "preload/store.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "cli/messages.h"
#include "preload/locations.h"
#include "preload/lock.h"

const char* ldSoPreloadPathInUse = nullptr;

namespace {

struct FreeDeleter {
    void operator()(void* block) const {
        std::free(block);
    }
};
using HeapText = std::unique_ptr<char, FreeDeleter>;

// A descriptor that is closed on every path that returns; close() reports the result of
// the one close whose failure matters.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const {
        return fd_;
    }
    bool valid() const {
        return fd_ >= 0;
    }
    int close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

  private:
    int fd_;
};

void printPathAndErrno(const char* path, int savedErrno) {
    ombrex_cli_printDiagValue("ld.so.preload path", path);
    ombrex_cli_printDiagValue("Error message", std::strerror(savedErrno));
}

[[noreturn]] void failOpenForWriting(const char* path, int savedErrno) {
    printPathAndErrno(path, savedErrno);
    ombrex_cli_fatal("Unable to open file for writing (missing sudo, maybe?).");
}

[[noreturn]] void failWriting(const char* path, int savedErrno) {
    printPathAndErrno(path, savedErrno);
    ombrex_cli_fatal("Unable to write to file.");
}

[[noreturn]] void failAllocation(const char* path) {
    printPathAndErrno(path, errno);
    ombrex_cli_fatal("Unable to malloc() for reading the file content.");
}

[[noreturn]] void failReading(const char* path, int savedErrno) {
    printPathAndErrno(path, savedErrno);
    ombrex_cli_fatal("Unable to read ld.so.preload file.");
}

[[noreturn]] void failSizeQuery(const char* path, const char* call, int savedErrno) {
    ombrex_cli_printDiagValue("ld.so.preload path", path);
    ombrex_cli_printDiagValue("function called", call);
    ombrex_cli_printDiagValue("Error message", std::strerror(savedErrno));
    ombrex_cli_fatal("Unable to determine the size of the ld.so.preload file.");
}

// A missing preload file is an empty list.
PreloadContent emptyContent(const char* path) {
    char* empty = static_cast<char*>(std::malloc(1));
    if (empty == nullptr) {
        failAllocation(path);
    }
    empty[0] = '\0';
    ldSoPreloadPathInUse = path;
    return {empty, 0, {}};
}

// The size of the open file, from its end offset.
size_t sizeOf(FILE* fh, const char* path, const struct stat& info) {
    // A directory opens for reading, and its end offset can be any number: say what it is
    // rather than misjudge its size.
    if (S_ISDIR(info.st_mode)) {
        failReading(path, EISDIR);
    }
    if (std::fseek(fh, 0, SEEK_END) != 0) {
        failSizeQuery(path, "fseek(fh, 0, SEEK_END)", errno);
    }
    long position = std::ftell(fh);
    if (position < 0) {
        failSizeQuery(path, "ftell(fh)", errno);
    }
    // Refused before anything is allocated: a size that does not fit a signed 32-bit count
    // would be misread, and a later rewrite would destroy the file.
    if (position >= INT32_MAX) {
        ombrex_cli_printDiagValue("ld.so.preload path", path);
        ombrex_cli_fatal("Unable to read the ld.so.preload file: it is too large.");
    }
    return static_cast<size_t>(position);
}

HeapText duplicate(const char* text, size_t length) {
    HeapText copy(static_cast<char*>(std::malloc(length + 1)));
    if (copy) {
        std::memcpy(copy.get(), text, length);
        copy.get()[length] = '\0';
    }
    return copy;
}

// Length of the directory part of path, without its final slash; 0 when there is none.
size_t directoryLength(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        return 0;
    }
    return slash == path ? 1 : static_cast<size_t>(slash - path);
}

HeapText joinPath(const char* directory, size_t directoryLen, const char* name) {
    size_t nameLength = std::strlen(name);
    HeapText joined(static_cast<char*>(std::malloc(directoryLen + 1 + nameLength + 1)));
    if (joined) {
        std::memcpy(joined.get(), directory, directoryLen);
        size_t at = directoryLen;
        if (directoryLen == 0 || directory[directoryLen - 1] != '/') {
            joined.get()[at++] = '/';
        }
        std::memcpy(joined.get() + at, name, nameLength + 1);
    }
    return joined;
}

// Follows symbolic links in the last component, so that a linked preload file stays a link
// and its target is replaced. The target need not exist. Null with errno set on failure.
HeapText resolveFinalLinks(const char* path) {
    HeapText current = duplicate(path, std::strlen(path));
    for (int hops = 0; current && hops < 40; ++hops) {
        char target[PATH_MAX];
        ssize_t length = readlink(current.get(), target, sizeof target - 1);
        if (length < 0) {
            // Not a link (or nothing there): this is the file to replace.
            return current;
        }
        target[length] = '\0';
        if (target[0] == '/') {
            current = duplicate(target, static_cast<size_t>(length));
        } else {
            size_t dirLen = directoryLength(current.get());
            current = dirLen == 0 ? duplicate(target, static_cast<size_t>(length))
                                  : joinPath(current.get(), dirLen, target);
        }
    }
    if (current) {
        errno = ELOOP;
    }
    return nullptr;
}

PreloadFileState stateOf(const struct stat& info) {
    return {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The change time is left out where a rename has just taken the file's name away, which
// sets it.
bool sameState(const struct stat& info, const PreloadFileState& state, bool withChangeTime) {
    return state.exists && info.st_dev == state.device && info.st_ino == state.inode &&
           info.st_size == state.size && sameTime(info.st_mtim, state.modified) &&
           (!withChangeTime || sameTime(info.st_ctim, state.changed));
}

// True when the file holds exactly these bytes: a change within one tick of the clock leaves
// size and times as they were.
bool sameBytes(int fd, const char* bytes, size_t size) {
    char buffer[16384];
    size_t offset = 0;
    for (;;) {
        ssize_t got = pread(fd, buffer, sizeof buffer, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        size_t length = static_cast<size_t>(got);
        if (length == 0) {
            return offset == size;
        }
        if (length > size - offset || std::memcmp(buffer, bytes + offset, length) != 0) {
            return false;
        }
        offset += length;
    }
}

bool writeAt(int fd, const char* content, size_t length, size_t offset) {
    while (length > 0) {
        ssize_t written = pwrite(fd, content, length, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        content += written;
        offset += static_cast<size_t>(written);
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool writeAll(int fd, const char* content, size_t length) {
    while (length > 0) {
        ssize_t written = ::write(fd, content, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        content += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// Once the file starts to change, a request to stop (a terminal's interrupt, a hang-up, a
// timer, a file size limit) must not end the run half-way: it is held until the run ends
// with its change done or undone, and a size limit shows as the write error EFBIG. Faults
// of the program itself and a broken pipe on its output keep their effect.
void holdInterruptions() {
    sigset_t held;
    sigfillset(&held);
    for (int synchronous : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS, SIGPIPE}) {
        sigdelset(&held, synchronous);
    }
    sigprocmask(SIG_BLOCK, &held, nullptr);
}

// How long a run waits for other programs to close the file: one that keeps it open longer
// is not waited for.
constexpr int leaseWaitMilliseconds = 1000;

// Waits, a bounded time, until no other program has the file open, then takes a write
// lease: until it is released, a program that opens the file waits. The signal that tells of
// such an open is held with the others. False when the wait runs out or the system grants
// no lease (another user's file, a file system without leases).
bool leaseWhenAlone(int fd) {
    for (int waited = 0; waited < leaseWaitMilliseconds; ++waited) {
        if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
            return true;
        }
        if (errno != EAGAIN) {
            return false;
        }
        struct timespec millisecond {
            0, 1000000
        };
        nanosleep(&millisecond, nullptr);
    }
    return false;
}

void releaseLease(int fd) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
}

// Gives the new file the old one's extended attributes (security labels, ACLs).
bool copyExtendedAttributes(int from, int to) {
    ssize_t listSize = flistxattr(from, nullptr, 0);
    if (listSize < 0) {
        return errno == ENOTSUP;
    }
    if (listSize == 0) {
        return true;
    }
    HeapText names(static_cast<char*>(std::malloc(static_cast<size_t>(listSize))));
    if (!names) {
        return false;
    }
    listSize = flistxattr(from, names.get(), static_cast<size_t>(listSize));
    if (listSize < 0) {
        return false;
    }
    for (const char* name = names.get(); name < names.get() + listSize;
         name += std::strlen(name) + 1) {
        ssize_t valueSize = fgetxattr(from, name, nullptr, 0);
        if (valueSize < 0) {
            return false;
        }
        HeapText value(static_cast<char*>(std::malloc(static_cast<size_t>(valueSize) + 1)));
        if (!value) {
            return false;
        }
        valueSize = fgetxattr(from, name, value.get(), static_cast<size_t>(valueSize));
        if (valueSize < 0 ||
            fsetxattr(to, name, value.get(), static_cast<size_t>(valueSize), 0) != 0) {
            return false;
        }
    }
    return true;
}

// What the file held when it was read: the rewrite goes ahead only while it still holds it.
struct Expected {
    const char* bytes;
    size_t size;
    PreloadFileState state;
};

// One write of the preload file: the path as resolved (named in the messages), the file at the
// end of its links (the one replaced), the new content, and what the file is to hold still.
struct Rewrite {
    const char* path;
    const char* target;
    const char* content;
    size_t length;
    Expected expected;
};

// The file that is there already: open, and what stat said about it.
struct ExistingFile {
    int fd;
    const struct stat* info;
};

struct TemporaryFile {
    HeapText path;
    HeapText directory; // synced after the rename, which is durable only then
    FileDescriptor fd;
};

enum class Replacement { Done, WriteInPlace, Changed };

// True when the open file is still the one read, with the same bytes, and the path still
// names it. Size and times come first: they are cheap, and they catch a change made while
// the bytes were compared.
bool stillAsRead(const Rewrite& rewrite, int fd) {
    const Expected& expected = rewrite.expected;
    struct stat before {};
    struct stat after {};
    struct stat named {};
    return fstat(fd, &before) == 0 && sameState(before, expected.state, true) &&
           sameBytes(fd, expected.bytes, expected.size) && fstat(fd, &after) == 0 &&
           sameState(after, expected.state, true) && stat(rewrite.target, &named) == 0 &&
           named.st_dev == before.st_dev && named.st_ino == before.st_ino;
}

// Creates the temporary file "<dir>/.<name>.XXXXXX": hidden, and in the same file system as
// target, so that a rename can put it in target's place. Its descriptor is left invalid when
// the directory refuses a new file but the existing file can still be rewritten in place.
TemporaryFile makeTemporaryFile(const Rewrite& rewrite, const ExistingFile* existing) {
    size_t dirLen = directoryLength(rewrite.target);
    const char* lastSlash = std::strrchr(rewrite.target, '/');
    const char* baseName = lastSlash != nullptr ? lastSlash + 1 : rewrite.target;
    size_t baseLength = std::strlen(baseName);
    HeapText nameTemplate(static_cast<char*>(std::malloc(baseLength + 9)));
    if (!nameTemplate) {
        failOpenForWriting(rewrite.path, errno);
    }
    std::snprintf(nameTemplate.get(), baseLength + 9, ".%s.XXXXXX", baseName);
    HeapText path = dirLen == 0 ? duplicate(nameTemplate.get(), baseLength + 8)
                                : joinPath(rewrite.target, dirLen, nameTemplate.get());
    HeapText directory = dirLen == 0 ? duplicate(".", 1) : duplicate(rewrite.target, dirLen);
    if (!path || !directory) {
        failOpenForWriting(rewrite.path, errno);
    }
    int fd = mkostemp(path.get(), O_CLOEXEC);
    if (fd < 0 && (existing == nullptr || (errno != EACCES && errno != EPERM))) {
        failOpenForWriting(rewrite.path, errno);
    }
    return {std::move(path), std::move(directory), FileDescriptor(fd)};
}

[[noreturn]] void discardAndFail(const Rewrite& rewrite, const TemporaryFile& temp,
                                 int savedErrno) {
    unlink(temp.path.get());
    failWriting(rewrite.path, savedErrno);
}

// Gives the temporary file the existing file's owner, extended attributes and mode. False
// when they cannot be kept: the caller then writes in place rather than change them.
bool keepOwnerModeAndAttributes(const Rewrite& rewrite, const ExistingFile* existing,
                                const TemporaryFile& temp) {
    if (existing == nullptr) {
        // Every user's programs must be able to read a new preload file, whatever the umask.
        if (fchmod(temp.fd.get(), 0644) != 0) {
            discardAndFail(rewrite, temp, errno);
        }
        return true;
    }
    bool kept = fchown(temp.fd.get(), existing->info->st_uid, existing->info->st_gid) == 0 &&
                copyExtendedAttributes(existing->fd, temp.fd.get()) &&
                fchmod(temp.fd.get(), existing->info->st_mode & 07777) == 0;
    if (!kept) {
        unlink(temp.path.get());
    }
    return kept;
}

// A new file must not take the place of one that another program created meanwhile.
int putInPlace(const char* from, const char* to, bool replace) {
    if (!replace) {
        int result = renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
        if (result == 0 || (errno != EINVAL && errno != ENOSYS)) {
            return result;
        }
    }
    return rename(from, to);
}

// Writes the content to the temporary file, looks a last time whether the file is still the
// one read, and renames the temporary file over target, each step on disk before the next.
Replacement commit(const Rewrite& rewrite, const ExistingFile* existing, TemporaryFile& temp) {
    if (!writeAll(temp.fd.get(), rewrite.content, rewrite.length) || fsync(temp.fd.get()) != 0 ||
        temp.fd.close() != 0) {
        discardAndFail(rewrite, temp, errno);
    }
    if (existing != nullptr && !stillAsRead(rewrite, existing->fd)) {
        unlink(temp.path.get());
        return Replacement::Changed;
    }
    if (putInPlace(temp.path.get(), rewrite.target, existing != nullptr) != 0) {
        int savedErrno = errno;
        // A file mounted over the path (a bind mount, as containers use) cannot be replaced,
        // only rewritten.
        if (existing != nullptr && savedErrno == EBUSY) {
            unlink(temp.path.get());
            return Replacement::WriteInPlace;
        }
        if (existing == nullptr && savedErrno == EEXIST) {
            unlink(temp.path.get());
            return Replacement::Changed;
        }
        discardAndFail(rewrite, temp, savedErrno);
    }
    // A directory this process may write but not read cannot be opened to sync it; the
    // file is replaced all the same, so that is no failure.
    FileDescriptor directoryFd(open(temp.directory.get(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directoryFd.valid() && fsync(directoryFd.get()) != 0 && errno != EINVAL &&
        errno != ENOTSUP) {
        failWriting(rewrite.path, errno);
    }
    return Replacement::Done;
}

// Replaces target with a new file holding the content. existing is the open target when
// there is one; when the new file cannot be made beside it or given its owner or
// attributes, the caller writes in place instead.
Replacement replaceAtomically(const Rewrite& rewrite, const ExistingFile* existing) {
    TemporaryFile temp = makeTemporaryFile(rewrite, existing);
    if (!temp.fd.valid() || !keepOwnerModeAndAttributes(rewrite, existing, temp)) {
        return Replacement::WriteInPlace;
    }
    return commit(rewrite, existing, temp);
}

// The whole content of the open file, from its start; ends the process when it cannot be read.
HeapText readWhole(const Rewrite& rewrite, int fd, size_t& size) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        failWriting(rewrite.path, errno);
    }
    size = static_cast<size_t>(info.st_size);
    HeapText text(static_cast<char*>(std::malloc(size + 1)));
    if (!text) {
        failWriting(rewrite.path, errno);
    }
    size_t got = 0;
    while (got < size) {
        ssize_t now = pread(fd, text.get() + got, size - got, static_cast<off_t>(got));
        if (now <= 0) {
            if (now < 0 && errno == EINTR) {
                continue;
            }
            failWriting(rewrite.path, now < 0 ? errno : EIO);
        }
        got += static_cast<size_t>(now);
    }
    text.get()[size] = '\0';
    return text;
}

// Another program wrote to the old file between the last look and the rename: its change
// lives in the old file alone, which no longer has a name. Puts what that file holds now
// back in the file's place, so that the next attempt starts from it.
void putBack(const Rewrite& rewrite, int oldFd) {
    size_t size = 0;
    HeapText now = readWhole(rewrite, oldFd, size);
    FileDescriptor current(open(rewrite.target, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!current.valid() || fstat(current.get(), &info) != 0) {
        failWriting(rewrite.path, errno);
    }
    // The file there now is the one this run has just written.
    const Rewrite back{rewrite.path, rewrite.target, now.get(), size,
                       Expected{rewrite.content, rewrite.length, stateOf(info)}};
    const ExistingFile file{current.get(), &info};
    if (replaceAtomically(back, &file) != Replacement::Done) {
        ombrex_cli_failChangingLdSoPreload(rewrite.path);
    }
}

// A program that opened the old file before it was replaced may still write to it, where no
// one will read it: waits until no other program has it open, then looks whether it changed.
bool keptAsRead(const Rewrite& rewrite, int oldFd) {
    if (leaseWhenAlone(oldFd)) {
        releaseLease(oldFd);
    }
    struct stat info {};
    return fstat(oldFd, &info) == 0 && sameState(info, rewrite.expected.state, false) &&
           sameBytes(oldFd, rewrite.expected.bytes, rewrite.expected.size);
}

// Puts the old bytes back from the first one that may have changed, then reports the error
// that stopped the rewrite.
[[noreturn]] void restoreAndFail(const Rewrite& rewrite, int fd, size_t from, int savedErrno) {
    const Expected& old = rewrite.expected;
    // Whether this works or not, the error to report is the one that stopped the rewrite.
    bool restored = writeAt(fd, old.bytes + from, old.size - from, from) &&
                    ftruncate(fd, static_cast<off_t>(old.size)) == 0 && fsync(fd) == 0;
    (void)restored;
    failWriting(rewrite.path, savedErrno);
}

// Makes room for a longer content before any byte of the old one changes: the blocks are
// reserved beyond the old end, or, where the file system cannot reserve, the new bytes
// beyond the old end are written first and taken away again when that fails. Returns where
// the bytes still to be written end.
size_t reserve(const Rewrite& rewrite, int fd, size_t from) {
    size_t oldSize = rewrite.expected.size;
    if (fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(oldSize),
                  static_cast<off_t>(rewrite.length - oldSize)) == 0) {
        return rewrite.length;
    }
    if (errno != EOPNOTSUPP && errno != ENOSYS) {
        failWriting(rewrite.path, errno);
    }
    size_t beyond = from > oldSize ? from : oldSize;
    if (!writeAt(fd, rewrite.content + beyond, rewrite.length - beyond, beyond)) {
        restoreAndFail(rewrite, fd, beyond, errno);
    }
    return beyond;
}

size_t commonPrefix(const char* a, size_t aLength, const char* b, size_t bLength) {
    size_t length = 0;
    while (length < aLength && length < bLength && a[length] == b[length]) {
        ++length;
    }
    return length;
}

// The fallback for a regular file that cannot be replaced. Only the bytes from the first
// that differs are written, so that enable only appends; a shorter content is cut last. A
// failure at any point puts the old content back before it is reported.
void overwrite(const Rewrite& rewrite, int fd) {
    const Expected& old = rewrite.expected;
    size_t from = commonPrefix(old.bytes, old.size, rewrite.content, rewrite.length);
    size_t until = rewrite.length > old.size ? reserve(rewrite, fd, from) : rewrite.length;
    if (!writeAt(fd, rewrite.content + from, until - from, from) ||
        (rewrite.length < old.size && ftruncate(fd, static_cast<off_t>(rewrite.length)) != 0) ||
        fsync(fd) != 0) {
        restoreAndFail(rewrite, fd, from, errno);
    }
}

// Rewrites the file in place, unless it changed since it was read. A write lease, where the
// system grants one, keeps other programs from opening the file until it is whole again.
bool writeInPlace(const Rewrite& rewrite, FileDescriptor& fd) {
    bool leased = leaseWhenAlone(fd.get());
    if (!stillAsRead(rewrite, fd.get())) {
        if (leased) {
            releaseLease(fd.get());
        }
        return false;
    }
    overwrite(rewrite, fd.get());
    if (leased) {
        releaseLease(fd.get());
    }
    if (fd.close() != 0) {
        failWriting(rewrite.path, errno);
    }
    return true;
}

// A device is written the way it always was, read-write and without truncating it.
bool writeToDevice(const Rewrite& rewrite) {
    FileDescriptor fd(open(rewrite.target, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        failOpenForWriting(rewrite.path, errno);
    }
    if (!writeAll(fd.get(), rewrite.content, rewrite.length) || fd.close() != 0) {
        failWriting(rewrite.path, errno);
    }
    return true;
}

bool replaceRegularFile(const Rewrite& rewrite) {
    FileDescriptor existing(open(rewrite.target, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!existing.valid() || fstat(existing.get(), &info) != 0) {
        failOpenForWriting(rewrite.path, errno);
    }
    const ExistingFile file{existing.get(), &info};
    switch (replaceAtomically(rewrite, &file)) {
    case Replacement::Done:
        if (keptAsRead(rewrite, existing.get())) {
            return true;
        }
        putBack(rewrite, existing.get());
        return false;
    case Replacement::Changed:
        return false;
    case Replacement::WriteInPlace:
        break;
    }
    return writeInPlace(rewrite, existing);
}

PreloadContent readFrom(const char* path) {
    // Without blocking: opening a FIFO for reading would wait for a writer.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            failReading(path, errno);
        }
        return emptyContent(path);
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        failReading(path, errno);
    }
    // Nothing can be read whole from a FIFO or a socket: the size query would fail to seek.
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        failReading(path, ESPIPE);
    }
    FILE* fh = fdopen(fd, "r");
    if (fh == nullptr) {
        failReading(path, errno);
    }
    size_t size = sizeOf(fh, path, info);
    std::fseek(fh, 0, SEEK_SET);
    char* text = static_cast<char*>(std::malloc(size + 1));
    if (text == nullptr) {
        failAllocation(path);
    }
    if (size != 0 && std::fread(text, 1, size, fh) != size) {
        ombrex_cli_printDiagValue("ld.so.preload path", path);
        ombrex_cli_fatal("Unable to read the whole content of the file.");
    }
    text[size] = '\0';
    std::fclose(fh);
    ldSoPreloadPathInUse = path;
    return {text, size, stateOf(info)};
}

} // namespace

bool ombrex_cli_containsNul(const PreloadContent& content) {
    return std::strlen(content.text) != content.size;
}

void ombrex_cli_failChangingLdSoPreload(const char* path) {
    ombrex_cli_printDiagValue("ld.so.preload path", path);
    ombrex_cli_fatal("Unable to rewrite the ld.so.preload file: another program kept changing it.");
}

PreloadContent ombrex_cli_readLdSoPreload() {
    return readFrom(ombrex_cli_getLdSoPreloadPath());
}

PreloadContent ombrex_cli_readLdSoPreloadToChange() {
    const char* path = ombrex_cli_getLdSoPreloadPath();
    // An empty path names no file, and nothing beside it.
    if (*path != '\0') {
        ombrex_cli_lockLdSoPreload(path);
    }
    return readFrom(path);
}

bool ombrex_cli_writeLdSoPreload(const PreloadContent& read, const char* content) {
    const char* path = ombrex_cli_getLdSoPreloadPath();
    size_t length = std::strlen(content);
    // An empty path names neither a file nor a directory to put a new file in.
    if (*path == '\0') {
        failOpenForWriting(path, ENOENT);
    }
    HeapText target = resolveFinalLinks(path);
    if (!target) {
        failOpenForWriting(path, errno);
    }
    holdInterruptions();
    const Rewrite rewrite{path, target.get(), content, length,
                          Expected{read.text, read.size, read.file}};
    struct stat info {};
    if (stat(target.get(), &info) != 0) {
        if (errno != ENOENT) {
            failOpenForWriting(path, errno);
        }
        // A file that went away since it was read is a change too.
        if (read.file.exists) {
            return false;
        }
        return replaceAtomically(rewrite, nullptr) == Replacement::Done;
    }
    if (!read.file.exists || info.st_dev != read.file.device || info.st_ino != read.file.inode) {
        return false;
    }
    return S_ISREG(info.st_mode) ? replaceRegularFile(rewrite) : writeToDevice(rewrite);
}
