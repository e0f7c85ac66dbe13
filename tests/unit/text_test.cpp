#include "preload/text.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

constexpr const char* libraryPath = "/usr/local/lib/libombrex.so";

// Offset of a found position in text, or -1 for none.
long offsetOf(const char* text, const char* found) {
    return found == nullptr ? -1 : static_cast<long>(found - text);
}

struct EntryCase {
    const char* name;
    std::string text;
    long expected;
};

TEST(FindEntry, RecognisesEntriesOnlyAtLineStartWithAProperEnd) {
    const std::string p = libraryPath;
    const EntryCase cases[] = {
        {"own line", p + "\n", 0},
        {"end of text without LF", "/lib/a.so\n" + p, 10},
        {"before TAB", p + "\t# note\n", 0},
        {"before SPACE and second path", p + " /lib/b.so\n", 0},
        {"before comment", p + "# note\n", 0},
        {"whole text", p, 0},
        {"after leading blanks", "  " + p + "\n", -1},
        {"after leading TAB", "\t" + p + "\n", -1},
        {"before CR", p + "\r\n", -1},
        {"longer name", p + ".1\n", -1},
        {"longer directory", "/opt" + p + "\n", -1},
        {"commented", "#" + p + "\n", -1},
        {"empty text", "", -1},
        {"later occurrence at line start", "x" + p + "\n" + p + "\n",
         1 + static_cast<long>(p.size()) + 1},
        {"occurrence after a CR one", p + "\r\n" + p + "\n", static_cast<long>(p.size()) + 2},
        {"after a NUL byte is not seen", std::string("a\n\0", 3) + p, -1},
    };
    for (const EntryCase& c : cases) {
        EXPECT_EQ(offsetOf(c.text.c_str(), ombrex_cli_findEntry(c.text.c_str(), libraryPath)),
                  c.expected)
            << c.name;
    }
}

TEST(FindEntry, EmptyPathFindsNothing) {
    EXPECT_EQ(ombrex_cli_findEntry("\n\n", ""), nullptr);
    EXPECT_EQ(ombrex_cli_findEntry("", ""), nullptr);
}

// The dynamic linker's reading: the whole text split at blanks, TABs, LFs and ':', with a
// '#' anywhere starting a comment to the end of its line.
TEST(FindLoaderEntry, FindsTheEntryWhereverTheLoaderReadsIt) {
    const std::string p = libraryPath;
    const long n = static_cast<long>(p.size());
    const EntryCase cases[] = {
        {"own line", p + "\n", 0},
        {"after leading blanks", "  " + p + "\n", 2},
        {"after a TAB", "\t" + p, 1},
        {"after another entry and a blank", "/opt/a.so " + p + "\n", 10},
        {"between colons", "/opt/a.so:" + p + ":/opt/b.so\n", 10},
        {"right before a comment", p + "#x\n", 0},
        {"after an empty line and a comment line", "\n# x\n" + p, 5},
        {"a comment ends at its LF", "/opt/a.so # x\n" + p + "\n", 14},
        {"in a comment from the line start", "# " + p + "\n", -1},
        {"in a comment after an entry", "/opt/a.so #" + p + "\n", -1},
        {"a hash inside an entry starts the comment", "/opt/a.so#" + p + "\n", -1},
        {"a CR is part of the entry", p + "\r\n", -1},
        {"a CR before it joins it to the entry", "\r" + p + "\n", -1},
        {"longer name", p + ".1\n", -1},
        {"longer directory", "/opt" + p + "\n", -1},
        {"after a longer entry on the same line", p + ".1 " + p + "\n", n + 3},
        {"after a NUL byte is not seen", std::string("a\n\0", 3) + p, -1},
        {"empty text", "", -1},
    };
    for (const EntryCase& c : cases) {
        EXPECT_EQ(offsetOf(c.text.c_str(), ombrex_cli_findLoaderEntry(c.text.c_str(), libraryPath)),
                  c.expected)
            << c.name;
    }
}

// No entry the loader reads can hold a separator or a '#'; such paths are never found, even
// where their bytes stand.
TEST(FindLoaderEntry, PathsThatCannotBeOneEntryAreNeverFound) {
    for (const char* path :
         {"", "/my libs/libombrex.so", "/a:b.so", "/x#y.so", "/t\tb.so", "/l\nf.so"}) {
        std::string text = std::string(path) + "\n";
        EXPECT_FALSE(ombrex_cli_isLoaderEntryPath(path)) << path;
        EXPECT_EQ(ombrex_cli_findLoaderEntry(text.c_str(), path), nullptr) << path;
    }
    EXPECT_TRUE(ombrex_cli_isLoaderEntryPath(libraryPath));
    EXPECT_TRUE(ombrex_cli_isLoaderEntryPath("rel\r.so"));
}

struct LineCase {
    const char* name;
    const char* text;
    const char* needle;
    long expected;
};

TEST(FindUncommentedLine, JudgesEachOccurrenceByItsLinesFirstByte) {
    const LineCase cases[] = {
        {"only on a comment", "# /lib/libombrex.so\n", "libombrex.so", -1},
        {"twice on a comment", "#libombrex.so libombrex.so\n", "libombrex.so", -1},
        {"comment then entry", "# libombrex.so\n/x/libombrex.so\n", "libombrex.so", 15},
        {"returns line start, not occurrence", "a\n/x/libombrex.so\n", "libombrex.so", 2},
        {"blank before hash is not a comment", " # libombrex.so\n", "libombrex.so", 0},
        {"first line", "libombrex.so", "libombrex.so", 0},
        {"none", "/lib/a.so\n", "libombrex.so", -1},
        {"empty text", "", "libombrex.so", -1},
        {"empty needle", "libombrex.so\n", "", -1},
        {"CR is ordinary", "#a\r/x/libombrex.so\n", "libombrex.so", -1},
        {"needle starting with LF", "#a\nb\n", "\nb", 3},
        {"needle holding LF", "#x\nab\ncd\nab\n", "b\nc", 3},
    };
    for (const LineCase& c : cases) {
        EXPECT_EQ(offsetOf(c.text, ombrex_cli_findUncommentedLine(c.text, c.needle)), c.expected)
            << c.name;
    }
}

TEST(DuplicateReference, CountsLinesNotMentions) {
    const struct {
        const char* text;
        bool duplicate;
    } cases[] = {
        {"/a/libombrex.so /b/libombrex.so\n", false},
        {"/a/libombrex.so\n/b/libombrex.so\n", true},
        {"/a/libombrex.so\n#/b/libombrex.so\n", false},
        {"# libombrex.so\n/a/libombrex.so\n", false},
        {"x libombrex.so\n\n  libombrex.so.1", true},
        {"", false},
        {"/a/libombrex.so", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ombrex_cli_hasDuplicateReference(c.text), c.duplicate) << c.text;
    }
}

TEST(LineLength, CountsUpToTheFirstLf) {
    EXPECT_EQ(ombrex_cli_lineLength(""), 0);
    EXPECT_EQ(ombrex_cli_lineLength("\nabc"), 0);
    EXPECT_EQ(ombrex_cli_lineLength("abc"), 3);
    EXPECT_EQ(ombrex_cli_lineLength("ab\r\ncd"), 3);
}

TEST(CopyLine, CopiesTheFirstLineWithoutItsLf) {
    for (const char* text : {"", "\nrest", "abc", "abc\ndef"}) {
        char* copy = ombrex_cli_copyLine(text);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(std::string(copy),
                  std::string(text, static_cast<size_t>(ombrex_cli_lineLength(text))));
        std::free(copy);
    }
}

// One 8 MiB comment line full of the needle: a search that walked back over the line for
// every occurrence would take hours; this one finishes at once (ctest's timeout guards it).
TEST(AdversarialInput, LongCommentLineFullOfNeedlesIsLinear) {
    std::string text = "#";
    while (text.size() < 8u * 1024 * 1024) {
        text += "libombrex.so";
    }
    std::string withEntry = text + "\n/usr/local/lib/libombrex.so\n";
    EXPECT_EQ(ombrex_cli_findUncommentedLine(text.c_str(), "libombrex.so"), nullptr);
    EXPECT_EQ(offsetOf(withEntry.c_str(),
                       ombrex_cli_findUncommentedLine(withEntry.c_str(), "libombrex.so")),
              static_cast<long>(text.size() + 1));
    EXPECT_FALSE(ombrex_cli_hasDuplicateReference(withEntry.c_str()));
    EXPECT_EQ(offsetOf(withEntry.c_str(), ombrex_cli_findEntry(withEntry.c_str(), libraryPath)),
              static_cast<long>(text.size() + 1));
    EXPECT_EQ(
        offsetOf(withEntry.c_str(), ombrex_cli_findLoaderEntry(withEntry.c_str(), libraryPath)),
        static_cast<long>(text.size() + 1));
}

} // namespace
