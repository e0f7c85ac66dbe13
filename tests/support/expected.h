// The exact lines the tool writes about its two files, for black-box tests that compare
// output byte for byte, and the environment that points the tool at scratch files.
#ifndef OMBREX_TESTS_SUPPORT_EXPECTED_H
#define OMBREX_TESTS_SUPPORT_EXPECTED_H

#include <string>

#include "tests/support/run.h"

namespace ombrex::test {

inline const std::string kPreloadVariable = "OMBREX_TEST_LD_SO_PRELOAD_PATH";
inline const std::string kLibraryVariable = "OMBREX_TEST_LIBOMBREX_SO_PATH";

inline std::string diag(const std::string& label, const std::string& value) {
    return "[DIAG] " + label + ": '" + value + "'\n";
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

inline std::string pathAndErrno(const std::string& preload, const std::string& error) {
    return diag("ld.so.preload path", preload) + diag("Error message", error);
}

inline std::string enabledOut(const std::string& preload, const std::string& library) {
    return diag("ld.so.preload path", preload) + diag("Ombrex library path", library) +
           "SUCCESS: Ombrex has been enabled.\n";
}

inline std::string alreadyEnabledOut(const std::string& preload, const std::string& library) {
    return diag("ld.so.preload path", preload) + diag("Search string", library) +
           "[NOTICE] Ombrex is already enabled in /etc/ld.so.preload.\n";
}

inline const std::string kDisabledOut =
    "[SUCCESS] Ombrex has been removed from /etc/ld.so.preload.\n"
    "[INFO] Existing processes may still have Ombrex enabled until they are restarted.\n";

inline std::string alreadyAbsentOut(const std::string& preload, const std::string& library) {
    return diag("ld.so.preload path", preload) + diag("libombrex.so path", library) +
           "[NOTICE] Ombrex library is already absent from the ld.so.preload file.\n";
}

inline Environment overrides(const std::string& preload, const std::string& library) {
    return {{kPreloadVariable, preload}, {kLibraryVariable, library}};
}

inline RunOptions withOverrides(const std::string& preload, const std::string& library) {
    RunOptions options;
    options.environment = overrides(preload, library);
    return options;
}

} // namespace ombrex::test

#endif
