#include "preload/locations.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/messages.h"

#ifndef OMBREX_DEFAULT_LIBRARY_PATH
#define OMBREX_DEFAULT_LIBRARY_PATH "/usr/local/lib/libombrex.so"
#endif

namespace {

// A variable that is present counts as an override even when its value is empty; the
// warning is written on every resolution.
const char* resolve(const char* variable, const char* builtIn, const char* warningLabel) {
    const char* value = std::getenv(variable);
    if (value == nullptr) {
        return builtIn;
    }
    ombrex_cli_printWarningValue(warningLabel, value);
    return value;
}

} // namespace

const char* ombrex_cli_getLdSoPreloadPath() {
    return resolve(ldSoPreloadOverrideVariable, builtInLdSoPreloadPath,
                   "Using non-standard path to ld.so.preload");
}

const char* ombrex_cli_getLibOmbrexSoPath() {
    return resolve(libOmbrexSoOverrideVariable, OMBREX_DEFAULT_LIBRARY_PATH,
                   "Using non-default path to libombrex.so");
}

const char* ombrex_cli_getReadableLibOmbrexSoPath() {
    const char* path = ombrex_cli_getLibOmbrexSoPath();
    if (access(path, R_OK) != 0) {
        ombrex_cli_printDiagValue("libombrex.so path", path);
        ombrex_cli_fatal("Unable to access libombrex.so file");
    }
    return path;
}

void ombrex_cli_warnAboutLibraryFile(const char* libraryPath) {
    struct stat info {};
    if (stat(libraryPath, &info) != 0) {
        return;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        ombrex_cli_printWarningValue("libombrex.so file is writable by group or others",
                                     libraryPath);
    }
    // Its owner may change its mode and rewrite it, whatever the mode says now.
    if (info.st_uid != 0 && info.st_uid != getuid()) {
        ombrex_cli_printWarningValue("libombrex.so file is owned by another user", libraryPath);
    }
}
