// The status action's judgement of the loaded objects, apart from the walk that lists them,
// so that it can be fed object lists the dynamic linker cannot easily produce.
#ifndef OMBREX_CLI_ACTIONS_STATUS_H
#define OMBREX_CLI_ACTIONS_STATUS_H

#include <cstddef>
#include <cstdint>

struct dl_phdr_info;

// Numbers the loaded objects in the order the dynamic linker presents them; never reset.
extern int32_t loadedObjectCounter;

// Positions among the loaded objects, 1 for the first; 0 means not found.
struct LoadedObjectPositions {
    int32_t libc;
    int32_t ombrex;
};

// Notes the object at position if its name ends with the logging library's or the C
// library's file name (after a slash). A later match overwrites an earlier one.
void ombrex_cli_noteLoadedObject(LoadedObjectPositions& positions, int32_t position,
                                 const char* name);

enum class LoadOrderVerdict { NoLibc, NotLoaded, LoadedAfter, LoadedInFront };

LoadOrderVerdict ombrex_cli_judgeLoadOrder(const LoadedObjectPositions& positions);

// The dl_iterate_phdr callback; data points to a LoadedObjectPositions.
int ombrex_cli_findLoadedObjects(struct dl_phdr_info* info, size_t size, void* data);

#endif
