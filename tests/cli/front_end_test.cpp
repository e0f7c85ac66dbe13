// The entry and the fixed texts, through the built binary with a clean environment.
#include <gtest/gtest.h>

#include "tests/support/expected.h"
#include "tests/support/run.h"

namespace ombrex::test {
namespace {

struct FrontEndCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string out;
    std::string err;
    int status;
};

TEST(FrontEnd, DispatchesTheActionWord) {
    // puts ends each fixed text with one more newline: both files end with an empty line.
    const std::string usage = goldenOutput("help-usage.stdout");
    const std::string about = goldenOutput("about-text.stdout");
    const FrontEndCase cases[] = {
        {"no action", {}, usage, error("No action specified."), 127},
        {"help", {"help"}, usage, "", 0},
        {"help with extra words", {"help", "status", "--x"}, usage, "", 0},
        {"about", {"about"}, about, "", 0},
        {"about with extra words", {"about", "help"}, about, "", 0},
        {"upper case", {"STATUS"}, usage, error("Unknown action: STATUS"), 127},
        {"empty word", {""}, usage, error("Unknown action: "), 127},
        {"per-cent sign", {"%s%n%x"}, usage, error("Unknown action: %s%n%x"), 127},
        {"quote", {"it's"}, usage, error("Unknown action: it's"), 127},
        {"prefix of a word", {"enabl"}, usage, error("Unknown action: enabl"), 127},
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
