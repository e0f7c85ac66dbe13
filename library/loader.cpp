#include "library/loader.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>

#include "cli/messages.h"
#include "preload/locations.h"

const char* libraryPathInUse = nullptr;
void* libraryHandle = nullptr;

namespace {

// dlopen() opens the file for reading and would wait forever on a FIFO with no writer; a
// library is only ever a file, so anything that may block on open is never opened.
bool mayBlockOnOpen(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

// dlopen searches the library path for a name without a slash, which access() took for a
// file in the working directory: the name of that very file, kept in local when it needs
// one. Null when it does not fit.
const char* asFileName(const char* path, char (&local)[PATH_MAX + 2]) {
    if (std::strchr(path, '/') != nullptr) {
        return path;
    }
    // access() accepted the name, so the kernel found it shorter than PATH_MAX.
    if (std::snprintf(local, sizeof local, "./%s", path) >= static_cast<int>(sizeof local)) {
        return nullptr;
    }
    return local;
}

} // namespace

void ombrex_cli_loadLibrary() {
    const char* path = ombrex_cli_getReadableLibOmbrexSoPath();
    if (mayBlockOnOpen(path)) {
        ombrex_cli_printDiagValue("libombrex.so path", path);
        ombrex_cli_fatal("Unable to access libombrex.so file");
    }
    libraryPathInUse = path;
    char local[PATH_MAX + 2];
    const char* file = asFileName(path, local);
    if (file == nullptr) {
        ombrex_cli_printErrorValue("Dynamic linker error message", std::strerror(ENAMETOOLONG));
        ombrex_cli_fatal("Unable to load shared library");
    }
    libraryHandle = dlopen(file, RTLD_LAZY);
    // Fetched whatever the outcome, which also clears any older error text.
    const char* error = dlerror();
    if (libraryHandle == nullptr) {
        ombrex_cli_printErrorValue("Dynamic linker error message", error != nullptr ? error : "");
        ombrex_cli_fatal("Unable to load shared library");
    }
}

void* ombrex_cli_openLibraryQuietly(const char* path) {
    char local[PATH_MAX + 2];
    const char* file = asFileName(path, local);
    if (file == nullptr || mayBlockOnOpen(file)) {
        return nullptr;
    }
    void* handle = dlopen(file, RTLD_LAZY);
    dlerror();
    return handle;
}

void* ombrex_cli_getSymbol(const char* name) {
    void* address = dlsym(libraryHandle, name);
    // A symbol may legitimately be null: only the error text tells failure.
    const char* error = dlerror();
    if (error != nullptr) {
        ombrex_cli_printDiagValue("libombrex.so path", libraryPathInUse);
        ombrex_cli_fatal(error);
    }
    return address;
}
