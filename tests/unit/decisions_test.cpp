#include "preload/decisions.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

constexpr const char* kPath = "/usr/local/lib/libombrex.so";
const std::string P = kPath;

std::string takeText(char* text) {
    std::string copy = text != nullptr ? text : "<null>";
    std::free(text);
    return copy;
}

TEST(PlanEnable, AppendsTheEntryAndKeepsEveryOldByte) {
    const struct {
        std::string before;
        std::string after;
    } cases[] = {
        {"", P + "\n"},
        {"/lib/a.so", "/lib/a.so\n" + P + "\n"},
        {"/lib/a.so\n", "/lib/a.so\n" + P + "\n"},
        {"# " + P + "\n", "# " + P + "\n" + P + "\n"},
        {"\n\n", "\n\n" + P + "\n"},
        {"# comment\r\n", "# comment\r\n" + P + "\n"},
    };
    for (const auto& c : cases) {
        EnablePlan plan = ombrex_cli_planEnable(c.before.c_str(), kPath);
        EXPECT_EQ(plan.outcome, EnableOutcome::Write) << c.before;
        EXPECT_EQ(takeText(plan.newContent), c.after) << c.before;
    }
}

TEST(PlanEnable, LeavesExistingOrForeignReferencesAlone) {
    const struct {
        std::string content;
        EnableOutcome outcome;
    } cases[] = {
        {P + " # note\n", EnableOutcome::AlreadyEnabled},
        {"/lib/a.so\n" + P, EnableOutcome::AlreadyEnabled},
        {P + "\n/opt/libombrex.so\n", EnableOutcome::AlreadyEnabled},
        {"/opt/libombrex.so\n", EnableOutcome::AnotherInstance},
        {"  " + P + "\n", EnableOutcome::AnotherInstance},
        {P + "\r\n", EnableOutcome::AnotherInstance},
    };
    for (const auto& c : cases) {
        EnablePlan plan = ombrex_cli_planEnable(c.content.c_str(), kPath);
        EXPECT_EQ(plan.outcome, c.outcome) << c.content;
        EXPECT_EQ(plan.newContent, nullptr);
    }
}

TEST(PlanEnable, OtherLibraryNameStillLooksForTheFixedFileName) {
    EnablePlan plan = ombrex_cli_planEnable((P + "\n").c_str(), "/opt/logger.so");
    EXPECT_EQ(plan.outcome, EnableOutcome::AnotherInstance);
}

TEST(PlanDisable, CutsTheWholeLineWhereTheEntryStandsAlone) {
    const struct {
        std::string before;
        std::string after;
        bool remains;
    } cases[] = {
        {P + "\n", "", false},
        {"/lib/a.so\n" + P, "/lib/a.so\n", false},
        {"/lib/a.so\n" + P + " # note\n/lib/b.so\n", "/lib/a.so\n/lib/b.so\n", false},
        {"# " + P + "\n" + P + "\n\n", "# " + P + "\n\n", false},
        {"  " + P + "\n", "", false},
        {"\t:" + P + ":# /lib/b.so\n/lib/c.so\n", "/lib/c.so\n", false},
        {P + "#/lib/b.so\n", "", false},
        // Every entry on the line is the library's: the loader would still read the second.
        {P + " " + P + ":" + P + "\n/lib/c.so", "/lib/c.so", false},
    };
    for (const auto& c : cases) {
        DisablePlan plan = ombrex_cli_planDisable(c.before.c_str(), kPath);
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
        {"", kPath, DisableOutcome::AlreadyAbsent},
        {"# " + P + "\n", kPath, DisableOutcome::AlreadyAbsent},
        {"/lib/a.so # " + P + "\n", kPath, DisableOutcome::AlreadyAbsent},
        {"/lib/a.so#" + P + "\n", kPath, DisableOutcome::AlreadyAbsent},
        {P + ".1 " + P + "x\n", kPath, DisableOutcome::AlreadyAbsent},
        {P + "\r\n", kPath, DisableOutcome::AlreadyAbsent},
        {"/opt/libombrex.so\n", "/other/libombrex.so", DisableOutcome::AlreadyAbsent},
        {P + "\n", "", DisableOutcome::AlreadyAbsent},
        {"/a/libombrex.so\n/b/libombrex.so\n", kPath, DisableOutcome::Duplicate},
        {P + "\n" + P + "\n", kPath, DisableOutcome::Duplicate},
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
        {P + " /lib/b.so\n", "/lib/b.so\n"},
        {"/lib/a.so " + P + "\n", "/lib/a.so\n"},
        {"/lib/a.so:" + P + ":/lib/b.so # c\n", "/lib/a.so:/lib/b.so # c\n"},
        {"/lib/a.so\t" + P + "#c\n", "/lib/a.so#c\n"},
        {"/lib/a.so  " + P + "  /lib/b.so", "/lib/a.so   /lib/b.so"},
        {"x\n  " + P + " /lib/b.so\ny\n", "x\n  /lib/b.so\ny\n"},
        {P + ":" + P + " /lib/b.so\n", "/lib/b.so\n"},
        {"/lib/a.so " + P + ":" + P + "\n", "/lib/a.so\n"},
        {P + "\r " + P + "\n", P + "\r\n"},
    };
    for (const auto& c : cases) {
        DisablePlan plan = ombrex_cli_planDisable(c.before.c_str(), kPath);
        EXPECT_EQ(plan.outcome, DisableOutcome::Write) << c.before;
        EXPECT_EQ(takeText(plan.newContent), c.after) << c.before;
    }
}

// The loader cannot read a path holding a blank, ':' or '#' as one entry; a line of its own
// holding it, which enable refuses to write but a hand may have, is still taken out whole.
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
    plan = ombrex_cli_planDisable((P + "\t" + P + ".old\n").c_str(), kPath);
    ASSERT_EQ(plan.outcome, DisableOutcome::Write);
    EXPECT_TRUE(plan.referenceRemains);
    EXPECT_EQ(takeText(plan.newContent), P + ".old\n");

    // Only the first of two entries for a path without the file name goes; no warning.
    plan = ombrex_cli_planDisable("/opt/logger.so\n/opt/logger.so\n", "/opt/logger.so");
    ASSERT_EQ(plan.outcome, DisableOutcome::Write);
    EXPECT_FALSE(plan.referenceRemains);
    EXPECT_EQ(takeText(plan.newContent), "/opt/logger.so\n");
}

TEST(PlanDisable, UndoesEnableOnContentWithoutReferences) {
    for (const std::string before : {"", "/lib/a.so", "/lib/a.so\n", "#x\n\n/lib/b.so\n"}) {
        EnablePlan enabled = ombrex_cli_planEnable(before.c_str(), kPath);
        ASSERT_EQ(enabled.outcome, EnableOutcome::Write);
        DisablePlan disabled = ombrex_cli_planDisable(enabled.newContent, kPath);
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
        {"", kPath, PreloadVerdict::NotEnabled},
        {"# " + P + "\n", kPath, PreloadVerdict::NotEnabled},
        {P + "\n", kPath, PreloadVerdict::Enabled},
        {"/opt/libombrex.so\n", kPath, PreloadVerdict::ForeignEntry},
        {"/opt/libombrex.so\n" + P + "\n", kPath, PreloadVerdict::Multiple},
        {"/opt/logger.so\n", "/opt/logger.so", PreloadVerdict::NotEnabled},
        {"/opt/logger.so\n/x/libombrex.so\n", "/opt/logger.so", PreloadVerdict::Enabled},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ombrex_cli_judgePreloadContent(c.content.c_str(), c.library), c.verdict)
            << c.content;
    }
}

} // namespace
