// The entry and the fixed texts, through the built binary with a clean environment.
#include <gtest/gtest.h>

#include "tests/support/run.h"

namespace ombrex::test {
namespace {

const std::string kUsage =
    "Ombrex CLI management tool usage:\n"
    "    ombrexctl ACTION [ARGS]\n"
    "\n"
    "Available actions:\n"
    "    conf           Show configuration\n"
    "    disable        Remove libombrex.so from /etc/ld.so.preload\n"
    "    enable         Add libombrex.so to /etc/ld.so.preload\n"
    "    status         Detect whether Ombrex is already enabled and loaded\n"
    "\n"
    "    version        Show Ombrex version\n"
    "    about          Show general information\n"
    "    help           Show this help\n"
    "\n";

const std::string kAbout =
    "Ombrex is a small library that logs all program executions on your Linux/BSD system "
    "(a.k.a. Ombrex Command Logger).\n"
    "The command line utility that you've just used to display this message is Ombrex's CLI "
    "management tool.\n"
    "\n"
    "More information about Ombrex is available at the following URL:\n"
    "    https://ombrex.example.org/\n"
    "\n";

struct FrontEndCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string out;
    std::string err;
    int status;
};

TEST(FrontEnd, DispatchesTheActionWord) {
    const FrontEndCase cases[] = {
        {"no action", {}, kUsage, "[ERROR] No action specified.\n", 127},
        {"help", {"help"}, kUsage, "", 0},
        {"help with extra words", {"help", "status", "--x"}, kUsage, "", 0},
        {"about", {"about"}, kAbout, "", 0},
        {"about with extra words", {"about", "help"}, kAbout, "", 0},
        {"upper case", {"STATUS"}, kUsage, "[ERROR] Unknown action: STATUS\n", 127},
        {"empty word", {""}, kUsage, "[ERROR] Unknown action: \n", 127},
        {"per-cent sign", {"%s%n%x"}, kUsage, "[ERROR] Unknown action: %s%n%x\n", 127},
        {"quote", {"it's"}, kUsage, "[ERROR] Unknown action: it's\n", 127},
        {"prefix of a word", {"enabl"}, kUsage, "[ERROR] Unknown action: enabl\n", 127},
    };
    for (const FrontEndCase& c : cases) {
        RunResult result = runTool(c.arguments);
        EXPECT_EQ(result.out, c.out) << c.name;
        EXPECT_EQ(result.err, c.err) << c.name;
        EXPECT_EQ(result.status, c.status) << c.name;
    }
}

TEST(FrontEnd, ClosedStandardOutputStillSucceeds) {
    for (const char* word : {"help", "about"}) {
        RunOptions options;
        options.closeStdout = true;
        RunResult result = runTool({word}, options);
        EXPECT_EQ(result.err, "") << word;
        EXPECT_EQ(result.status, 0) << word;
    }
}

} // namespace
} // namespace ombrex::test
