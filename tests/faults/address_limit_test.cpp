// Memory exhaustion: a preload file far larger than the address space the tool may use. The
// reader's allocation fails and the run ends with its error and status 127, never an abort.
// (Built only without the address sanitizer, whose shadow memory needs a huge address space.)
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "tests/faults/faults.h"

namespace ombrex::test::faults {
namespace {

TEST(Faults, ReadingUnderAnAddressSpaceLimitEndsWithTheAllocationError) {
    ToolFiles files;
    const std::string& preload = files.preload;
    const std::string& library = files.library;
    writeFile(preload, "");
    // Sparse: 512 MiB on paper, nothing on disk.
    ASSERT_EQ(truncate(preload.c_str(), 512L * 1024 * 1024), 0);
    const std::string limit = std::to_string(128L * 1024 * 1024);

    for (const char* action : {"enable", "disable", "status"}) {
        RunResult result =
            run("/usr/bin/prlimit", {"--as=" + limit, "--", toolPath(), action}, files.options());
        EXPECT_EQ(result.out, pathAndErrno(preload, "Cannot allocate memory")) << action;
        EXPECT_EQ(result.err, overrideWarnings(preload, library, 1) + readAllocationFailed)
            << action;
        EXPECT_EQ(result.status, 127) << action;
    }
    struct stat info {};
    ASSERT_EQ(stat(preload.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 512L * 1024 * 1024);
    EXPECT_EQ(info.st_blocks, 0);
}

} // namespace
} // namespace ombrex::test::faults
