// Who besides root and the user running the tool can change what the dynamic linker loads
// as the library: through the directories it passes on the way to the file.
#ifndef OMBREX_PRELOAD_EXPOSURE_H
#define OMBREX_PRELOAD_EXPOSURE_H

#include <sys/types.h>

// True when someone other than root and user can change the directory's entries: it is
// writable by its group or by others without the sticky bit, or another user owns it.
bool ombrex_cli_isDirectoryOpenToOthers(mode_t mode, uid_t owner, uid_t user);

// Warns once for each such directory that the dynamic linker passes when it opens
// libraryPath, nearest first, judged for the real user running the tool. Never stops the run.
void ombrex_cli_warnAboutDirectoriesAboveLibrary(const char* libraryPath);

#endif
