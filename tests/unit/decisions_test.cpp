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

TEST(PlanDisable, CutsTheWholeEntryLineAndNothingElse) {
    const struct {
        std::string before;
        std::string after;
        bool remains;
    } cases[] = {
        {P + "\n", "", false},
        {"/lib/a.so\n" + P, "/lib/a.so\n", false},
        {"/lib/a.so\n" + P + " # note\n/lib/b.so\n", "/lib/a.so\n/lib/b.so\n", false},
        {P + " /lib/second.so\n", "", false},
        {"# " + P + "\n" + P + "\n\n", "# " + P + "\n\n", false},
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
        {"  " + P + "\n", kPath, DisableOutcome::AlreadyAbsent},
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

TEST(PlanDisable, ReportsAReferenceThatRemains) {
    DisablePlan plan =
        ombrex_cli_planDisable("/opt/logger.so\n/x/libombrex.so\n", "/opt/logger.so");
    ASSERT_EQ(plan.outcome, DisableOutcome::Write);
    EXPECT_TRUE(plan.referenceRemains);
    EXPECT_EQ(takeText(plan.newContent), "/x/libombrex.so\n");

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
