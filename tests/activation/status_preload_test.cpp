// The status action's checks of its own process, with a stand-in library preloaded through
// LD_PRELOAD: the dynamic linker, not the test, decides what is loaded where.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "tests/support/expected.h"
#include "tests/support/run.h"

namespace ombrex::test {
namespace {

const std::string interposer = OMBREX_FIXTURE_INTERPOSER;

// A sanitized ombrexctl refuses to start when a preloaded library comes before the sanitizer
// runtime; the stand-in calls nothing that the runtime must see first.
void allowPreloadBeforeSanitizer(Environment& environment) {
#ifdef OMBREX_SANITIZED
    environment["ASAN_OPTIONS"] = "verify_asan_link_order=0";
#else
    (void)environment;
#endif
}

TEST(StatusPreload, ChecksTheToolsOwnProcess) {
    ToolFiles files;
    // Copies with fixed permissions: the build's umask must not add a warning.
    const std::string& library = files.library;
    const std::string longerName = files.lib + "/libombrex.so.fixture";
    const std::string otherName = files.lib + "/libinterpose.so";
    for (const std::string& copy : {library, longerName, otherName}) {
        std::filesystem::copy_file(interposer, copy,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(copy, std::filesystem::perms(0755));
    }
    const std::string& preload = files.preload;
    writeFile(preload, library + "\n", 0644);

    struct Case {
        const char* name;
        std::string ldPreload;
        std::string lines;
    };
    const Case cases[] = {
        {"the library itself", library,
         ldPreloadFoundLine + loadedInFrontLine + execveOverloadedLine},
        // The variable is judged by substring, loaded objects by their exact file name.
        {"a longer name holding libombrex.so", longerName,
         ldPreloadFoundLine + notLoadedLine + execveOverloadedLine},
        {"another name", otherName, ldPreloadOtherLine + notLoadedLine + execveOverloadedLine},
        {"set but empty", "", ldPreloadOtherLine + notLoadedLine + execveNotOverloadedLine},
    };
    for (const Case& c : cases) {
        RunOptions options = files.options();
        options.environment["LD_PRELOAD"] = c.ldPreload;
        allowPreloadBeforeSanitizer(options.environment);
        RunResult result = runTool({"status"}, options);
        EXPECT_EQ(result.out, preloadEnabledLine + c.lines) << c.name;
        EXPECT_EQ(result.err, overrideWarnings(preload, library, 1)) << c.name;
        EXPECT_EQ(result.status, 0) << c.name;
    }
}

// The end-to-end test preloads the stand-in into every program: it must hand execve on.
TEST(StatusPreload, StandInForwardsExecve) {
    ScratchDirectory scratch;
    RunOptions options;
    options.environment = {{"LD_PRELOAD", interposer}, {"OMBREX_FIXTURE_TRACE", scratch / "trace"}};
    RunResult result = run("/bin/sh", {"-c", "/bin/echo forwarded; exit 3"}, options);
    EXPECT_EQ(result.out, "forwarded\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(readFile(scratch / "trace"), "execve /bin/echo\n");
}

} // namespace
} // namespace ombrex::test
