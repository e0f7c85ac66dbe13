#include "cli/actions/actions.h"
#include "cli/actions/shared.h"
#include "cli/messages.h"
#include "preload/decisions.h"
#include "preload/locations.h"
#include "preload/store.h"

int ombrex_cli_action_disable() {
    // The library file need not exist: its entry can be removed all the same.
    const char* libraryPath = ombrex_cli_getLibOmbrexSoPath();
    PreloadContent content = ombrex_cli_readLdSoPreloadToChange();
    DisablePlan plan{};
    for (int attempt = 1;; ++attempt) {
        // An empty library path has no entry, so it ends in the already-absent notice.
        plan = ombrex_cli_planDisable(content.text, libraryPath);
        switch (plan.outcome) {
        case DisableOutcome::Duplicate:
            ombrex_cli_printDiagValue("Search string", libraryFileName);
            ombrex_cli_printDiagValue("ld.so.preload path", ldSoPreloadPathInUse);
            ombrex_cli_fatal("Duplicate libombrex.so entry encountered");
        case DisableOutcome::AlreadyAbsent:
            return ombrex_cli_leaveUnchanged(
                content, "libombrex.so path", libraryPath,
                "Ombrex library is already absent from the ld.so.preload file.");
        case DisableOutcome::NoMemory:
            ombrex_cli_failNewContentAllocation();
        case DisableOutcome::Write:
            break;
        }
        if (ombrex_cli_rewrite(content, plan.newContent, attempt)) {
            break;
        }
    }

    ombrex_cli_printLine("[SUCCESS] Ombrex has been removed from /etc/ld.so.preload.");
    ombrex_cli_printInfo(
        "Existing processes may still have Ombrex enabled until they are restarted.");
    if (plan.referenceRemains) {
        ombrex_cli_printReferenceDiagnostics();
        ombrex_cli_printWarning("Another Ombrex instance found in ld.so.preload file.");
    }
    return 0;
}
