#include <cstdio>

#include "cli/actions/actions.h"
#include "cli/messages.h"
#include "library/loader.h"
#include "library/ombrex.h"

int ombrex_cli_action_version() {
    ombrex_cli_loadLibrary();
    auto version =
        reinterpret_cast<OmbrexVersionFn>(ombrex_cli_getSymbol("ombrex_datasource_ombrex_version"));
    char buffer[255] = {};
    if (version(buffer, sizeof buffer, "") < 0) {
        ombrex_cli_fatal("Ombrex version datasource failed");
    }
    // A library that fills the whole buffer must not make the tool read past it.
    buffer[sizeof buffer - 1] = '\0';
    std::printf("Ombrex CLI tool version: %s\n", OMBREX_VERSION);
    std::printf("Ombrex library version:  %s (path: %s)\n", buffer, libraryPathInUse);
    return 0;
}
