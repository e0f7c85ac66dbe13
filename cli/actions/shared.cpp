#include "cli/actions/shared.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/messages.h"
#include "preload/locations.h"

int ombrex_cli_leaveUnchanged(const PreloadContent& content, const char* label, const char* value,
                              const char* notice) {
    std::free(content.text);
    ombrex_cli_printDiagValue("ld.so.preload path", ldSoPreloadPathInUse);
    ombrex_cli_printDiagValue(label, value);
    ombrex_cli_printNotice(notice);
    return 0;
}

namespace {

// Another writer's change makes a run start again from it; one that changes the file
// faster than a run can look ends the run after this many attempts.
constexpr int rewriteAttempts = 8;

} // namespace

bool ombrex_cli_rewrite(PreloadContent& content, char* newContent, int attempt) {
    if (ombrex_cli_containsNul(content)) {
        ombrex_cli_printDiagValue("ld.so.preload path", ldSoPreloadPathInUse);
        ombrex_cli_fatal("Refusing to rewrite the ld.so.preload file: it contains a NUL byte.");
    }
    bool written = ombrex_cli_writeLdSoPreload(content, newContent);
    std::free(content.text);
    std::free(newContent);
    if (written) {
        return true;
    }
    if (attempt >= rewriteAttempts) {
        ombrex_cli_failChangingLdSoPreload(ldSoPreloadPathInUse);
    }
    content = ombrex_cli_readLdSoPreloadToChange();
    return false;
}

void ombrex_cli_failNewContentAllocation() {
    int savedErrno = errno;
    ombrex_cli_printDiagValue("ld.so.preload path", ldSoPreloadPathInUse);
    ombrex_cli_printDiagValue("Error message", std::strerror(savedErrno));
    ombrex_cli_fatal("Unable to malloc() for the new ld.so.preload content.");
}

void ombrex_cli_printReferenceDiagnostics() {
    ombrex_cli_printDiagValue("ld.so.preload path", ldSoPreloadPathInUse);
    ombrex_cli_printDiagValue("Search string", libraryFileName);
}
