// The searches that decide what preload content means. Pure functions over NUL-terminated
// text: no messages, no state. Every search runs in time linear in the text's length.
//
// Lines are separated by LF alone; a line is a comment when its first byte is '#'. The
// loader's reading, further down, is the dynamic linker's own and differs from that.
#ifndef OMBREX_PRELOAD_TEXT_H
#define OMBREX_PRELOAD_TEXT_H

#include <cstddef>
#include <cstdint>

// Bytes before the first LF, or the whole length when there is none.
int32_t ombrex_cli_lineLength(const char* text);

// The first line without its LF, in a new block of exactly its length plus one byte; the
// caller frees it. Null when the block cannot be allocated.
char* ombrex_cli_copyLine(const char* text);

// Where an entry for path begins: path at a line start, followed by NUL, TAB, LF, SPACE or
// '#'. Null when there is none, or when path is empty.
const char* ombrex_cli_findEntry(const char* text, const char* path);

// The start of the first line that is not a comment and contains needle. Null when there is
// none, or when needle is empty.
const char* ombrex_cli_findUncommentedLine(const char* text, const char* needle);

// True when two different uncommented lines mention the library's file name; two mentions
// on one line count once.
bool ombrex_cli_hasDuplicateReference(const char* text);

// The same rule for a caller that has already found the first such line: true when a later
// line mentions the file name too.
bool ombrex_cli_hasReferenceAfter(const char* firstLine);

// The dynamic linker reads the whole file, not line by line: entries are separated by SPACE,
// TAB, LF and ':', and a '#' anywhere starts a comment that runs to the end of its line
// ("a.so#x" is the entry "a.so"). A CR is an ordinary byte.

// Where the next entry on the line begins, at or after at (which must not lie inside a
// comment); or, when the line holds no further entry, the '#', LF or NUL that ends its
// entries.
const char* ombrex_cli_nextLoaderEntry(const char* at);

// True when at, as returned by ombrex_cli_nextLoaderEntry, is an entry rather than the end of
// its line's entries.
bool ombrex_cli_isLoaderEntryStart(const char* at);

// The length of the entry that begins at entry.
size_t ombrex_cli_loaderEntryLength(const char* entry);

// True when the loader can read path as one entry: not empty, and free of the separators
// and of '#'.
bool ombrex_cli_isLoaderEntryPath(const char* path);

// Where the first entry that the loader reads as exactly path begins. Null when there is
// none, or when path cannot be one entry.
const char* ombrex_cli_findLoaderEntry(const char* text, const char* path);

#endif
