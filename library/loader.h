// Opens the logging library at run time and looks its exports up by name.
#ifndef OMBREX_LIBRARY_LOADER_H
#define OMBREX_LIBRARY_LOADER_H

// The library path that was opened, and its handle; the handle is never closed.
extern const char* libraryPathInUse;
extern void* libraryHandle;

// Both end the process on failure.
void ombrex_cli_loadLibrary();
void* ombrex_cli_getSymbol(const char* name);

#endif
