// Who besides root and the user running the tool can change what the dynamic linker loads
// as the library: through the directories it passes on the way to the file, and through
// the symbolic links it follows.
#ifndef OMBREX_PRELOAD_EXPOSURE_H
#define OMBREX_PRELOAD_EXPOSURE_H

#include <sys/types.h>

// True when someone other than root and user can change the directory's entries: it is
// writable by its group or by others without the sticky bit, or another user owns it.
bool ombrex_cli_isDirectoryOpenToOthers(mode_t mode, uid_t owner, uid_t user);

// True when a user other than root and user owns a symbolic link and may replace it: the
// directory that holds it lets its owner remove it.
bool ombrex_cli_isLinkOpenToOthers(uid_t linkOwner, mode_t directoryMode, uid_t directoryOwner,
                                   uid_t user);

// Warns once for each such directory that the dynamic linker passes when it opens
// libraryPath, nearest first, then once for each such link that it follows, nearest first;
// judged for the real user running the tool. Never stops the run.
void ombrex_cli_warnAboutPathToLibrary(const char* libraryPath);

#endif
