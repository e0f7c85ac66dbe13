// The exact lines the tool writes, for black-box tests that compare output byte for byte. Each
// text is spelled here once and the tests compose them; long fixed outputs are golden files in
// tests/expected/, named <action>-<case>.stdout or .stderr.
#ifndef OMBREX_TESTS_SUPPORT_EXPECTED_H
#define OMBREX_TESTS_SUPPORT_EXPECTED_H

#include <string>

namespace ombrex::test {

// The content of the golden file tests/expected/<name>.
std::string goldenOutput(const std::string& name);

// Message forms. Only the diagnostic quotes its value.
inline std::string diag(const std::string& label, const std::string& value) {
    return "[DIAG] " + label + ": '" + value + "'\n";
}

inline std::string error(const std::string& text) {
    return "[ERROR] " + text + "\n";
}

inline std::string preloadWarning(const std::string& preload) {
    return "[WARNING] Using non-standard path to ld.so.preload: " + preload + "\n";
}

inline std::string libraryWarning(const std::string& library) {
    return "[WARNING] Using non-default path to libombrex.so: " + library + "\n";
}

// Standard error before the tool's own lines: the library is resolved once, the preload file
// once per read and once per write.
inline std::string overrideWarnings(const std::string& preload, const std::string& library,
                                    int preloadResolutions) {
    std::string text = libraryWarning(library);
    for (int i = 0; i < preloadResolutions; ++i) {
        text += preloadWarning(preload);
    }
    return text;
}

inline std::string libraryWritableWarning(const std::string& library) {
    return "[WARNING] libombrex.so file is writable by group or others: " + library + "\n";
}

inline std::string libraryOwnerWarning(const std::string& library) {
    return "[WARNING] libombrex.so file is owned by another user: " + library + "\n";
}

inline std::string linkWarning(const std::string& link) {
    return "[WARNING] A symbolic link on the way to libombrex.so is owned by another user: " +
           link + "\n";
}

inline std::string directoryWarning(const std::string& directory) {
    return "[WARNING] A directory above libombrex.so is writable by others: " + directory + "\n";
}

inline const std::string anotherInstanceWarning =
    "[WARNING] Another Ombrex instance found in ld.so.preload file.\n";

// Diagnostics before a failure or a finding.
inline std::string lockDiagnostics(const std::string& preload, const std::string& lock) {
    return diag("ld.so.preload path", preload) + diag("lock file path", lock);
}

inline std::string pathAndErrno(const std::string& preload, const std::string& error) {
    return diag("ld.so.preload path", preload) + diag("Error message", error);
}

inline std::string referenceDiagnostics(const std::string& preload) {
    return diag("ld.so.preload path", preload) + diag("Search string", "libombrex.so");
}

// What enable and disable write on standard output when they run to their end.
inline std::string enabledOut(const std::string& preload, const std::string& library) {
    return diag("ld.so.preload path", preload) + diag("Ombrex library path", library) +
           "SUCCESS: Ombrex has been enabled.\n";
}

inline std::string alreadyEnabledOut(const std::string& preload, const std::string& library) {
    return diag("ld.so.preload path", preload) + diag("Search string", library) +
           "[NOTICE] Ombrex is already enabled in /etc/ld.so.preload.\n";
}

inline const std::string disabledOut =
    "[SUCCESS] Ombrex has been removed from /etc/ld.so.preload.\n"
    "[INFO] Existing processes may still have Ombrex enabled until they are restarted.\n";

inline std::string alreadyAbsentOut(const std::string& preload, const std::string& library) {
    return diag("ld.so.preload path", preload) + diag("libombrex.so path", library) +
           "[NOTICE] Ombrex library is already absent from the ld.so.preload file.\n";
}

// Fatal errors, as they end standard error.
inline const std::string openForWritingFailed =
    error("Unable to open file for writing (missing sudo, maybe?).");
inline const std::string writeFailed = error("Unable to write to file.");
inline const std::string readFailed = error("Unable to read ld.so.preload file.");
inline const std::string tooLarge =
    error("Unable to read the ld.so.preload file: it is too large.");
inline const std::string readAllocationFailed =
    error("Unable to malloc() for reading the file content.");
inline const std::string nulRefused =
    error("Refusing to rewrite the ld.so.preload file: it contains a NUL byte.");
inline const std::string keptChanging =
    error("Unable to rewrite the ld.so.preload file: another program kept changing it.");
inline const std::string lockTimedOut =
    error("Unable to lock the ld.so.preload file: another run keeps it locked.");
inline const std::string anotherInstance = error("Another Ombrex instance encountered.");
inline const std::string duplicateEntry = error("Duplicate libombrex.so entry encountered");
inline const std::string multipleReferences = error("Multiple Ombrex references found, aborting.");
inline const std::string libraryInaccessible = error("Unable to access libombrex.so file");
inline const std::string notRegularFile = error("File is not a regular file");
inline const std::string pathNotAbsolute = error("The libombrex.so path must be absolute.");
inline const std::string pathSplits =
    error("The libombrex.so path must not contain blanks, tabs, ':' or '#'.");
inline const std::string pathHoldsLineFeed =
    error("The libombrex.so path must not contain a line feed.");
inline const std::string versionFailed = error("Ombrex version datasource failed");

// The two error lines of a library that the dynamic linker cannot open.
inline std::string loadFailed(const std::string& linkerError) {
    return error("Dynamic linker error message: " + linkerError) +
           error("Unable to load shared library");
}

// The status report, one line per check and verdict.
inline const std::string preloadNotEnabledLine =
    "/etc/ld.so.preload:            NOT OK - Ombrex is not enabled.\n";
inline const std::string preloadEnabledLine =
    "/etc/ld.so.preload:            OK - Ombrex is enabled.\n";
inline const std::string preloadForeignLine =
    "/etc/ld.so.preload:            NOT OK - 'libombrex.so' found, but not with the expected "
    "path - is another Ombrex instance enabled?\n";
inline const std::string ldPreloadNotSetLine = "LD_PRELOAD environment var:    NOT OK - Not set.\n";
inline const std::string ldPreloadFoundLine =
    "LD_PRELOAD environment var:    OK - Ombrex reference found.\n";
inline const std::string ldPreloadOtherLine =
    "LD_PRELOAD environment var:    NOT SET - Set, but no Ombrex reference found.\n";
inline const std::string notLoadedLine =
    "Current process (shared libs): NOT OK - Unable to find libombrex.so.\n";
inline const std::string loadedInFrontLine =
    "Current process (shared libs): OK - libombrex.so is loaded in front of libc.so.6.\n";
inline const std::string execveNotOverloadedLine =
    "Current process (execve addr): NOT OK - execve() symbol not overloaded, Ombrex is not "
    "loaded.\n";
inline const std::string execveOverloadedLine =
    "Current process (execve addr): OK - execve() symbol address changed, looks like Ombrex is "
    "loaded.\n";

// What the last three checks say in a process that nothing was preloaded into.
inline const std::string unpreloadedProcessLines =
    ldPreloadNotSetLine + notLoadedLine + execveNotOverloadedLine;

// The version report.
inline const std::string toolVersionLine = "Ombrex CLI tool version: 2.5.2\n";

inline std::string libraryVersionLine(const std::string& version, const std::string& path) {
    return "Ombrex library version:  " + version + " (path: " + path + ")\n";
}

} // namespace ombrex::test

#endif
