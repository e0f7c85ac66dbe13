// Outcomes that the enable and disable actions share.
#ifndef OMBREX_CLI_ACTIONS_SHARED_H
#define OMBREX_CLI_ACTIONS_SHARED_H

#include "preload/store.h"

// Rebuilding the content as text would drop every byte after a NUL: such a file is never
// rewritten. Ends the process when content holds a NUL byte.
void ombrex_cli_refuseRewriteWithNul(const PreloadContent& content);

[[noreturn]] void ombrex_cli_failNewContentAllocation();

#endif
