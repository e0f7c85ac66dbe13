#include "preload/exposure.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/messages.h"

namespace {

// As many symbolic links as the kernel follows on one path.
constexpr int kMaxLinks = 40;

// The directories in which the walk looked a name up, in that order: NUL-terminated texts one
// after the other in a growing heap block.
class Lookups {
  public:
    Lookups() = default;
    Lookups(const Lookups&) = delete;
    Lookups& operator=(const Lookups&) = delete;
    ~Lookups() {
        std::free(text_);
    }
    bool add(const char* directory) {
        size_t length = std::strlen(directory) + 1;
        if (used_ + length > capacity_) {
            size_t capacity = (capacity_ + length) * 2;
            char* grown = static_cast<char*>(std::realloc(text_, capacity));
            if (grown == nullptr) {
                return false;
            }
            text_ = grown;
            capacity_ = capacity;
        }
        std::memcpy(text_ + used_, directory, length);
        used_ += length;
        return true;
    }
    const char* begin() const {
        return text_;
    }
    const char* end() const {
        return text_ + used_;
    }

  private:
    char* text_ = nullptr;
    size_t used_ = 0;
    size_t capacity_ = 0;
};

// directory is "/" or a path without a final slash.
bool join(char (&out)[PATH_MAX], const char* directory, const char* name, size_t nameLength) {
    size_t directoryLength = std::strcmp(directory, "/") == 0 ? 0 : std::strlen(directory);
    if (directoryLength + 1 + nameLength + 1 > sizeof out) {
        return false;
    }
    std::memcpy(out, directory, directoryLength);
    out[directoryLength] = '/';
    std::memcpy(out + directoryLength + 1, name, nameLength);
    out[directoryLength + 1 + nameLength] = '\0';
    return true;
}

void toParent(char* directory) {
    char* slash = std::strrchr(directory, '/');
    slash[slash == directory ? 1 : 0] = '\0';
}

// Puts the link's target in place of the link at the front of what is left to resolve, which
// starts at rest inside pending.
bool replaceLink(char (&pending)[2 * PATH_MAX], const char* rest, const char* target) {
    size_t targetLength = std::strlen(target);
    size_t restLength = std::strlen(rest);
    if (targetLength + 1 + restLength + 1 > sizeof pending) {
        return false;
    }
    std::memmove(pending + targetLength + 1, rest, restLength + 1);
    std::memcpy(pending, target, targetLength);
    pending[targetLength] = '/';
    return true;
}

// Resolves path the way the kernel does when the loader opens it, following every symbolic
// link, and notes each directory in which a name is looked up: whoever can change one of them
// can put another file, or another link, in the library's place. That covers the directories
// that hold links as well as those the links lead to, which neither the path as written nor
// its resolved form shows alone. A relative path is resolved from the working directory and
// the directories above it. The walk ends where a name cannot be examined.
void walk(const char* path, Lookups& lookups) {
    char current[PATH_MAX] = "/";
    char pending[2 * PATH_MAX];
    size_t offset = 0;
    if (path[0] != '/') {
        if (getcwd(pending, PATH_MAX) == nullptr) {
            return;
        }
        offset = std::strlen(pending);
        pending[offset++] = '/';
    }
    if (offset + std::strlen(path) + 1 > sizeof pending) {
        return;
    }
    std::strcpy(pending + offset, path);

    int links = 0;
    const char* rest = pending;
    for (;;) {
        rest += std::strspn(rest, "/");
        if (*rest == '\0') {
            return;
        }
        const char* name = rest;
        size_t length = std::strcspn(rest, "/");
        rest += length;
        if (length == 1 && name[0] == '.') {
            continue;
        }
        if (length == 2 && name[0] == '.' && name[1] == '.') {
            toParent(current);
            continue;
        }
        char candidate[PATH_MAX];
        struct stat info {};
        if (!lookups.add(current) || !join(candidate, current, name, length) ||
            lstat(candidate, &info) != 0) {
            return;
        }
        if (S_ISLNK(info.st_mode)) {
            char target[PATH_MAX];
            ssize_t got = readlink(candidate, target, sizeof target - 1);
            if (++links > kMaxLinks || got <= 0) {
                return;
            }
            target[got] = '\0';
            if (!replaceLink(pending, rest, target)) {
                return;
            }
            rest = pending;
            if (target[0] == '/') {
                std::strcpy(current, "/");
            }
            continue;
        }
        if (!S_ISDIR(info.st_mode)) {
            return;
        }
        std::strcpy(current, candidate);
    }
}

bool appearsIn(const char* from, const char* to, const char* directory) {
    for (const char* entry = from; entry < to; entry += std::strlen(entry) + 1) {
        if (std::strcmp(entry, directory) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

bool ombrex_cli_isDirectoryOpenToOthers(mode_t mode, uid_t owner, uid_t user) {
    bool writable = (mode & (S_IWGRP | S_IWOTH)) != 0 && (mode & S_ISVTX) == 0;
    return writable || (owner != 0 && owner != user);
}

void ombrex_cli_warnAboutDirectoriesAboveLibrary(const char* libraryPath) {
    Lookups lookups;
    walk(libraryPath, lookups);
    uid_t user = getuid();
    // Nearest first: the walk's lookups backwards, each directory at its last lookup. For a
    // path without links that is the library's directory, its parent, and so on up to "/".
    for (const char* end = lookups.end(); end > lookups.begin();) {
        const char* entry = end - 1;
        while (entry > lookups.begin() && entry[-1] != '\0') {
            --entry;
        }
        struct stat info {};
        if (!appearsIn(end, lookups.end(), entry) && lstat(entry, &info) == 0 &&
            ombrex_cli_isDirectoryOpenToOthers(info.st_mode, info.st_uid, user)) {
            ombrex_cli_printWarningValue("A directory above libombrex.so is writable by others",
                                         entry);
        }
        end = entry;
    }
}
