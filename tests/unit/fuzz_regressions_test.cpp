// Inputs the fuzz targets found, kept as regular tests.
#include <gtest/gtest.h>
#include <string>

#include "preload/decisions.h"
#include "tests/unit/heap_text.h"

namespace {

using ombrex::test::takeText;

// A library path holding an LF would span two lines of the file: cutting "its" line would take
// out only the first and leave the rest ("/g/tplooger.s.") behind as an entry of its own. No
// line is ever the entry of such a path: disable and status leave the lines it spans alone.
TEST(FuzzRegressions, LibraryPathHoldingAnLfIsNeverAnEntry) {
    const std::string path = "/oplo/gtger.so+/lib/a.so\r\n/g/tplooger.s.";
    const std::string content = path + "\n";

    DisablePlan plan = ombrex_cli_planDisable(content.c_str(), path.c_str());
    EXPECT_EQ(plan.outcome, DisableOutcome::AlreadyAbsent);
    EXPECT_EQ(takeText(plan.newContent), "<null>");

    // Only the file name counts for status: these lines name another library.
    const std::string withName = "/x/libombrex.so\nlib\n";
    EXPECT_EQ(ombrex_cli_judgePreloadContent(withName.c_str(), "/x/libombrex.so\nlib"),
              PreloadVerdict::ForeignEntry);
    EXPECT_EQ(ombrex_cli_judgePreloadContent(withName.c_str(), "/x/libombrex.so"),
              PreloadVerdict::Enabled);
}

} // namespace
