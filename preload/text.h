// The searches that decide what preload content means. Pure functions over NUL-terminated
// text: no messages, no state. Every search runs in time linear in the text's length.
//
// Lines are separated by LF alone; a line is a comment when its first byte is '#'.
#ifndef OMBREX_PRELOAD_TEXT_H
#define OMBREX_PRELOAD_TEXT_H

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

#endif
