// Reading the preload file whole and replacing it whole.
#ifndef OMBREX_PRELOAD_STORE_H
#define OMBREX_PRELOAD_STORE_H

#include <cstddef>

// The preload path that the last read resolved; shown by the actions' diagnostics.
extern const char* ldSoPreloadPathInUse;

// The preload file's bytes as a heap text (NUL-terminated; the caller frees it) with the
// file's true byte count beside it: a NUL inside the file makes the text shorter than size.
struct PreloadContent {
    char* text;
    size_t size;
};

// True when the file held a NUL byte, so that text operations would not see all of it.
bool ombrex_cli_containsNul(const PreloadContent& content);

// A missing file reads as empty. Every failure ends the process.
PreloadContent ombrex_cli_readLdSoPreload();

// Replaces the file with content (a text without NUL bytes) so that a reader sees the old
// content or the new, never a mix. Every failure ends the process.
void ombrex_cli_writeLdSoPreload(const char* content);

#endif
