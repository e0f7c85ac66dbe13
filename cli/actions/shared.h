// What the actions share: the outcomes that leave the preload file alone, the rewrite, and
// the diagnostics before a finding about another reference to the library.
#ifndef OMBREX_CLI_ACTIONS_SHARED_H
#define OMBREX_CLI_ACTIONS_SHARED_H

#include "preload/store.h"

// An outcome that leaves the preload file as it is: releases the content, writes the
// diagnostic "ld.so.preload path", the diagnostic label with value, and the notice. Returns
// the action's result, 0.
int ombrex_cli_leaveUnchanged(const PreloadContent& content, const char* label, const char* value,
                              const char* notice);

// Writes newContent, built from content, as the preload file's new content, then releases
// both texts and returns true. When another program changed the file since content was read,
// content is read again and false returned, so that the action decides anew; the process
// ends when that happens on the last attempt. A file holding a NUL byte is never rewritten,
// since the content was rebuilt as text and would lose every byte after it: the process
// ends instead.
bool ombrex_cli_rewrite(PreloadContent& content, char* newContent, int attempt);

[[noreturn]] void ombrex_cli_failNewContentAllocation();

// The diagnostics "ld.so.preload path" and "Search string" with the library's file name.
void ombrex_cli_printReferenceDiagnostics();

#endif
