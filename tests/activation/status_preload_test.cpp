// The status action's checks of its own process, with a stand-in library preloaded through
// LD_PRELOAD: the dynamic linker, not the test, decides what is loaded where.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "tests/support/run.h"

namespace ombrex::test {
namespace {

const std::string kFixture = OMBREX_FIXTURE_INTERPOSER;

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
    ScratchDirectory scratch;
    // Copies with fixed permissions: the build's umask must not add a warning.
    const std::string library = scratch / "libombrex.so";
    const std::string longerName = scratch / "libombrex.so.fixture";
    const std::string otherName = scratch / "libinterpose.so";
    for (const std::string& copy : {library, longerName, otherName}) {
        std::filesystem::copy_file(kFixture, copy);
        std::filesystem::permissions(copy, std::filesystem::perms(0755));
    }
    const std::string preload = scratch / "ld.so.preload";
    writeFile(preload, library + "\n", 0644);

    struct Case {
        const char* name;
        std::string ldPreload;
        std::string lines;
    };
    const Case cases[] = {
        {"the library itself", library,
         "LD_PRELOAD environment var:    OK - Ombrex reference found.\n"
         "Current process (shared libs): OK - libombrex.so is loaded in front of libc.so.6.\n"
         "Current process (execve addr): OK - execve() symbol address changed, looks like "
         "Ombrex is loaded.\n"},
        // The variable is judged by substring, loaded objects by their exact file name.
        {"a longer name holding libombrex.so", longerName,
         "LD_PRELOAD environment var:    OK - Ombrex reference found.\n"
         "Current process (shared libs): NOT OK - Unable to find libombrex.so.\n"
         "Current process (execve addr): OK - execve() symbol address changed, looks like "
         "Ombrex is loaded.\n"},
        {"another name", otherName,
         "LD_PRELOAD environment var:    NOT SET - Set, but no Ombrex reference found.\n"
         "Current process (shared libs): NOT OK - Unable to find libombrex.so.\n"
         "Current process (execve addr): OK - execve() symbol address changed, looks like "
         "Ombrex is loaded.\n"},
        {"set but empty", "",
         "LD_PRELOAD environment var:    NOT SET - Set, but no Ombrex reference found.\n"
         "Current process (shared libs): NOT OK - Unable to find libombrex.so.\n"
         "Current process (execve addr): NOT OK - execve() symbol not overloaded, Ombrex is "
         "not loaded.\n"},
    };
    for (const Case& c : cases) {
        RunOptions options;
        options.environment = {{"OMBREX_TEST_LD_SO_PRELOAD_PATH", preload},
                               {"OMBREX_TEST_LIBOMBREX_SO_PATH", library},
                               {"LD_PRELOAD", c.ldPreload}};
        allowPreloadBeforeSanitizer(options.environment);
        RunResult result = runTool({"status"}, options);
        EXPECT_EQ(result.out, "/etc/ld.so.preload:            OK - Ombrex is enabled.\n" + c.lines)
            << c.name;
        EXPECT_EQ(result.err,
                  "[WARNING] Using non-default path to libombrex.so: " + library +
                      "\n[WARNING] Using non-standard path to ld.so.preload: " + preload + "\n")
            << c.name;
        EXPECT_EQ(result.status, 0) << c.name;
    }
}

// The end-to-end test preloads the stand-in into every program: it must hand execve on.
TEST(StatusPreload, StandInForwardsExecve) {
    ScratchDirectory scratch;
    RunOptions options;
    options.environment = {{"LD_PRELOAD", kFixture}, {"OMBREX_FIXTURE_TRACE", scratch / "trace"}};
    RunResult result = run("/bin/sh", {"-c", "/bin/echo forwarded; exit 3"}, options);
    EXPECT_EQ(result.out, "forwarded\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(readFile(scratch / "trace"), "execve /bin/echo\n");
}

} // namespace
} // namespace ombrex::test
