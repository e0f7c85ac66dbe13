// enable, disable and status through the built binary, against scratch preload files and
// scratch library files: exact output, exit status and the preload file's bytes afterwards.
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/support/expected.h"
#include "tests/support/run.h"

namespace ombrex::test {
namespace {

using namespace std::string_literals;

// Which library path the run is given through the override.
enum class Library {
    Standard, // <scratch>/lib/libombrex.so, readable
    Custom,   // <scratch>/lib/custom-logger.so: "libombrex.so" is not in its name
    Missing,  // <scratch>/lib/absent/libombrex.so, no such file
    Spaced,   // <scratch>/lib/my libs/libombrex.so: the loader would read two entries
    Empty,    // the override is set to the empty text
};

// Expected texts hold {P} for the preload path and {L} for the library path.
struct Outcome {
    std::string out;
    std::string err;
    int status;
    // The file's bytes afterwards; nullopt when it must be as before (or still absent).
    std::optional<std::string> file;
};

// Standard error before the action's own lines: the library is resolved once, the preload
// file once per read and once per write.
std::string warnings(int preloadResolutions) {
    return overrideWarnings("{P}", "{L}", preloadResolutions);
}

Outcome enableWrites(const std::string& file) {
    return {enabledOut("{P}", "{L}"), warnings(2), 0, file};
}

Outcome enableAlready() {
    return {alreadyEnabledOut("{P}", "{L}"), warnings(1), 0, std::nullopt};
}

Outcome enableAnother() {
    return {referenceDiagnostics("{P}"), warnings(1) + anotherInstance, 127, std::nullopt};
}

Outcome refuseNul() {
    return {diag("ld.so.preload path", "{P}"), warnings(1) + nulRefused, 127, std::nullopt};
}

Outcome enableRefusesBlanks() {
    return {diag("libombrex.so path", "{L}"), warnings(0) + pathSplits, 127, std::nullopt};
}

Outcome noLibrary() {
    return {diag("libombrex.so path", "{L}"), warnings(0) + libraryInaccessible, 127, std::nullopt};
}

Outcome disableRemoves(const std::string& file) {
    return {disabledOut, warnings(2), 0, file};
}

Outcome disableRemovesAndWarns(const std::string& file) {
    return {disabledOut + referenceDiagnostics("{P}"), warnings(2) + anotherInstanceWarning, 0,
            file};
}

Outcome disableAbsent() {
    return {alreadyAbsentOut("{P}", "{L}"), warnings(1), 0, std::nullopt};
}

Outcome disableDuplicate() {
    // The one place where the search string comes before the path.
    return {diag("Search string", "libombrex.so") + diag("ld.so.preload path", "{P}"),
            warnings(1) + duplicateEntry, 127, std::nullopt};
}

Outcome statusNotEnabled() {
    return {preloadNotEnabledLine + unpreloadedProcessLines, warnings(1), 0, std::nullopt};
}

Outcome statusEnabled() {
    return {preloadEnabledLine + unpreloadedProcessLines, warnings(1), 0, std::nullopt};
}

Outcome statusForeign() {
    return {preloadForeignLine + unpreloadedProcessLines, warnings(1), 0, std::nullopt};
}

Outcome statusMultiple() {
    return {referenceDiagnostics("{P}"), warnings(1) + multipleReferences, 127, std::nullopt};
}

struct Row {
    const char* name;
    Library library;
    std::optional<std::string> content; // nullopt: no preload file
    Outcome enable;
    Outcome disable;
    Outcome status;
};

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

// The tool's scratch files, with the library override chosen by the row: beside the standard
// stand-in, lib/ holds a second readable library file whose name lacks "libombrex.so".
class World {
  public:
    explicit World(Library library) {
        const std::string custom = files_.lib + "/custom-logger.so";
        writeFile(custom, "stands in for the library; never loaded\n", 0644);
        switch (library) {
        case Library::Standard:
            library_ = files_.library;
            break;
        case Library::Custom:
            library_ = custom;
            break;
        case Library::Missing:
            library_ = files_.lib + "/absent/libombrex.so";
            break;
        case Library::Spaced:
            std::filesystem::create_directory(files_.lib + "/my libs");
            library_ = files_.lib + "/my libs/libombrex.so";
            writeFile(library_, "stands in for the library; never loaded\n", 0644);
            break;
        case Library::Empty:
            library_ = "";
            break;
        }
    }
    const std::string& preload() const {
        return files_.preload;
    }
    const std::string& library() const {
        return library_;
    }
    std::string expand(const std::string& text) const {
        return replaceAll(replaceAll(text, "{P}", preload()), "{L}", library_);
    }
    RunResult run(const std::string& action) const {
        return runTool({action}, withOverrides(preload(), library_));
    }
    // Names in the preload file's directory: a rewrite must leave nothing else behind.
    std::set<std::string> etcEntries() const {
        return entriesOf(files_.etc);
    }

  private:
    ToolFiles files_;
    std::string library_;
};

void expectOutcome(const World& world, const std::optional<std::string>& before,
                   const RunResult& result, const Outcome& expected, const std::string& what) {
    EXPECT_EQ(result.out, world.expand(expected.out)) << what;
    EXPECT_EQ(result.err, world.expand(expected.err)) << what;
    EXPECT_EQ(result.status, expected.status) << what;
    std::optional<std::string> after = expected.file ? world.expand(*expected.file) : before;
    if (after) {
        ASSERT_TRUE(fileExists(world.preload())) << what;
        EXPECT_EQ(readFile(world.preload()), *after) << what;
        EXPECT_EQ(world.etcEntries(), std::set<std::string>{"ld.so.preload"}) << what;
    } else {
        EXPECT_EQ(world.etcEntries(), std::set<std::string>{}) << what;
    }
}

const std::string builtInLibraryPath = "/usr/local/lib/libombrex.so";

TEST(Activation, EachPreloadContentGivesTheSpecifiedOutcome) {
    const Row rows[] = {
        {"no file", Library::Standard, std::nullopt, enableWrites("{L}\n"), disableAbsent(),
         statusNotEnabled()},
        {"empty file", Library::Standard, "", enableWrites("{L}\n"), disableAbsent(),
         statusNotEnabled()},
        {"only a comment mentioning the path", Library::Standard, "# {L}\n",
         enableWrites("# {L}\n{L}\n"), disableAbsent(), statusNotEnabled()},
        {"entry alone", Library::Standard, "{L}\n", enableAlready(), disableRemoves(""),
         statusEnabled()},
        {"entry followed by a blank and a comment, between two others", Library::Standard,
         "/opt/first.so\n{L} # active\n/opt/last.so\n", enableAlready(),
         disableRemoves("/opt/first.so\n/opt/last.so\n"), statusEnabled()},
        {"entry without a final LF after another line", Library::Standard, "/opt/other.so\n{L}",
         enableAlready(), disableRemoves("/opt/other.so\n"), statusEnabled()},
        {"another library without a final LF", Library::Standard, "/opt/other.so",
         enableWrites("/opt/other.so\n{L}\n"), disableAbsent(), statusNotEnabled()},
        {"foreign path ending in libombrex.so", Library::Standard, "/opt/elsewhere/libombrex.so\n",
         enableAnother(), disableAbsent(), statusForeign()},
        {"entry and a foreign reference", Library::Standard, "{L}\n/opt/elsewhere/libombrex.so\n",
         enableAlready(), disableDuplicate(), statusMultiple()},
        {"two uncommented foreign references around a commented one", Library::Standard,
         "/a/libombrex.so\n#/c/libombrex.so\n/b/libombrex.so\n", enableAnother(),
         disableDuplicate(), statusMultiple()},
        {"the entry listed twice", Library::Standard, "{L}\n{L}\n", enableAlready(),
         disableDuplicate(), statusMultiple()},
        // The other mention stays on the line, so disable warns about it.
        {"two mentions on one line count once", Library::Standard, "{L}\t{L}.old\n",
         enableAlready(), disableRemovesAndWarns("{L}.old\n"), statusEnabled()},
        {"blanks before the path", Library::Standard, " \t{L}\n", enableAnother(),
         disableRemoves(""), statusForeign()},
        {"a CR before the LF", Library::Standard, "{L}\r\n", enableAnother(), disableAbsent(),
         statusForeign()},
        {"the path with a further suffix", Library::Standard, "{L}.1\n", enableAnother(),
         disableAbsent(), statusForeign()},
        {"an entry line carrying a second path", Library::Standard,
         "{L} /opt/second.so\n/opt/third.so\n", enableAlready(),
         disableRemoves("/opt/second.so\n/opt/third.so\n"), statusEnabled()},
        {"a commented copy before the entry", Library::Standard, "#{L}\n{L}\n", enableAlready(),
         disableRemoves("#{L}\n"), statusEnabled()},

        // disable reads the file as the dynamic linker does (entries split at blanks, TABs,
        // LFs and ':', '#' starting a comment anywhere) and takes out only the library's
        // entry; enable and status keep their line-based reading.
        {"the entry, then another library", Library::Standard, "{L} /opt/b.so\n", enableAlready(),
         disableRemoves("/opt/b.so\n"), statusEnabled()},
        {"another library, then the entry", Library::Standard, "/opt/a.so {L}\n", enableAnother(),
         disableRemoves("/opt/a.so\n"), statusForeign()},
        {"the entry between colons, with a comment", Library::Standard,
         "/opt/a.so:{L}:/opt/b.so # c\n", enableAnother(),
         disableRemoves("/opt/a.so:/opt/b.so # c\n"), statusForeign()},
        {"two blanks before the entry", Library::Standard, "  {L}\n", enableAnother(),
         disableRemoves(""), statusForeign()},
        {"the entry and a comment", Library::Standard, "{L} # keep\n", enableAlready(),
         disableRemoves(""), statusEnabled()},
        {"the entry behind a comment sign on another library's line", Library::Standard,
         "/opt/a.so#{L}\n", enableAnother(), disableAbsent(), statusForeign()},
        {"custom library after another one", Library::Custom, "/opt/a.so {L}\n",
         enableWrites("/opt/a.so {L}\n{L}\n"), disableRemoves("/opt/a.so\n"), statusNotEnabled()},

        // A library path without "libombrex.so" in it: entries are matched by path, references
        // by the fixed file name.
        {"custom library, no file", Library::Custom, std::nullopt, enableWrites("{L}\n"),
         disableAbsent(), statusNotEnabled()},
        {"custom library listed", Library::Custom, "{L}\n", enableAlready(), disableRemoves(""),
         statusNotEnabled()},
        {"custom library listed beside a reference", Library::Custom, "{L}\n/opt/x/libombrex.so\n",
         enableAlready(), disableRemovesAndWarns("/opt/x/libombrex.so\n"), statusEnabled()},
        {"custom library listed twice", Library::Custom, "{L}\n{L}\n", enableAlready(),
         disableRemoves("{L}\n"), statusNotEnabled()},
        {"custom library, the built-in path listed", Library::Custom, builtInLibraryPath + "\n",
         enableAnother(), disableAbsent(), statusForeign()},

        // enable and status need the library file; disable removes its entry all the same.
        {"missing library file", Library::Missing, "/opt/a.so\n{L}\n", noLibrary(),
         disableRemoves("/opt/a.so\n"), noLibrary()},
        // Listed by hand as a line of its own: enable refuses such a path, and disable still
        // takes that line out.
        {"a path with a blank on a line of its own", Library::Spaced, "/opt/a.so\n{L}\n",
         enableRefusesBlanks(), disableRemoves("/opt/a.so\n"), statusEnabled()},
        {"a path with a blank after another library", Library::Spaced, "/opt/a.so {L}\n",
         enableRefusesBlanks(), disableAbsent(), statusForeign()},
        // An empty path is never searched for as an entry.
        {"empty library override", Library::Empty, builtInLibraryPath + "\n\n", noLibrary(),
         disableAbsent(), noLibrary()},

        // Text operations end at the first NUL: a rewrite would lose everything after it, so
        // only the outcomes that rewrite are refused.
        {"NUL byte, no entry before it", Library::Standard, "/opt/a.so\n\0/opt/b.so\n"s,
         refuseNul(), disableAbsent(), statusNotEnabled()},
        {"NUL byte after the entry", Library::Standard, "/opt/a.so\n{L}\n\0/opt/b.so\n"s,
         enableAlready(), refuseNul(), statusEnabled()},
        {"the entry only after a NUL byte", Library::Standard, "/opt/a.so\n\0{L}\n"s, refuseNul(),
         disableAbsent(), statusNotEnabled()},
        {"a NUL byte alone", Library::Standard, "\0"s, refuseNul(), disableAbsent(),
         statusNotEnabled()},
    };
    for (const Row& row : rows) {
        const std::pair<const char*, const Outcome*> actions[] = {
            {"enable", &row.enable}, {"disable", &row.disable}, {"status", &row.status}};
        for (const auto& [action, expected] : actions) {
            World world(row.library);
            std::optional<std::string> before;
            if (row.content) {
                before = world.expand(*row.content);
                writeFile(world.preload(), *before, 0644);
            }
            RunResult result = world.run(action);
            expectOutcome(world, before, result, *expected, std::string(row.name) + ": " + action);
        }
    }
}

// The dynamic linker must read the entry back as the one absolute path that was checked:
// a relative path is looked up from every program's working directory, and a blank, TAB, ':'
// or '#' makes it read other, shorter paths. Nothing is written.
TEST(Activation, EnableRefusesPathsTheLoaderWouldReadOtherwise) {
    const struct {
        const char* name;
        std::string file;     // the library file to create, below the scratch directory
        std::string override; // "{S}" stands for the scratch directory
        std::string workingDirectory;
        std::string error;
    } cases[] = {
        {"relative, with a directory", "lib/libombrex.so", "lib/libombrex.so", "", pathNotAbsolute},
        {"relative, a bare file name", "lib/libombrex.so", "libombrex.so", "lib", pathNotAbsolute},
        {"relative, from the working directory", "lib/libombrex.so", "./lib/libombrex.so", "",
         pathNotAbsolute},
        {"a blank in a directory", "my libs/libombrex.so", "{S}/my libs/libombrex.so", "",
         pathSplits},
        {"a TAB in a directory", "tab\tlibs/libombrex.so", "{S}/tab\tlibs/libombrex.so", "",
         pathSplits},
        {"a colon in a directory", "a:b/libombrex.so", "{S}/a:b/libombrex.so", "", pathSplits},
        {"a hash in the file name", "lib/libombrex.so#1", "{S}/lib/libombrex.so#1", "", pathSplits},
        {"relative and with a blank", "my libs/libombrex.so", "my libs/libombrex.so", "",
         pathNotAbsolute},
        {"a blank and a line feed", "my libs/lib\nombrex.so", "{S}/my libs/lib\nombrex.so", "",
         pathSplits},
    };
    const std::string before = "/opt/a.so\n";
    for (const auto& c : cases) {
        ToolFiles files;
        const ScratchDirectory& scratch = files.scratch;
        std::filesystem::create_directories(std::filesystem::path(scratch / c.file).parent_path());
        writeFile(scratch / c.file, "stands in for the library; never loaded\n", 0644);
        writeFile(files.preload, before, 0644);
        const std::string library = replaceAll(c.override, "{S}", scratch.path());
        RunOptions options = withOverrides(files.preload, library);
        options.workingDirectory = scratch / c.workingDirectory;
        RunResult result = runTool({"enable"}, options);
        EXPECT_EQ(result.out, diag("libombrex.so path", library)) << c.name;
        // Refused before the preload file is looked at.
        EXPECT_EQ(result.err, libraryWarning(library) + c.error) << c.name;
        EXPECT_EQ(result.status, 127) << c.name;
        EXPECT_EQ(readFile(files.preload), before) << c.name;
    }
}

TEST(Activation, EnableTwiceLeavesTheFirstResult) {
    World world(Library::Standard);
    writeFile(world.preload(), "# system\n/opt/a.so", 0644);
    RunResult first = world.run("enable");
    expectOutcome(world, "# system\n/opt/a.so"s, first, enableWrites("# system\n/opt/a.so\n{L}\n"),
                  "first");
    RunResult second = world.run("enable");
    expectOutcome(world, world.expand("# system\n/opt/a.so\n{L}\n"), second, enableAlready(),
                  "second");
}

TEST(Activation, EnableThenDisableRestoresTheContent) {
    struct Case {
        const char* name;
        std::optional<std::string> original;
        std::string afterDisable;
    };
    const Case cases[] = {
        // A created file is emptied, not deleted.
        {"no file", std::nullopt, ""},
        {"empty", "", ""},
        {"comments and entries", "# keep me\n/opt/a.so\n\n#/usr/local/lib/libombrex.so\n",
         "# keep me\n/opt/a.so\n\n#/usr/local/lib/libombrex.so\n"},
        // The LF that enable added to end the last line stays.
        {"no final LF", "/opt/a.so", "/opt/a.so\n"},
    };
    for (const Case& c : cases) {
        World world(Library::Standard);
        if (c.original) {
            writeFile(world.preload(), *c.original, 0640);
        }
        ASSERT_EQ(world.run("enable").status, 0) << c.name;
        RunResult result = world.run("disable");
        expectOutcome(world, c.original, result, disableRemoves(c.afterDisable), c.name);
        if (c.original) {
            // Rewritten, not recreated with new permissions.
            auto mode = std::filesystem::status(world.preload()).permissions();
            EXPECT_EQ(mode, std::filesystem::perms(0640)) << c.name;
        }
    }
}

TEST(Activation, LibraryWritableByOthersIsWarnedAbout) {
    const std::string warning = libraryWritableWarning("{L}");
    struct Case {
        mode_t mode;
        bool warned;
    };
    const Case cases[] = {{0664, true}, {0646, true}, {0644, false}, {0444, false}};
    for (const Case& c : cases) {
        char what[32];
        std::snprintf(what, sizeof what, "mode %04o", static_cast<unsigned>(c.mode));
        {
            World world(Library::Standard);
            std::filesystem::permissions(world.library(), std::filesystem::perms(c.mode));
            RunResult result = world.run("enable");
            Outcome expected = enableWrites("{L}\n");
            // Right after the library path is resolved; the run goes on as before.
            expected.err = libraryWarning("{L}") + (c.warned ? warning : "") +
                           preloadWarning("{P}") + preloadWarning("{P}");
            expectOutcome(world, std::nullopt, result, expected, std::string("enable, ") + what);
        }
        {
            World world(Library::Standard);
            writeFile(world.preload(), world.expand("{L}\n"), 0644);
            std::filesystem::permissions(world.library(), std::filesystem::perms(c.mode));
            RunResult result = world.run("status");
            Outcome expected = statusEnabled();
            expected.err =
                libraryWarning("{L}") + (c.warned ? warning : "") + preloadWarning("{P}");
            expectOutcome(world, world.expand("{L}\n"), result, expected,
                          std::string("status, ") + what);
        }
    }
    // disable does not look at the library file at all.
    World world(Library::Standard);
    writeFile(world.preload(), world.expand("{L}\n"), 0644);
    std::filesystem::permissions(world.library(), std::filesystem::perms(0666));
    expectOutcome(world, world.expand("{L}\n"), world.run("disable"), disableRemoves(""),
                  "disable");
}

// Whoever can change a directory that the dynamic linker passes on its way to the library
// can put other code in its place. A layout below a scratch directory ("{S}" in link targets),
// and the directories below it that enable and status must warn about, nearest first.
struct LayoutDirectory {
    std::string path;
    mode_t mode;
    uid_t owner;
};

struct ExposureCase {
    const char* name;
    std::vector<LayoutDirectory> directories;
    std::vector<std::pair<std::string, std::string>> links = {}; // path, target
    std::string file;                                            // the library file
    std::string library;                                         // the override
    std::vector<std::string> warned = {};
    bool runAsOwner = false; // run as the unprivileged user instead of the test's own
    // Owners other than the test's own: of the library file, and of links below the scratch
    // directory (which need root to set).
    std::optional<uid_t> fileOwner = std::nullopt;
    std::vector<std::pair<std::string, uid_t>> linkOwners = {};
    // The warnings about the file's owner, and about links, nearest first.
    bool ownerWarned = false;
    std::vector<std::string> warnedLinks = {};
};

void expectExposureWarnings(const ExposureCase& c) {
    ToolFiles files;
    const ScratchDirectory& scratch = files.scratch;
    for (const LayoutDirectory& d : c.directories) {
        ASSERT_EQ(mkdir((scratch / d.path).c_str(), 0700), 0) << c.name << ": " << d.path;
    }
    writeFile(scratch / c.file, "stands in for the library; never loaded\n", 0644);
    for (const auto& [link, target] : c.links) {
        ASSERT_EQ(
            symlink(replaceAll(target, "{S}", scratch.path()).c_str(), (scratch / link).c_str()), 0)
            << c.name;
    }
    // Modes and owners last, so that the layout could be built.
    for (const auto& [link, owner] : c.linkOwners) {
        ASSERT_EQ(lchown((scratch / link).c_str(), owner, owner), 0) << c.name;
    }
    if (c.fileOwner) {
        ASSERT_EQ(chown((scratch / c.file).c_str(), *c.fileOwner, *c.fileOwner), 0) << c.name;
    }
    for (const LayoutDirectory& d : c.directories) {
        if (d.owner != geteuid()) {
            ASSERT_EQ(chown((scratch / d.path).c_str(), d.owner, d.owner), 0) << c.name;
        }
        ASSERT_EQ(chmod((scratch / d.path).c_str(), d.mode), 0) << c.name;
    }
    const std::string& preload = files.preload;
    const std::string library = scratch / c.library;
    RunOptions options = withOverrides(preload, library);
    if (c.runAsOwner) {
        ASSERT_EQ(chown(files.etc.c_str(), unprivilegedUid, unprivilegedGid), 0);
        options = asUnprivileged(options);
    }
    std::string warnings =
        libraryWarning(library) + (c.ownerWarned ? libraryOwnerWarning(library) : "");
    for (const std::string& directory : c.warned) {
        warnings += directoryWarning(scratch / directory);
    }
    for (const std::string& link : c.warnedLinks) {
        warnings += linkWarning(scratch / link);
    }

    RunResult status = runTool({"status"}, options);
    EXPECT_EQ(status.out, preloadNotEnabledLine + unpreloadedProcessLines) << c.name;
    EXPECT_EQ(status.err, warnings + preloadWarning(preload)) << c.name;
    EXPECT_EQ(status.status, 0) << c.name;

    // Enable goes on: the administrator decides.
    RunResult enable = runTool({"enable"}, options);
    EXPECT_EQ(enable.out, enabledOut(preload, library)) << c.name;
    EXPECT_EQ(enable.err, warnings + preloadWarning(preload) + preloadWarning(preload)) << c.name;
    EXPECT_EQ(enable.status, 0) << c.name;
    EXPECT_EQ(readFile(preload), library + "\n") << c.name;
}

TEST(Activation, DirectoriesOthersMayWriteAreWarnedAbout) {
    const uid_t me = geteuid();
    const ExposureCase cases[] = {
        {"closed directories",
         {{"t", 0755, me}, {"t/u", 0700, me}},
         {},
         "t/u/libombrex.so",
         "t/u/libombrex.so",
         {}},
        {"a group-writable directory",
         {{"t", 0775, me}},
         {},
         "t/libombrex.so",
         "t/libombrex.so",
         {"t"}},
        {"a sticky world-writable directory",
         {{"t", 01777, me}},
         {},
         "t/libombrex.so",
         "t/libombrex.so",
         {}},
        {"a sticky group-writable directory",
         {{"t", 01770, me}},
         {},
         "t/libombrex.so",
         "t/libombrex.so",
         {}},
        {"two open directories, nearest first",
         {{"t", 0775, me}, {"t/u", 0757, me}},
         {},
         "t/u/libombrex.so",
         "t/u/libombrex.so",
         {"t/u", "t"}},
        // The loader follows links: the directories they lead to count, and so do the ones
        // that hold them, where the link itself could be replaced.
        {"a link to an open directory",
         {{"real", 0777, me}, {"s", 0755, me}},
         {{"s/lib", "{S}/real"}},
         "real/libombrex.so",
         "s/lib/libombrex.so",
         {"real"}},
        {"a link in an open directory",
         {{"open", 0777, me}, {"safe", 0755, me}},
         {{"open/lib", "../safe"}},
         "safe/libombrex.so",
         "open/lib/libombrex.so",
         {"open"}},
        {"a link to the file in an open directory",
         {{"g", 0775, me}, {"safe", 0755, me}},
         {{"safe/libombrex.so", "../g/libombrex.so"}},
         "g/libombrex.so",
         "safe/libombrex.so",
         {"g"}},
        {"a path through '..'",
         {{"g", 0775, me}, {"g/x", 0755, me}},
         {},
         "g/libombrex.so",
         "g/x/../libombrex.so",
         {"g"}},
    };
    for (const ExposureCase& c : cases) {
        expectExposureWarnings(c);
    }
}

// "Others" are judged against the real user running the tool; root may always own.
TEST(Activation, DirectoriesOfOtherOwnersAreWarnedAbout) {
    OMBREX_REQUIRE_ROOT();
    const uid_t other = 1234;
    const ExposureCase cases[] = {
        {"owned by another user",
         {{"t", 0755, other}},
         {},
         "t/libombrex.so",
         "t/libombrex.so",
         {"t"}},
        {"owned by another user, sticky",
         {{"t", 01777, other}},
         {},
         "t/libombrex.so",
         "t/libombrex.so",
         {"t"}},
        {"a link into a directory of another user",
         {{"t", 0755, other}, {"s", 0755, 0}},
         {{"s/lib", "../t"}},
         "t/libombrex.so",
         "s/lib/libombrex.so",
         {"t"}},
        {"owned by the user running the tool",
         {{"t", 0755, unprivilegedUid}},
         {},
         "t/libombrex.so",
         "t/libombrex.so",
         {},
         true},
        {"owned by root, run by another user",
         {{"t", 0755, 0}},
         {},
         "t/libombrex.so",
         "t/libombrex.so",
         {},
         true},
        {"owned by the user running the tool, group-writable",
         {{"t", 0775, unprivilegedUid}},
         {},
         "t/libombrex.so",
         "t/libombrex.so",
         {"t"},
         true},
    };
    for (const ExposureCase& c : cases) {
        expectExposureWarnings(c);
    }
}

// The library file's owner may rewrite it, and a link's owner may replace it where the
// directory that holds it lets them: warned about for owners other than root and the real
// user running the tool, run as root and as another user.
TEST(Activation, FilesAndLinksOfOtherOwnersAreWarnedAbout) {
    OMBREX_REQUIRE_ROOT();
    const uid_t other = 1234;
    const uid_t me = unprivilegedUid;
    const ExposureCase cases[] = {
        {.name = "a library file of another user",
         .directories = {{"t", 0755, 0}},
         .file = "t/libombrex.so",
         .library = "t/libombrex.so",
         .fileOwner = other,
         .ownerWarned = true},
        {.name = "a library file of another user, run by a third",
         .directories = {{"t", 0755, 0}},
         .file = "t/libombrex.so",
         .library = "t/libombrex.so",
         .runAsOwner = true,
         .fileOwner = other,
         .ownerWarned = true},
        {.name = "a library file of the user running the tool",
         .directories = {{"t", 0755, 0}},
         .file = "t/libombrex.so",
         .library = "t/libombrex.so",
         .runAsOwner = true,
         .fileOwner = me},
        {.name = "a library file of root, run by another user",
         .directories = {{"t", 0755, 0}},
         .file = "t/libombrex.so",
         .library = "t/libombrex.so",
         .runAsOwner = true},
        {.name = "a link of another user in a sticky directory",
         .directories = {{"tmp", 01777, 0}, {"safe", 0755, 0}},
         .links = {{"tmp/lib", "../safe"}},
         .file = "safe/libombrex.so",
         .library = "tmp/lib/libombrex.so",
         .linkOwners = {{"tmp/lib", other}},
         .warnedLinks = {"tmp/lib"}},
        {.name = "a link to the file, of another user, in a sticky directory, run by a third",
         .directories = {{"tmp", 01777, 0}, {"safe", 0755, 0}},
         .links = {{"tmp/libombrex.so", "../safe/libombrex.so"}},
         .file = "safe/libombrex.so",
         .library = "tmp/libombrex.so",
         .runAsOwner = true,
         .linkOwners = {{"tmp/libombrex.so", other}},
         .warnedLinks = {"tmp/libombrex.so"}},
        {.name = "links of another user, one behind the other: nearest first",
         .directories = {{"tmp", 01777, 0}, {"tmp2", 01777, 0}, {"safe", 0755, 0}},
         .links = {{"tmp/lib", "../tmp2"}, {"tmp2/lib", "../safe"}},
         .file = "safe/libombrex.so",
         .library = "tmp/lib/lib/libombrex.so",
         .linkOwners = {{"tmp/lib", other}, {"tmp2/lib", other}},
         .warnedLinks = {"tmp2/lib", "tmp/lib"}},
        {.name = "a link of another user in a directory that user owns",
         .directories = {{"u", 0755, other}, {"safe", 0755, 0}},
         .links = {{"u/lib", "../safe"}},
         .file = "safe/libombrex.so",
         .library = "u/lib/libombrex.so",
         .warned = {"u"},
         .linkOwners = {{"u/lib", other}},
         .warnedLinks = {"u/lib"}},
        {.name = "a link of another user in root's closed directory",
         .directories = {{"s", 0755, 0}, {"safe", 0755, 0}},
         .links = {{"s/lib", "../safe"}},
         .file = "safe/libombrex.so",
         .library = "s/lib/libombrex.so",
         .linkOwners = {{"s/lib", other}}},
        {.name = "a link of the user running the tool in a sticky directory",
         .directories = {{"tmp", 01777, 0}, {"safe", 0755, 0}},
         .links = {{"tmp/lib", "../safe"}},
         .file = "safe/libombrex.so",
         .library = "tmp/lib/libombrex.so",
         .runAsOwner = true,
         .linkOwners = {{"tmp/lib", me}}},
        {.name = "a link of root in a sticky directory, run by another user",
         .directories = {{"tmp", 01777, 0}, {"safe", 0755, 0}},
         .links = {{"tmp/lib", "../safe"}},
         .file = "safe/libombrex.so",
         .library = "tmp/lib/libombrex.so",
         .runAsOwner = true},
    };
    for (const ExposureCase& c : cases) {
        expectExposureWarnings(c);
    }
}

} // namespace
} // namespace ombrex::test
