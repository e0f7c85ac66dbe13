#include "cli/actions/shared.h"

#include <cerrno>
#include <cstring>

#include "cli/messages.h"

void ombrex_cli_refuseRewriteWithNul(const PreloadContent& content) {
    if (ombrex_cli_containsNul(content)) {
        ombrex_cli_printDiagValue("ld.so.preload path", ldSoPreloadPathInUse);
        ombrex_cli_fatal("Refusing to rewrite the ld.so.preload file: it contains a NUL byte.");
    }
}

void ombrex_cli_failNewContentAllocation() {
    int savedErrno = errno;
    ombrex_cli_printDiagValue("ld.so.preload path", ldSoPreloadPathInUse);
    ombrex_cli_printDiagValue("Error message", std::strerror(savedErrno));
    ombrex_cli_fatal("Unable to malloc() for the new ld.so.preload content.");
}
