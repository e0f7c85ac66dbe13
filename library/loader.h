// Opens the logging library at run time and looks its exports up by name.
#ifndef OMBREX_LIBRARY_LOADER_H
#define OMBREX_LIBRARY_LOADER_H

// The library path that was opened, and its handle; the handle is never closed.
extern const char* libraryPathInUse;
extern void* libraryHandle;

// Both end the process on failure.
void ombrex_cli_loadLibrary();
void* ombrex_cli_getSymbol(const char* name);

// Opens the library at path for a look that may come to nothing: as ombrex_cli_loadLibrary
// would, without waiting on a file that may block and without a word on failure. Null then;
// the caller closes the handle.
void* ombrex_cli_openLibraryQuietly(const char* path);

#endif
