// Shared pieces of the fault-injection tests: the exact lines the tool writes about its
// files, and a private mount namespace for the faults that need mounts.
#ifndef OMBREX_TESTS_FAULTS_FAULTS_H
#define OMBREX_TESTS_FAULTS_FAULTS_H

#include <string>

#include "tests/support/run.h"

namespace ombrex::test::faults {

inline const std::string kLibraryPath = "/usr/local/lib/libombrex.so";

inline std::string diag(const std::string& label, const std::string& value) {
    return "[DIAG] " + label + ": '" + value + "'\n";
}

// Standard error before the tool's own lines: the library is resolved once, the preload file
// once per read and once per write.
inline std::string overrideWarnings(const std::string& preload, const std::string& library,
                                    int preloadResolutions) {
    std::string text = "[WARNING] Using non-default path to libombrex.so: " + library + "\n";
    for (int i = 0; i < preloadResolutions; ++i) {
        text += "[WARNING] Using non-standard path to ld.so.preload: " + preload + "\n";
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
    return {{"OMBREX_TEST_LD_SO_PRELOAD_PATH", preload},
            {"OMBREX_TEST_LIBOMBREX_SO_PATH", library}};
}

inline RunOptions withOverrides(const std::string& preload, const std::string& library) {
    RunOptions options;
    options.environment = overrides(preload, library);
    return options;
}

// Moves this test process into a mount namespace of its own whose mounts propagate nowhere,
// as `unshare -m --propagation private` does. False when the system refuses.
bool enterPrivateMountNamespace();

} // namespace ombrex::test::faults

// Skips (or, under CI=true, fails) a test whose faults need a private mount namespace.
#define OMBREX_REQUIRE_PRIVATE_MOUNTS()                                                            \
    do {                                                                                           \
        OMBREX_REQUIRE_ROOT();                                                                     \
        if (!::ombrex::test::faults::enterPrivateMountNamespace()) {                               \
            if (::ombrex::test::runningInCi()) {                                                   \
                FAIL() << "no private mount namespace, and CI=true forbids skipping";              \
            }                                                                                      \
            GTEST_SKIP() << "no private mount namespace";                                          \
        }                                                                                          \
    } while (0)

#endif
