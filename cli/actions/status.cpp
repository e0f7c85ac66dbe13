#include "cli/actions/status.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>

#include "cli/actions/actions.h"
#include "cli/actions/delivery.h"
#include "cli/actions/shared.h"
#include "cli/messages.h"
#include "preload/decisions.h"
#include "preload/exposure.h"
#include "preload/locations.h"
#include "preload/store.h"

int32_t loadedObjectCounter = 0;

namespace {

// True when the first occurrence of suffix in name ends exactly where name ends.
bool firstOccurrenceEndsName(const char* name, const char* suffix) {
    const char* at = std::strstr(name, suffix);
    return at != nullptr && at[std::strlen(suffix)] == '\0';
}

void reportPreloadFile(const char* libraryPath) {
    PreloadContent content = ombrex_cli_readLdSoPreload();
    PreloadVerdict verdict = ombrex_cli_judgePreloadContent(content.text, libraryPath);
    switch (verdict) {
    case PreloadVerdict::Multiple:
        ombrex_cli_printReferenceDiagnostics();
        ombrex_cli_fatal("Multiple Ombrex references found, aborting.");
    case PreloadVerdict::NotEnabled:
        ombrex_cli_printLine("/etc/ld.so.preload:            NOT OK - Ombrex is not enabled.");
        break;
    case PreloadVerdict::Enabled:
        ombrex_cli_printLine("/etc/ld.so.preload:            OK - Ombrex is enabled.");
        break;
    case PreloadVerdict::ForeignEntry:
        ombrex_cli_printLine("/etc/ld.so.preload:            NOT OK - 'libombrex.so' found, but "
                             "not with the expected path - is another Ombrex instance enabled?");
        break;
    }
    std::free(content.text);
}

void reportEnvironment() {
    const char* value = std::getenv("LD_PRELOAD");
    if (value == nullptr) {
        ombrex_cli_printLine("LD_PRELOAD environment var:    NOT OK - Not set.");
    } else if (std::strstr(value, libraryFileName) != nullptr) {
        ombrex_cli_printLine("LD_PRELOAD environment var:    OK - Ombrex reference found.");
    } else {
        ombrex_cli_printLine(
            "LD_PRELOAD environment var:    NOT SET - Set, but no Ombrex reference found.");
    }
}

void reportLoadOrder() {
    LoadedObjectPositions positions{0, 0};
    dl_iterate_phdr(ombrex_cli_findLoadedObjects, &positions);
    switch (ombrex_cli_judgeLoadOrder(positions)) {
    case LoadOrderVerdict::NoLibc:
        ombrex_cli_printWarning("Current process (shared libs): Unable to find libc.so.6");
        break;
    case LoadOrderVerdict::NotLoaded:
        ombrex_cli_printLine(
            "Current process (shared libs): NOT OK - Unable to find libombrex.so.");
        break;
    case LoadOrderVerdict::LoadedAfter:
        ombrex_cli_printLine(
            "Current process (shared libs): NOT OK - libombrex.so is loaded _after_ libc.so.6.");
        break;
    case LoadOrderVerdict::LoadedInFront:
        ombrex_cli_printLine("Current process (shared libs): OK - libombrex.so is loaded in "
                             "front of libc.so.6.");
        break;
    }
}

void reportExecveInterposition() {
    void* libc = dlopen("libc.so.6", RTLD_LAZY);
    if (libc == nullptr) {
        // A null handle would make dlsym search the global scope: nothing to compare with.
        const char* reason = dlerror();
        std::printf("Current process (execve addr): NOT OK - Unable to open libc.so.6: %s\n",
                    reason != nullptr ? reason : "unknown error");
        return;
    }
    void* global = dlsym(RTLD_DEFAULT, "execve");
    void* own = dlsym(libc, "execve");
    if (global == own) {
        ombrex_cli_printLine("Current process (execve addr): NOT OK - execve() symbol not "
                             "overloaded, Ombrex is not loaded.");
    } else {
        ombrex_cli_printLine("Current process (execve addr): OK - execve() symbol address "
                             "changed, looks like Ombrex is loaded.");
    }
    dlclose(libc);
}

} // namespace

void ombrex_cli_noteLoadedObject(LoadedObjectPositions& positions, int32_t position,
                                 const char* name) {
    if (name == nullptr) {
        return;
    }
    if (firstOccurrenceEndsName(name, "/libombrex.so")) {
        positions.ombrex = position;
    }
    if (firstOccurrenceEndsName(name, "/libc.so.6")) {
        positions.libc = position;
    }
}

LoadOrderVerdict ombrex_cli_judgeLoadOrder(const LoadedObjectPositions& positions) {
    if (positions.libc == 0) {
        return LoadOrderVerdict::NoLibc;
    }
    if (positions.ombrex == 0) {
        return LoadOrderVerdict::NotLoaded;
    }
    return positions.ombrex >= positions.libc ? LoadOrderVerdict::LoadedAfter
                                              : LoadOrderVerdict::LoadedInFront;
}

int ombrex_cli_findLoadedObjects(struct dl_phdr_info* info, size_t /*size*/, void* data) {
    ++loadedObjectCounter;
    ombrex_cli_noteLoadedObject(*static_cast<LoadedObjectPositions*>(data), loadedObjectCounter,
                                info->dlpi_name);
    return 0;
}

int ombrex_cli_action_status() {
    const char* libraryPath = ombrex_cli_getReadableLibOmbrexSoPath();
    ombrex_cli_warnAboutLibraryFile(libraryPath);
    ombrex_cli_warnAboutPathToLibrary(libraryPath);
    reportPreloadFile(libraryPath);
    reportEnvironment();
    reportLoadOrder();
    reportExecveInterposition();
    // Last: loading the library earlier would change what checks 3 and 4 find.
    ombrex_cli_warnIfUndeliverable(libraryPath);
    return 0;
}
