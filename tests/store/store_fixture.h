// Scratch preload and library files, and the exact lines the tool writes about them.
#ifndef OMBREX_TESTS_STORE_STORE_FIXTURE_H
#define OMBREX_TESTS_STORE_STORE_FIXTURE_H

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run.h"

namespace ombrex::test {

inline const std::string kPreloadVariable = "OMBREX_TEST_LD_SO_PRELOAD_PATH";
inline const std::string kLibraryVariable = "OMBREX_TEST_LIBOMBREX_SO_PATH";

inline const std::string kOpenForWritingFailed =
    "[ERROR] Unable to open file for writing (missing sudo, maybe?).\n";
inline const std::string kWriteFailed = "[ERROR] Unable to write to file.\n";
inline const std::string kReadFailed = "[ERROR] Unable to read ld.so.preload file.\n";
inline const std::string kTooLarge =
    "[ERROR] Unable to read the ld.so.preload file: it is too large.\n";

inline std::string diag(const std::string& label, const std::string& value) {
    return "[DIAG] " + label + ": '" + value + "'\n";
}

inline std::string preloadWarning(const std::string& preload) {
    return "[WARNING] Using non-standard path to ld.so.preload: " + preload + "\n";
}

inline std::string libraryWarning(const std::string& library) {
    return "[WARNING] Using non-default path to libombrex.so: " + library + "\n";
}

// What a run writes to standard error before its own lines: the library is resolved once,
// the preload file once per read and once per write.
inline std::string warnings(const std::string& preload, const std::string& library,
                            int preloadResolutions) {
    std::string text = libraryWarning(library);
    for (int i = 0; i < preloadResolutions; ++i) {
        text += preloadWarning(preload);
    }
    return text;
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

inline std::string pathAndErrno(const std::string& preload, const std::string& error) {
    return diag("ld.so.preload path", preload) + diag("Error message", error);
}

inline const std::string kNotEnabledLine =
    "/etc/ld.so.preload:            NOT OK - Ombrex is not enabled.\n";

// Leftovers of an interrupted replacement would be hidden files beside the preload file.
inline std::vector<std::string> hiddenEntries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        std::string name = entry.path().filename().string();
        if (!name.empty() && name[0] == '.') {
            names.push_back(name);
        }
    }
    return names;
}

inline std::vector<std::string> allEntries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// A scratch directory holding a readable stand-in library and the preload path beside it.
struct StoreFiles {
    ScratchDirectory dir;
    std::string preload = dir / "ld.so.preload";
    std::string library = dir / "libombrex.so";

    StoreFiles() {
        writeFile(library, "stand-in for the library\n", 0644);
    }

    RunOptions options() const {
        return optionsFor(preload, library);
    }

    static RunOptions optionsFor(const std::string& preloadPath, const std::string& libraryPath) {
        RunOptions options;
        options.environment = {{kPreloadVariable, preloadPath}, {kLibraryVariable, libraryPath}};
        return options;
    }

    static RunOptions asNobody(RunOptions options) {
        options.uid = kUnprivilegedUid;
        options.gid = kUnprivilegedGid;
        return options;
    }
};

} // namespace ombrex::test

#endif
