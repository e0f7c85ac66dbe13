// Scratch preload and library files, and the exact lines the tool writes about them.
#ifndef OMBREX_TESTS_STORE_STORE_FIXTURE_H
#define OMBREX_TESTS_STORE_STORE_FIXTURE_H

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/expected.h"
#include "tests/support/run.h"

namespace ombrex::test {

inline const std::string kOpenForWritingFailed =
    "[ERROR] Unable to open file for writing (missing sudo, maybe?).\n";
inline const std::string kWriteFailed = "[ERROR] Unable to write to file.\n";
inline const std::string kReadFailed = "[ERROR] Unable to read ld.so.preload file.\n";
inline const std::string kTooLarge =
    "[ERROR] Unable to read the ld.so.preload file: it is too large.\n";

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
        return withOverrides(preloadPath, libraryPath);
    }

    static RunOptions asNobody(RunOptions options) {
        options.uid = kUnprivilegedUid;
        options.gid = kUnprivilegedGid;
        return options;
    }
};

} // namespace ombrex::test

#endif
