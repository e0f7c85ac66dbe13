// The lock that makes runs of the tool that change the preload file wait for each other.
#ifndef OMBREX_PRELOAD_LOCK_H
#define OMBREX_PRELOAD_LOCK_H

// Takes the lock for the preload file at path, waiting a bounded time for another run that
// holds it, and holds it until the process ends. The lock is never the preload file itself,
// which every user may open: for the system's file it lives in a directory that only root
// may enter, for any other path beside that file. A run that cannot create or open the lock
// file (an unprivileged user, a read-only directory) goes on without it. Ends the process
// when the wait runs out.
void ombrex_cli_lockLdSoPreload(const char* path);

#endif
