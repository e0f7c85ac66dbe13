#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/actions/actions.h"
#include "cli/actions/shared.h"
#include "cli/messages.h"
#include "preload/decisions.h"
#include "preload/exposure.h"
#include "preload/locations.h"
#include "preload/store.h"

namespace {

[[noreturn]] void refuseLibraryPath(const char* libraryPath, const char* reason) {
    ombrex_cli_printDiagValue("libombrex.so path", libraryPath);
    ombrex_cli_fatal(reason);
}

// The dynamic linker must read the path back as exactly one entry, and as the same file in
// every program.
void refuseEntryTheLoaderWouldMisread(const char* libraryPath) {
    // A relative entry is looked up from each program's working directory: whoever starts a
    // set-user-ID program from a directory of their own would choose the code it runs.
    if (libraryPath[0] != '/') {
        refuseLibraryPath(libraryPath, "The libombrex.so path must be absolute.");
    }
    // The loader splits entries at these and ends them at a comment, so it would read other,
    // shorter paths, relative ones among them.
    if (std::strpbrk(libraryPath, " \t:#") != nullptr) {
        refuseLibraryPath(libraryPath,
                          "The libombrex.so path must not contain blanks, tabs, ':' or '#'.");
    }
    // The entry must be one line of the file: a path holding an LF would add several lines
    // that no later disable could take back.
    if (std::strchr(libraryPath, '\n') != nullptr) {
        refuseLibraryPath(libraryPath, "The libombrex.so path must not contain a line feed.");
    }
}

} // namespace

int ombrex_cli_action_enable() {
    const char* libraryPath = ombrex_cli_getReadableLibOmbrexSoPath();
    ombrex_cli_warnAboutLibraryFile(libraryPath);
    ombrex_cli_warnAboutPathToLibrary(libraryPath);
    if (access(libraryPath, F_OK) != 0) {
        ombrex_cli_printDiagValue("libombrex.so path", libraryPath);
        ombrex_cli_fatal("File not found");
    }
    if (access(libraryPath, R_OK) != 0) {
        ombrex_cli_printDiagValue("libombrex.so path", libraryPath);
        ombrex_cli_fatal("File not readable");
    }
    // The dynamic linker can preload only a file: a directory listed in the preload file
    // would make every program on the system start with a loader error.
    struct stat info {};
    if (stat(libraryPath, &info) != 0 || !S_ISREG(info.st_mode)) {
        ombrex_cli_printDiagValue("libombrex.so path", libraryPath);
        ombrex_cli_fatal("File is not a regular file");
    }
    refuseEntryTheLoaderWouldMisread(libraryPath);

    PreloadContent content = ombrex_cli_readLdSoPreloadToChange();
    for (int attempt = 1;; ++attempt) {
        EnablePlan plan = ombrex_cli_planEnable(content.text, libraryPath);
        switch (plan.outcome) {
        case EnableOutcome::AlreadyEnabled:
            return ombrex_cli_leaveUnchanged(content, "Search string", libraryPath,
                                             "Ombrex is already enabled in /etc/ld.so.preload.");
        case EnableOutcome::AnotherInstance:
            ombrex_cli_printReferenceDiagnostics();
            ombrex_cli_fatal("Another Ombrex instance encountered.");
        case EnableOutcome::NoMemory:
            ombrex_cli_failNewContentAllocation();
        case EnableOutcome::Write:
            break;
        }
        if (ombrex_cli_rewrite(content, plan.newContent, attempt)) {
            break;
        }
    }
    ombrex_cli_printDiagValue("ld.so.preload path", ldSoPreloadPathInUse);
    ombrex_cli_printDiagValue("Ombrex library path", libraryPath);
    ombrex_cli_printLine("SUCCESS: Ombrex has been enabled.");
    return 0;
}
