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

void ombrex_cli_rewrite(const PreloadContent& content, char* newContent) {
    if (ombrex_cli_containsNul(content)) {
        ombrex_cli_printDiagValue("ld.so.preload path", ldSoPreloadPathInUse);
        ombrex_cli_fatal("Refusing to rewrite the ld.so.preload file: it contains a NUL byte.");
    }
    ombrex_cli_writeLdSoPreload(newContent);
    std::free(content.text);
    std::free(newContent);
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
