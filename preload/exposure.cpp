#include "preload/exposure.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/messages.h"

namespace {

// As many symbolic links as the kernel follows on one path.
constexpr int maxLinks = 40;

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

// Where a walk stands: the directory reached so far, and what is left to resolve, which
// starts at rest inside pending.
struct WalkState {
    char current[PATH_MAX] = "/";
    char pending[2 * PATH_MAX];
    const char* rest = pending;
    int links = 0;
};

// Puts path into pending, made absolute from the working directory. False when it does not
// fit.
bool startWalk(WalkState& state, const char* path) {
    size_t offset = 0;
    if (path[0] != '/') {
        if (getcwd(state.pending, PATH_MAX) == nullptr) {
            return false;
        }
        offset = std::strlen(state.pending);
        state.pending[offset++] = '/';
    }
    if (offset + std::strlen(path) + 1 > sizeof state.pending) {
        return false;
    }
    std::strcpy(state.pending + offset, path);
    return true;
}

// Goes on from the link's target instead of the link. False where the walk ends.
bool followLink(WalkState& state, const char* link) {
    char target[PATH_MAX];
    ssize_t got = readlink(link, target, sizeof target - 1);
    if (++state.links > maxLinks || got <= 0) {
        return false;
    }
    target[got] = '\0';
    if (!replaceLink(state.pending, state.rest, target)) {
        return false;
    }
    state.rest = state.pending;
    if (target[0] == '/') {
        std::strcpy(state.current, "/");
    }
    return true;
}

// What the walk noted: the directories in which it looked a name up, and the symbolic links
// it followed.
struct Noted {
    Lookups directories;
    Lookups links;
};

// Looks the name up in the current directory, noting that directory, and moves on to what
// the name leads to. False where the walk ends.
bool lookUp(WalkState& state, const char* name, size_t length, Noted& noted) {
    char candidate[PATH_MAX];
    struct stat info {};
    if (!noted.directories.add(state.current) || !join(candidate, state.current, name, length) ||
        lstat(candidate, &info) != 0) {
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        return noted.links.add(candidate) && followLink(state, candidate);
    }
    if (!S_ISDIR(info.st_mode)) {
        return false;
    }
    std::strcpy(state.current, candidate);
    return true;
}

// Resolves path the way the kernel does when the loader opens it, following every symbolic
// link, and notes each directory in which a name is looked up: whoever can change one of them
// can put another file, or another link, in the library's place. That covers the directories
// that hold links as well as those the links lead to, which neither the path as written nor
// its resolved form shows alone. A relative path is resolved from the working directory and
// the directories above it. The walk ends where a name cannot be examined.
void walk(const char* path, Noted& noted) {
    WalkState state;
    if (!startWalk(state, path)) {
        return;
    }
    for (;;) {
        state.rest += std::strspn(state.rest, "/");
        if (*state.rest == '\0') {
            return;
        }
        const char* name = state.rest;
        size_t length = std::strcspn(state.rest, "/");
        state.rest += length;
        if (length == 1 && name[0] == '.') {
            continue;
        }
        if (length == 2 && name[0] == '.' && name[1] == '.') {
            toParent(state.current);
            continue;
        }
        if (!lookUp(state, name, length, noted)) {
            return;
        }
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

bool ombrex_cli_isLinkOpenToOthers(uid_t linkOwner, mode_t directoryMode, uid_t directoryOwner,
                                   uid_t user) {
    if (linkOwner == 0 || linkOwner == user) {
        return false;
    }
    // The owner of a link may remove it from a directory they may write to, sticky or not,
    // and put another in its place. Whether they are in the directory's group is not known
    // here: a directory that its group may write counts.
    bool ownerMayWrite = directoryOwner == linkOwner && (directoryMode & S_IWUSR) != 0;
    return ownerMayWrite || (directoryMode & (S_IWGRP | S_IWOTH)) != 0;
}

namespace {

// Calls judge for each distinct entry of what was noted, nearest first: backwards, each
// entry at its last place. For the directories of a path without links that is the
// library's directory, its parent, and so on up to "/".
template <typename Judge> void eachNearestFirst(const Lookups& noted, Judge judge) {
    for (const char* end = noted.end(); end > noted.begin();) {
        const char* entry = end - 1;
        while (entry > noted.begin() && entry[-1] != '\0') {
            --entry;
        }
        if (!appearsIn(end, noted.end(), entry)) {
            judge(entry);
        }
        end = entry;
    }
}

} // namespace

void ombrex_cli_warnAboutPathToLibrary(const char* libraryPath) {
    Noted noted;
    walk(libraryPath, noted);
    uid_t user = getuid();
    eachNearestFirst(noted.directories, [user](const char* directory) {
        struct stat info {};
        if (lstat(directory, &info) == 0 &&
            ombrex_cli_isDirectoryOpenToOthers(info.st_mode, info.st_uid, user)) {
            ombrex_cli_printWarningValue("A directory above libombrex.so is writable by others",
                                         directory);
        }
    });
    eachNearestFirst(noted.links, [user](const char* link) {
        char directory[PATH_MAX];
        std::strcpy(directory, link);
        toParent(directory);
        struct stat info {};
        struct stat directoryInfo {};
        if (lstat(link, &info) == 0 && lstat(directory, &directoryInfo) == 0 &&
            ombrex_cli_isLinkOpenToOthers(info.st_uid, directoryInfo.st_mode, directoryInfo.st_uid,
                                          user)) {
            ombrex_cli_printWarningValue(
                "A symbolic link on the way to libombrex.so is owned by another user", link);
        }
    });
}
