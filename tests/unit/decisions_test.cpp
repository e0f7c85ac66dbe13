#include "preload/decisions.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "tests/unit/heap_text.h"

namespace {

using ombrex::test::takeText;

constexpr const char* libraryPath = "/usr/local/lib/libombrex.so";
const std::string path = libraryPath;

TEST(PlanEnable, AppendsTheEntryAndKeepsEveryOldByte) {
    const struct {
        std::string before;
        std::string after;
    } cases[] = {
        {"", path + "\n"},
        {"/lib/a.so", "/lib/a.so\n" + path + "\n"},
        {"/lib/a.so\n", "/lib/a.so\n" + path + "\n"},
        {"# " + path + "\n", "# " + path + "\n" + path + "\n"},
        {"\n\n", "\n\n" + path + "\n"},
        {"# comment\r\n", "# comment\r\n" + path + "\n"},
    };
    for (const auto& c : cases) {
        EnablePlan plan = ombrex_cli_planEnable(c.before.c_str(), libraryPath);
        EXPECT_EQ(plan.outcome, EnableOutcome::Write) << c.before;
        EXPECT_EQ(takeText(plan.newContent), c.after) << c.before;
    }
}

TEST(PlanEnable, LeavesExistingOrForeignReferencesAlone) {
    const struct {
        std::string content;
        EnableOutcome outcome;
    } cases[] = {
        {path + " # note\n", EnableOutcome::AlreadyEnabled},
        {"/lib/a.so\n" + path, EnableOutcome::AlreadyEnabled},
        {path + "\n/opt/libombrex.so\n", EnableOutcome::AlreadyEnabled},
        {"/opt/libombrex.so\n", EnableOutcome::AnotherInstance},
        {"  " + path + "\n", EnableOutcome::AnotherInstance},
        {path + "\r\n", EnableOutcome::AnotherInstance},
    };
    for (const auto& c : cases) {
        EnablePlan plan = ombrex_cli_planEnable(c.content.c_str(), libraryPath);
        EXPECT_EQ(plan.outcome, c.outcome) << c.content;
        EXPECT_EQ(plan.newContent, nullptr);
    }
}

TEST(PlanEnable, OtherLibraryNameStillLooksForTheFixedFileName) {
    EnablePlan plan = ombrex_cli_planEnable((path + "\n").c_str(), "/opt/logger.so");
    EXPECT_EQ(plan.outcome, EnableOutcome::AnotherInstance);
}

TEST(PlanDisable, CutsTheWholeLineWhereTheEntryStandsAlone) {
    const struct {
        std::string before;
        std::string after;
        bool remains;
    } cases[] = {
        {path + "\n", "", false},
        {"/lib/a.so\n" + path, "/lib/a.so\n", false},
        {"/lib/a.so\n" + path + " # note\n/lib/b.so\n", "/lib/a.so\n/lib/b.so\n", false},
        {"# " + path + "\n" + path + "\n\n", "# " + path + "\n\n", false},
        {"  " + path + "\n", "", false},
        {"\t:" + path + ":# /lib/b.so\n/lib/c.so\n", "/lib/c.so\n", false},
        {path + "#/lib/b.so\n", "", false},
        // Every entry on the line is the library's: the loader would still read the second.
        {path + " " + path + ":" + path + "\n/lib/c.so", "/lib/c.so", false},
    };
    for (const auto& c : cases) {
        DisablePlan plan = ombrex_cli_planDisable(c.before.c_str(), libraryPath);
        EXPECT_EQ(plan.outcome, DisableOutcome::Write) << c.before;
        EXPECT_EQ(plan.referenceRemains, c.remains) << c.before;
        EXPECT_EQ(takeText(plan.newContent), c.after) << c.before;
    }
}

TEST(PlanDisable, OtherOutcomes) {
    const struct {
        std::string content;
        const char* library;
        DisableOutcome outcome;
    } cases[] = {
        {"", libraryPath, DisableOutcome::AlreadyAbsent},
        {"# " + path + "\n", libraryPath, DisableOutcome::AlreadyAbsent},
        {"/lib/a.so # " + path + "\n", libraryPath, DisableOutcome::AlreadyAbsent},
        {"/lib/a.so#" + path + "\n", libraryPath, DisableOutcome::AlreadyAbsent},
        {path + ".1 " + path + "x\n", libraryPath, DisableOutcome::AlreadyAbsent},
        {path + "\r\n", libraryPath, DisableOutcome::AlreadyAbsent},
        {"/opt/libombrex.so\n", "/other/libombrex.so", DisableOutcome::AlreadyAbsent},
        {path + "\n", "", DisableOutcome::AlreadyAbsent},
        {"/a/libombrex.so\n/b/libombrex.so\n", libraryPath, DisableOutcome::Duplicate},
        {path + "\n" + path + "\n", libraryPath, DisableOutcome::Duplicate},
    };
    for (const auto& c : cases) {
        DisablePlan plan = ombrex_cli_planDisable(c.content.c_str(), c.library);
        EXPECT_EQ(plan.outcome, c.outcome) << c.content;
        EXPECT_EQ(plan.newContent, nullptr);
    }
}

// Other entries on the entry's line stay, and so does its comment, byte for byte and in order:
// the entry goes with the separator before it, or, where there is none, the one after it.
TEST(PlanDisable, TakesOnlyTheEntryOutOfASharedLine) {
    const struct {
        std::string before;
        std::string after;
    } cases[] = {
        {path + " /lib/b.so\n", "/lib/b.so\n"},
        {"/lib/a.so " + path + "\n", "/lib/a.so\n"},
        {"/lib/a.so:" + path + ":/lib/b.so # c\n", "/lib/a.so:/lib/b.so # c\n"},
        {"/lib/a.so\t" + path + "#c\n", "/lib/a.so#c\n"},
        {"/lib/a.so  " + path + "  /lib/b.so", "/lib/a.so   /lib/b.so"},
        {"x\n  " + path + " /lib/b.so\ny\n", "x\n  /lib/b.so\ny\n"},
        {path + ":" + path + " /lib/b.so\n", "/lib/b.so\n"},
        {"/lib/a.so " + path + ":" + path + "\n", "/lib/a.so\n"},
        {path + "\r " + path + "\n", path + "\r\n"},
    };
    for (const auto& c : cases) {
        DisablePlan plan = ombrex_cli_planDisable(c.before.c_str(), libraryPath);
        EXPECT_EQ(plan.outcome, DisableOutcome::Write) << c.before;
        EXPECT_EQ(takeText(plan.newContent), c.after) << c.before;
    }
}

// The loader cannot read a path holding a blank, ':' or '#' as one entry; a line of its own
// holding it, written by hand since enable refuses such a path, is still taken out whole.
TEST(PlanDisable, PathsTheLoaderSplitsAreFoundAsLinesOfTheirOwn) {
    const struct {
        const char* path;
        std::string before;
        DisableOutcome outcome;
        std::string after;
    } cases[] = {
        {"/my libs/libombrex.so", "/lib/a.so\n/my libs/libombrex.so\n", DisableOutcome::Write,
         "/lib/a.so\n"},
        {"/a:b/libombrex.so", "/a:b/libombrex.so # x\n/lib/c.so\n", DisableOutcome::Write,
         "/lib/c.so\n"},
        {"/x#y/libombrex.so", "/x#y/libombrex.so", DisableOutcome::Write, ""},
        {"/my libs/libombrex.so", "/lib/a.so /my libs/libombrex.so\n",
         DisableOutcome::AlreadyAbsent, "<null>"},
    };
    for (const auto& c : cases) {
        DisablePlan plan = ombrex_cli_planDisable(c.before.c_str(), c.path);
        EXPECT_EQ(plan.outcome, c.outcome) << c.before;
        EXPECT_EQ(takeText(plan.newContent), c.after) << c.before;
    }
}

TEST(PlanDisable, ReportsAReferenceThatRemains) {
    DisablePlan plan =
        ombrex_cli_planDisable("/opt/logger.so\n/x/libombrex.so\n", "/opt/logger.so");
    ASSERT_EQ(plan.outcome, DisableOutcome::Write);
    EXPECT_TRUE(plan.referenceRemains);
    EXPECT_EQ(takeText(plan.newContent), "/x/libombrex.so\n");

    // Two mentions on one line count once for the duplicate rule; the other one stays.
    plan = ombrex_cli_planDisable((path + "\t" + path + ".old\n").c_str(), libraryPath);
    ASSERT_EQ(plan.outcome, DisableOutcome::Write);
    EXPECT_TRUE(plan.referenceRemains);
    EXPECT_EQ(takeText(plan.newContent), path + ".old\n");

    // Only the first of two entries for a path without the file name goes; no warning.
    plan = ombrex_cli_planDisable("/opt/logger.so\n/opt/logger.so\n", "/opt/logger.so");
    ASSERT_EQ(plan.outcome, DisableOutcome::Write);
    EXPECT_FALSE(plan.referenceRemains);
    EXPECT_EQ(takeText(plan.newContent), "/opt/logger.so\n");
}

TEST(PlanDisable, UndoesEnableOnContentWithoutReferences) {
    for (const std::string before : {"", "/lib/a.so", "/lib/a.so\n", "#x\n\n/lib/b.so\n"}) {
        EnablePlan enabled = ombrex_cli_planEnable(before.c_str(), libraryPath);
        ASSERT_EQ(enabled.outcome, EnableOutcome::Write);
        DisablePlan disabled = ombrex_cli_planDisable(enabled.newContent, libraryPath);
        std::free(enabled.newContent);
        ASSERT_EQ(disabled.outcome, DisableOutcome::Write);
        std::string expected = before.empty() || before.back() == '\n' ? before : before + "\n";
        EXPECT_EQ(takeText(disabled.newContent), expected);
    }
}

TEST(JudgePreloadContent, ChoosesTheVerdict) {
    const struct {
        std::string content;
        const char* library;
        PreloadVerdict verdict;
    } cases[] = {
        {"", libraryPath, PreloadVerdict::NotEnabled},
        {"# " + path + "\n", libraryPath, PreloadVerdict::NotEnabled},
        {path + "\n", libraryPath, PreloadVerdict::Enabled},
        {"/opt/libombrex.so\n", libraryPath, PreloadVerdict::ForeignEntry},
        {"/opt/libombrex.so\n" + path + "\n", libraryPath, PreloadVerdict::Multiple},
        {"/opt/logger.so\n", "/opt/logger.so", PreloadVerdict::NotEnabled},
        {"/opt/logger.so\n/x/libombrex.so\n", "/opt/logger.so", PreloadVerdict::Enabled},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ombrex_cli_judgePreloadContent(c.content.c_str(), c.library), c.verdict)
            << c.content;
    }
}

} // namespace
