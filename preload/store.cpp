#include "preload/store.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "cli/messages.h"
#include "preload/locations.h"

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
    return {empty, 0};
}

// The size of the open file, from its end offset.
size_t sizeOf(FILE* fh, const char* path) {
    // A directory opens for reading, and its end offset can be any number: say what it is
    // rather than misjudge its size.
    struct stat info {};
    if (fstat(fileno(fh), &info) == 0 && S_ISDIR(info.st_mode)) {
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

// One write of the preload file: the path as resolved (named in the messages), the file at the
// end of its links (the one replaced), and the new content.
struct Rewrite {
    const char* path;
    const char* target;
    const char* content;
    size_t length;
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

enum class Replacement { Done, WriteInPlace };

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

// Writes the content to the temporary file and renames it over target, each step on disk
// before the next.
Replacement commit(const Rewrite& rewrite, const ExistingFile* existing, TemporaryFile& temp) {
    if (!writeAll(temp.fd.get(), rewrite.content, rewrite.length) || fsync(temp.fd.get()) != 0 ||
        temp.fd.close() != 0) {
        discardAndFail(rewrite, temp, errno);
    }
    if (rename(temp.path.get(), rewrite.target) != 0) {
        int savedErrno = errno;
        // A file mounted over the path (a bind mount, as containers use) cannot be replaced,
        // only rewritten.
        if (existing != nullptr && savedErrno == EBUSY) {
            unlink(temp.path.get());
            return Replacement::WriteInPlace;
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

// The fallback for files that cannot be replaced: devices, FIFOs, and files whose directory
// is not writable or whose owner cannot be kept. Every error is still caught.
void writeInPlace(const Rewrite& rewrite, FileDescriptor& fd, bool regular) {
    if (regular && ftruncate(fd.get(), 0) != 0) {
        failWriting(rewrite.path, errno);
    }
    if (!writeAll(fd.get(), rewrite.content, rewrite.length) || (regular && fsync(fd.get()) != 0) ||
        fd.close() != 0) {
        failWriting(rewrite.path, errno);
    }
}

} // namespace

bool ombrex_cli_containsNul(const PreloadContent& content) {
    return std::strlen(content.text) != content.size;
}

PreloadContent ombrex_cli_readLdSoPreload() {
    const char* path = ombrex_cli_getLdSoPreloadPath();
    FILE* fh = std::fopen(path, "re");
    if (fh == nullptr) {
        if (errno != ENOENT) {
            failReading(path, errno);
        }
        return emptyContent(path);
    }
    size_t size = sizeOf(fh, path);
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
    return {text, size};
}

void ombrex_cli_writeLdSoPreload(const char* content) {
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

    const Rewrite rewrite{path, target.get(), content, length};
    struct stat info {};
    if (stat(target.get(), &info) != 0) {
        if (errno != ENOENT) {
            failOpenForWriting(path, errno);
        }
        replaceAtomically(rewrite, nullptr);
        return;
    }

    bool regular = S_ISREG(info.st_mode);
    // A device or FIFO is never replaced; it is opened the way it always was, read-write,
    // and without blocking on a FIFO that nobody reads.
    int flags = regular ? O_WRONLY : O_RDWR | O_NONBLOCK;
    FileDescriptor existing(open(target.get(), flags | O_CLOEXEC | O_NOCTTY));
    if (!existing.valid()) {
        failOpenForWriting(path, errno);
    }
    ExistingFile existingFile{existing.get(), &info};
    if (regular && replaceAtomically(rewrite, &existingFile) == Replacement::Done) {
        return;
    }
    writeInPlace(rewrite, existing, regular);
}
