// Where the preload file and the logging library are. Each location has a built-in value
// and an environment variable that replaces it, so that tests can use scratch files.
#ifndef OMBREX_PRELOAD_LOCATIONS_H
#define OMBREX_PRELOAD_LOCATIONS_H

inline constexpr const char builtInLdSoPreloadPath[] = "/etc/ld.so.preload";
inline constexpr const char ldSoPreloadOverrideVariable[] = "OMBREX_TEST_LD_SO_PRELOAD_PATH";
inline constexpr const char libOmbrexSoOverrideVariable[] = "OMBREX_TEST_LIBOMBREX_SO_PATH";
// The file name that every reference search in preload content looks for.
inline constexpr const char libraryFileName[] = "libombrex.so";

// The returned paths are constants or environment storage: never release them.
const char* ombrex_cli_getLdSoPreloadPath();
const char* ombrex_cli_getLibOmbrexSoPath();
// Does not return when the calling user may not read the library file.
const char* ombrex_cli_getReadableLibOmbrexSoPath();

// Whoever may write the library file gets code execution in every process once it is
// enabled: warns when its group or others may write it, and when it belongs to a user other
// than root and the real user running the tool. Never stops the run.
void ombrex_cli_warnAboutLibraryFile(const char* libraryPath);

#endif
