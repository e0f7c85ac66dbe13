// The rules that leave executions out: the pattern matcher against the C library's fnmatch,
// the values each list keeps, and the verdicts on this very process.
#include "libombrex/rules.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "libombrex/facts.h"
#include "libombrex/pattern.h"

namespace {

bool matches(const std::string& pattern, const std::string& path) {
    return ombrex::matchesPattern(pattern.data(), pattern.size(), path.c_str());
}

bool readable(const std::string& pattern) {
    return ombrex::isReadablePattern(pattern.data(), pattern.size());
}

bool fnmatches(const std::string& pattern, const std::string& path) {
    return fnmatch(pattern.c_str(), path.c_str(), FNM_PATHNAME) == 0;
}

struct MatchCase {
    const char* pattern;
    const char* path;
    bool matched;
};

TEST(Pattern, MatchesAsFnmatchWithPathname) {
    const MatchCase cases[] = {
        {"/usr/bin/df", "/usr/bin/df", true},
        {"/usr/bin/df", "/usr/bin/dfx", false},
        {"/usr/bin/df", "/usr/bin/d", false},
        {"/usr/bin/d*", "/usr/bin/df", true},
        {"/usr/bin/d*", "/usr/bin/d", true},
        {"/usr/bin/*", "/usr/bin/df", true},
        {"/usr/bin/*", "/usr/bin/sub/df", false}, // no `*` takes a `/`
        {"/usr/*", "/usr/bin/df", false},
        {"/usr/*/df", "/usr/bin/df", true},
        {"/usr/*/df", "/usr/local/bin/df", false},
        {"/usr/*/*/df", "/usr/local/bin/df", true},
        {"/*", "/df", true},
        {"/*", "/usr/df", false},
        {"/usr/lib/gcc/*/*/cc1*", "/usr/lib/gcc/x86_64-linux-gnu/12/cc1plus", true},
        {"/usr/lib/gcc/*/*/cc1*", "/usr/lib/gcc/x86_64-linux-gnu/12/collect2", false},
        {"/a*b*c", "/abxbyc", true},
        {"/a*b*c", "/abxbycd", false},
        {"/a*b", "/a/b", false},
        {"/a**b", "/axxb", true},
        {"/a**b", "/ax/xb", false},
        {"/*.sh", "/.profile.sh", true}, // no special leading period
        {"/usr/bin/?f", "/usr/bin/df", true},
        {"/usr/bin/?f", "/usr/bin/f", false},
        {"/usr?bin/df", "/usr/bin/df", false}, // nor does `?` take a `/`
        {"/usr/bin/[cd]f", "/usr/bin/df", true},
        {"/usr/bin/[!cd]f", "/usr/bin/df", false},
        {"/usr/bin/[^cd]f", "/usr/bin/ef", true},
        {"/usr/bin/[a-e]f", "/usr/bin/df", true},
        {"/usr/bin/[a-c]f", "/usr/bin/df", false},
        {"/x[]]", "/x]", true},
        {"/x[!]]", "/x]", false},
        {"/x[a-]", "/x-", true},
        {"/x[-a]", "/x-", true},
        {"/x[.-0]y", "/x/y", false}, // a range around `/` still never matches it
        {"/x\\*", "/x*", true},
        {"/x\\*", "/xa", false},
        {"/x\\[a]", "/x[a]", true},
        {"/x[\\]]", "/x]", true},
        {"/caf\xc3\xa9", "/caf\xc3\xa9", true},
        {"/caf?", "/caf\xc3\xa9", false}, // bytes, not characters
        {"/caf??", "/caf\xc3\xa9", true},
    };
    for (const MatchCase& c : cases) {
        ASSERT_TRUE(readable(c.pattern)) << c.pattern;
        EXPECT_EQ(matches(c.pattern, c.path), c.matched) << c.pattern << " " << c.path;
        EXPECT_EQ(fnmatches(c.pattern, c.path), c.matched)
            << "fnmatch differs: " << c.pattern << " " << c.path;
    }
}

// "/" followed by every sequence of at most `most` parts.
std::vector<std::string> everyJoin(const std::vector<std::string>& parts, int most) {
    std::vector<std::string> all = {"/"};
    std::vector<std::string> last = all;
    for (int length = 1; length <= most; ++length) {
        std::vector<std::string> longer;
        for (const std::string& text : last) {
            for (const std::string& part : parts) {
                longer.push_back(text + part);
            }
        }
        all.insert(all.end(), longer.begin(), longer.end());
        last = longer;
    }
    return all;
}

// Every readable pattern and path built from a few characters, against fnmatch.
TEST(Pattern, AgreesWithFnmatchOnEverySmallPattern) {
    const std::vector<std::string> patternParts = {"a", "b", "/", "*", "?", "[ab]", "[!a]", "\\*"};
    const std::vector<std::string> pathParts = {"a", "b", "/", "*"};
    const std::vector<std::string> patterns = everyJoin(patternParts, 3);
    const std::vector<std::string> paths = everyJoin(pathParts, 5);
    size_t compared = 0;
    for (const std::string& pattern : patterns) {
        if (!readable(pattern)) {
            continue;
        }
        for (const std::string& path : paths) {
            ASSERT_EQ(matches(pattern, path), fnmatches(pattern, path)) << pattern << " " << path;
            ++compared;
        }
    }
    EXPECT_GT(compared, 200000u);
}

TEST(Pattern, ReadsOnlyWhatCanMatchAResolvedPath) {
    const struct {
        const char* pattern;
        bool readable;
    } cases[] = {
        {"/usr/bin/df", true},
        {"/usr/lib/gcc/*/*/cc1*", true},
        {"/x[a-z]y", true},
        {"/x\\ y", true},
        {"", false},
        {"usr/bin/df", false},           // relative
        {"*/df", false},                 // relative
        {"~/bin/df", false},             // no shell expands it
        {"/", false},                    // no file
        {"/usr/bin/", false},            // a directory
        {"/usr//bin/df", false},         // an empty component
        {"/usr/./bin/df", false},        // resolved paths have no `.`
        {"/usr/lib/../bin/df", false},   // nor `..`
        {"/usr/bin/[df", false},         // bracket not closed
        {"/usr/bin/[]", false},          // `]` first is a character: not closed
        {"/usr/bin/[!]", false},         // likewise
        {"/usr/bin/df\\", false},        // nothing after the backslash
        {"/usr/bin/[[:alpha:]]", false}, // character classes are not read
        {"/usr/bin/[[=a=]]", false},     // nor equivalence classes
        {"/usr/[a/b]in/df", false},      // a bracket never matches `/`
        {"/usr/bin/[z-a]", false},       // a range that runs backwards
        {"/usr/bin/[a-\\", false},       // a range without its end
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readable(c.pattern), c.readable) << c.pattern;
    }
}

std::string kept(std::string list, ombrex::ListKind kind) {
    std::vector<char> text(list.begin(), list.end());
    text.push_back(0);
    return ombrex::keepValidValues(text.data(), kind);
}

TEST(Rules, ListsKeepTheirValidValues) {
    using ombrex::ListKind;
    const struct {
        const char* what;
        const char* list;
        ListKind kind;
        const char* kept;
    } cases[] = {
        {"empty", "", ListKind::Uids, ""},
        {"blanks only", " \t ", ListKind::Uids, ""},
        {"ids and ranges", "0 1000-1999\t65534", ListKind::Uids, "0 1000-1999 65534"},
        {"largest id", "4294967294 0-4294967294", ListKind::Uids, "4294967294 0-4294967294"},
        {"out of range", "4294967295 99999999999 0-4294967295", ListKind::Uids, ""},
        {"signs and open ranges", "-1 +5 5- -5 1--2", ListKind::Uids, ""},
        {"a range that runs backwards", "10-5 5-5", ListKind::Uids, "5-5"},
        {"not numbers", "root 1e3 0x10 1.5 10ms", ListKind::Uids, ""},
        {"eleven digits, leading zeros", "00000000001 0001", ListKind::Uids, "0001"},
        {"unset is only for login ids", "unset 7", ListKind::Uids, "7"},
        {"unset, in any case, written as unset", "UNSET Unset unset unsets", ListKind::Auids,
         "unset unset unset"},
        {"mixed", "abc 998 x-y 1000-1999 -3", ListKind::Auids, "998 1000-1999"},
        {"paths", "/usr/bin/df  rel/x /usr/lib/gcc/*/*/cc1 /x[ /bin/ss", ListKind::Paths,
         "/usr/bin/df /usr/lib/gcc/*/*/cc1 /bin/ss"},
        {"ids are not paths", "1000 /usr/bin/df", ListKind::Paths, "/usr/bin/df"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kept(c.list, c.kind), c.kept) << c.what;
    }
}

// The verdicts on the process that runs the test: its real uid, its login uid, its own
// program, and programs in a scratch directory, one of them reached through a link.
class Verdicts : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/ombrex-rules.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        char resolved[PATH_MAX];
        ASSERT_NE(realpath(pattern, resolved), nullptr);
        dir = resolved;
        program = dir + "/tool";
        close(open(program.c_str(), O_WRONLY | O_CREAT, 0755));
        ASSERT_EQ(symlink("tool", (dir + "/link").c_str()), 0);
        char self[PATH_MAX] = {};
        ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
        exe = self;
        ombrex::setDefaults(options);
    }
    void TearDown() override {
        ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
    }
    static ombrex::ExecEvent event(const char* file, ombrex::Search search) {
        return ombrex::ExecEvent{"execve", file, nullptr, -1, AT_FDCWD, 0, search, false};
    }
    // Whether the rules leave the event out, and which kinds they left pending.
    // What the rules read is kept in `known`, the calling program's file in `text`.
    bool leftOut(const ombrex::ExecEvent& e, const char* found, size_t room, unsigned& pending) {
        text.assign(room + 1, 0);
        pending = ombrex::rulesOf(options);
        ombrex::Held held;
        ombrex::RuleCheck check{options, e, held, ombrex::Known{nullptr, 0, false, false}};
        const bool out =
            ombrex::leftOut(check, found, ombrex::PathRoom{text.data(), room}, pending);
        known = check.known;
        held.closeAll();
        return out;
    }
    std::vector<char> text;
    ombrex::Known known{};
    std::string dir;
    std::string program;
    std::string exe;
    ombrex::Options options{};
};

TEST_F(Verdicts, WhoRunsIt) {
    const std::string uid = std::to_string(getuid());
    const std::string other = std::to_string(getuid() + 1);
    unsigned pending = 0;
    options.skipUid = uid.c_str();
    EXPECT_TRUE(leftOut(event("/x", ombrex::Search::None), nullptr, 0, pending));
    options.skipUid = other.c_str();
    EXPECT_FALSE(leftOut(event("/x", ombrex::Search::None), nullptr, 0, pending));
    EXPECT_EQ(pending, 0u);
    options.skipUid = "";
    options.skipAuid = "0-4294967294 unset"; // every login uid there is
    EXPECT_TRUE(leftOut(event("/x", ombrex::Search::None), nullptr, 0, pending));
}

TEST_F(Verdicts, TheCallingProgram) {
    unsigned pending = 0;
    options.skipExe = exe.c_str();
    EXPECT_TRUE(leftOut(event("/x", ombrex::Search::None), nullptr, PATH_MAX, pending));
    // A room too small for the path leaves the rule to a larger one.
    EXPECT_FALSE(leftOut(event("/x", ombrex::Search::None), nullptr, exe.size(), pending));
    EXPECT_EQ(pending, ombrex::exeRules);
    EXPECT_TRUE(leftOut(event("/x", ombrex::Search::None), nullptr, exe.size() + 1, pending));
    EXPECT_FALSE(leftOut(event("/x", ombrex::Search::None), nullptr, 0, pending));
    EXPECT_EQ(pending, ombrex::exeRules);
    options.skipExe = "/nowhere/*";
    EXPECT_FALSE(leftOut(event("/x", ombrex::Search::None), nullptr, PATH_MAX, pending));
    EXPECT_EQ(pending, 0u);
    // Read once: the record takes the file that the rule read.
    ASSERT_TRUE(known.exe);
    ASSERT_NE(known.exeText, nullptr);
    EXPECT_EQ(std::string(known.exeText), exe);
    EXPECT_FALSE(known.auid);
}

TEST_F(Verdicts, TheLoginUidIsReadOnce) {
    unsigned pending = 0;
    options.skipAuid = "4294967294"; // no login uid that a test runs under
    EXPECT_FALSE(leftOut(event("/x", ombrex::Search::None), nullptr, 0, pending));
    ASSERT_TRUE(known.auid);
    ombrex::Held held;
    EXPECT_EQ(known.auidValue, ombrex::loginUid(held));
    held.closeAll();
}

TEST_F(Verdicts, TheProgramItsLinksAndItsSearch) {
    const std::string list = program;
    options.skipProgram = list.c_str();
    const std::string link = dir + "/link";
    const std::string missing = dir + "/missing";
    unsigned pending = 0;
    EXPECT_TRUE(leftOut(event(program.c_str(), ombrex::Search::None), nullptr, PATH_MAX, pending));
    EXPECT_TRUE(leftOut(event(link.c_str(), ombrex::Search::None), nullptr, PATH_MAX, pending));
    EXPECT_FALSE(leftOut(event(missing.c_str(), ombrex::Search::None), nullptr, PATH_MAX, pending));
    EXPECT_EQ(pending, 0u);
    // execveat with AT_SYMLINK_NOFOLLOW runs the link itself, if anything.
    ombrex::ExecEvent noFollow = event(link.c_str(), ombrex::Search::None);
    noFollow.flags = AT_SYMLINK_NOFOLLOW;
    EXPECT_FALSE(leftOut(noFollow, nullptr, PATH_MAX, pending));
    // A descriptor: what it refers to.
    const int fd = open(link.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ombrex::ExecEvent byDescriptor = event("", ombrex::Search::None);
    byDescriptor.fd = fd;
    byDescriptor.dirfd = fd;
    EXPECT_TRUE(leftOut(byDescriptor, nullptr, PATH_MAX, pending));
    close(fd);
    // A name is known only once the search has found it; a name with a slash is not searched.
    EXPECT_FALSE(leftOut(event("tool", ombrex::Search::Path), nullptr, PATH_MAX, pending));
    EXPECT_EQ(pending, ombrex::programRules);
    EXPECT_TRUE(leftOut(event("tool", ombrex::Search::Path), link.c_str(), PATH_MAX, pending));
    EXPECT_FALSE(leftOut(event("tool", ombrex::Search::Path), "", PATH_MAX, pending));
    EXPECT_EQ(pending, 0u);
    EXPECT_TRUE(leftOut(event(link.c_str(), ombrex::Search::Path), nullptr, PATH_MAX, pending));
    // A rule naming the link names no file that runs.
    options.skipProgram = link.c_str();
    EXPECT_FALSE(leftOut(event(link.c_str(), ombrex::Search::None), nullptr, PATH_MAX, pending));
}

} // namespace
