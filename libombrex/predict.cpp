#include "libombrex/predict.h"

#include <errno.h>

#include "libombrex/bytes.h"
#include "libombrex/sys.h"

extern "C" {
extern char** environ;
}

namespace ombrex {

namespace {

// The C library's search path when PATH is not set.
constexpr char defaultSearchPath[] = "/bin:/usr/bin";
constexpr size_t nameMax = 255; // NAME_MAX

// PATH as the C library's getenv reads it: the first such entry of the process's environment.
const char* pathVariable() {
    char** const entries = environ;
    for (size_t i = 0; entries != nullptr && entries[i] != nullptr; ++i) {
        const char* e = entries[i];
        if (e[0] == 'P' && e[1] == 'A' && e[2] == 'T' && e[3] == 'H' && e[4] == '=') {
            return e + 5;
        }
    }
    return defaultSearchPath;
}

// The error that an exec of the file is expected to end in, or 0 when it is expected to run:
// the error of looking the file up (the kernel walks the same path with the same rights),
// EACCES for a file that is not a regular one or that the effective ids may not execute
// (ELOOP for a link that is not to be followed). Anything short of a clear no, a kernel
// without faccessat2 included, is no reason to doubt. The status read on the way is kept,
// and space.identified says whether there is one.
int expectedError(int dirfd, const char* path, int flags, SearchSpace& space) {
    space.identified = false;
    if (path == nullptr) {
        return EFAULT;
    }
    const int lookup = flags & (sys::noFollow | sys::emptyPath);
    const long found = sys::statAt(dirfd, path, &space.status, lookup);
    if (sys::failed(found)) {
        return static_cast<int>(-found);
    }
    space.identified = true;
    if (S_ISLNK(space.status.st_mode)) {
        return ELOOP;
    }
    if (!S_ISREG(space.status.st_mode)) {
        return EACCES;
    }
    return sys::mayExecute(dirfd, path, lookup) == -EACCES ? EACCES : 0;
}

Prediction directPrediction(int error) {
    switch (error) {
    case 0:
        return Prediction::Runs;
    case ENOENT:
    case ENOTDIR:
    case EBADF:
    case EFAULT:
        return Prediction::Absent;
    case EACCES:
    case ELOOP:
    case ENAMETOOLONG:
        return Prediction::Refused;
    default:
        return Prediction::Runs; // unsure
    }
}

bool hasSlash(const char* text) {
    for (; *text != 0; ++text) {
        if (*text == '/') {
            return true;
        }
    }
    return false;
}

// The length of text, or limit + 1 when it is longer than limit.
size_t lengthUpTo(const char* text, size_t limit) {
    size_t length = 0;
    while (length <= limit && text[length] != 0) {
        ++length;
    }
    return length;
}

// The C library's candidate: the directory, a slash (none after an empty directory, which is
// the working directory) and the name. False when it is too long for any path.
bool candidate(char* out, const char* directory, size_t directoryLength, const char* name,
               size_t nameLength) {
    const size_t slash = directoryLength > 0 ? 1 : 0;
    if (directoryLength + slash + nameLength >= PATH_MAX) {
        return false;
    }
    copyBytes(out, directory, directoryLength);
    if (slash != 0) {
        out[directoryLength] = '/';
    }
    copyBytes(out + directoryLength + slash, name, nameLength);
    out[directoryLength + slash + nameLength] = 0;
    return true;
}

// A search along PATH under way: the name, and the first candidate refused with EACCES.
struct PathSearch {
    const char* name;
    size_t nameLength;
    const char* denied; // its directory; null while there is none
    size_t deniedLength;
};

// One directory of PATH, tried as the C library tries it. True when the candidate settles the
// search, with its outcome: expected to run, or an error that ends the search. A candidate
// that is not there is passed over; the first one refused with EACCES is remembered.
bool settles(PathSearch& search, const char* directory, size_t length, SearchSpace& space,
             Prediction& outcome) {
    if (!candidate(space.found, directory, length, search.name, search.nameLength)) {
        space.found[0] = 0;
        space.identified = false;
        outcome = Prediction::Refused; // ENAMETOOLONG ends the search
        return true;
    }
    switch (expectedError(sys::currentDirectory, space.found, 0, space)) {
    case ENOENT:
    case ESTALE:
    case ENOTDIR:
    case ENODEV:
    case ETIMEDOUT:
        return false;
    case EACCES:
        if (search.denied == nullptr) {
            search.denied = directory;
            search.deniedLength = length;
            space.deniedStatus = space.status;
            space.deniedIdentified = space.identified;
        }
        return false;
    case ELOOP:
    case ENAMETOOLONG:
        outcome = Prediction::Refused;
        return true;
    default:
        outcome = Prediction::Runs; // 0, or unsure
        return true;
    }
}

// The C library's execvpe: a name with a slash is not searched; otherwise each directory of
// PATH in turn (see settles). The first candidate refused gives the call its error if
// nothing later runs. A file that the kernel cannot load runs under /bin/sh for execvp and
// the like, and fails posix_spawnp: expected to run either way.
//
// A directory as long as PATH's length (counted up to PATH_MAX - 1) plus one or longer cannot
// fit the C library's buffer: it is passed over without moving past the ':' after it, so the
// next round finds an empty directory there and tries the working directory in its place.
// When it is the last one, the search ends; when it is all of PATH, before trying anything.
Prediction searchAlongPath(const char* name, SearchSpace& space) {
    space.found[0] = 0;
    space.identified = false;
    if (name == nullptr || name[0] == 0) {
        return Prediction::Absent;
    }
    if (hasSlash(name)) {
        if (!candidate(space.found, "", 0, name, lengthUpTo(name, PATH_MAX))) {
            return Prediction::Refused; // ENAMETOOLONG
        }
        return directPrediction(expectedError(sys::currentDirectory, name, 0, space));
    }
    PathSearch search{name, lengthUpTo(name, nameMax), nullptr, 0};
    if (search.nameLength > nameMax) {
        return Prediction::Refused; // ENAMETOOLONG, before any directory is tried
    }
    const char* const path = pathVariable();
    const size_t pathLength = lengthUpTo(path, PATH_MAX - 1);
    const size_t tooLong = (pathLength < PATH_MAX - 1 ? pathLength : PATH_MAX - 1) + 1;
    for (const char* p = path;;) {
        const char* end = p;
        while (*end != 0 && *end != ':') {
            ++end;
        }
        const auto length = static_cast<size_t>(end - p);
        Prediction outcome = Prediction::Runs;
        if (length < tooLong && settles(search, p, length, space, outcome)) {
            return outcome;
        }
        if (*end == 0) {
            break;
        }
        p = length < tooLong ? end + 1 : end;
    }
    space.found[0] = 0;
    space.identified = false;
    if (search.denied == nullptr) {
        return Prediction::Absent;
    }
    candidate(space.found, search.denied, search.deniedLength, name, search.nameLength);
    space.status = space.deniedStatus;
    space.identified = space.deniedIdentified;
    return Prediction::Refused;
}

} // namespace

Prediction predictExec(const ExecEvent& event, SearchSpace& space) {
    if (event.search != Search::None) {
        return searchAlongPath(event.file, space);
    }
    space.found[0] = 0;
    return directPrediction(expectedError(event.dirfd, event.file, event.flags, space));
}

void identifyFile(const ExecEvent& event, SearchSpace& space) {
    space.found[0] = 0;
    const int lookup = event.flags & (sys::noFollow | sys::emptyPath);
    space.identified = event.file != nullptr &&
                       !sys::failed(sys::statAt(event.dirfd, event.file, &space.status, lookup));
}

} // namespace ombrex
