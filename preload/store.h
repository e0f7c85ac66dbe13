// Reading the preload file whole and replacing it whole.
#ifndef OMBREX_PRELOAD_STORE_H
#define OMBREX_PRELOAD_STORE_H

#include <cstddef>
#include <ctime>
#include <sys/types.h>

// The preload path that the last read resolved; shown by the actions' diagnostics.
extern const char* ldSoPreloadPathInUse;

// What the path named when the content was read, so that a rewrite can tell whether another
// program changed the file since.
struct PreloadFileState {
    bool exists;
    dev_t device;
    ino_t inode;
    off_t size;
    struct timespec modified;
    struct timespec changed;
};

// The preload file's bytes as a heap text (NUL-terminated; the caller frees it) with the
// file's true byte count beside it: a NUL inside the file makes the text shorter than size.
struct PreloadContent {
    char* text;
    size_t size;
    PreloadFileState file;
};

// True when the file held a NUL byte, so that text operations would not see all of it.
bool ombrex_cli_containsNul(const PreloadContent& content);

// A missing file reads as empty. Every failure ends the process; so does a path that names
// a FIFO or a socket, which nothing could be read from without waiting for a writer.
PreloadContent ombrex_cli_readLdSoPreload();

// The same, for a run that is going to change the file: first waits, a bounded time, for
// any other run that changes it, and keeps it waiting until this process ends.
PreloadContent ombrex_cli_readLdSoPreloadToChange();

// Replaces the file that read came from with content (a text without NUL bytes), so that a
// reader sees the old content or the new, never a mix. Returns false, with the file as
// another program left it, when that program changed it since it was read: the caller
// reads it again and decides anew. Every failure ends the process with the file's old
// content in place.
bool ombrex_cli_writeLdSoPreload(const PreloadContent& read, const char* content);

// Ends the process when another program changed the file at path under every attempt to
// rewrite it.
[[noreturn]] void ombrex_cli_failChangingLdSoPreload(const char* path);

#endif
