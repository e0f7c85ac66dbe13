// Reading the preload file, and the locations' override warnings, through the built binary.
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "tests/support/expected.h"
#include "tests/support/run.h"

namespace ombrex::test {
namespace {

TEST(StoreRead, MissingFileReadsAsEmptyAndIsNotCreatedByReaders) {
    ToolFiles files;

    RunResult disable = runTool({"disable"}, files.options());
    EXPECT_EQ(disable.out, alreadyAbsentOut(files.preload, files.library));
    EXPECT_EQ(disable.err, overrideWarnings(files.preload, files.library, 1));
    EXPECT_EQ(disable.status, 0);

    // The other checks look at the tool's own process, which differs between builds.
    RunResult status = runTool({"status"}, files.options());
    EXPECT_EQ(status.out.substr(0, preloadNotEnabledLine.size()), preloadNotEnabledLine);
    EXPECT_EQ(status.err, overrideWarnings(files.preload, files.library, 1));
    EXPECT_EQ(status.status, 0);

    EXPECT_FALSE(fileExists(files.preload));
    EXPECT_EQ(entriesOf(files.etc), std::set<std::string>{});
}

// The new entry is appended to exactly what was read: any byte lost or added shows.
TEST(StoreRead, ContentIsReadWholeAndKeptByteForByte) {
    std::string big;
    while (big.size() < (1u << 20)) {
        big += "# a long comment line that names /usr/lib/other.so and nothing else\n";
    }
    struct Case {
        const char* name;
        std::string before;
        std::string appendedAfter; // what enable puts between the old content and the entry
    };
    const Case cases[] = {
        {"empty file", "", ""},
        {"no final LF", "/usr/lib/other.so", "\n"},
        {"final LF", "/usr/lib/other.so\n", ""},
        {"comments, CR and bytes that are not UTF-8",
         "# first\r\n\t/usr/lib/a.so # note\n\n\xff\xfe\x80 %s %n '\n# last", "\n"},
        {"one MiB", big, ""},
    };
    for (const Case& c : cases) {
        ToolFiles files;
        writeFile(files.preload, c.before, 0644);
        RunResult result = runTool({"enable"}, files.options());
        EXPECT_EQ(result.out, enabledOut(files.preload, files.library)) << c.name;
        EXPECT_EQ(result.err, overrideWarnings(files.preload, files.library, 2)) << c.name;
        EXPECT_EQ(result.status, 0) << c.name;
        EXPECT_EQ(readFile(files.preload), c.before + c.appendedAfter + files.library + "\n")
            << c.name;
        EXPECT_EQ(hiddenEntriesOf(files.etc), std::set<std::string>{}) << c.name;
    }
}

TEST(StoreRead, EntryRemovedFromFileWithoutFinalLineFeed) {
    struct Case {
        const char* name;
        std::string before;
        std::string after;
    };
    ToolFiles files;
    const Case cases[] = {
        {"only the entry: the file stays, empty", files.library + "\n", ""},
        {"entry last, no final LF", "/usr/lib/a.so\n" + files.library, "/usr/lib/a.so\n"},
    };
    for (const Case& c : cases) {
        writeFile(files.preload, c.before, 0644);
        RunResult result = runTool({"disable"}, files.options());
        EXPECT_EQ(result.out, disabledOut) << c.name;
        EXPECT_EQ(result.err, overrideWarnings(files.preload, files.library, 2)) << c.name;
        EXPECT_EQ(result.status, 0) << c.name;
        ASSERT_TRUE(fileExists(files.preload)) << c.name;
        EXPECT_EQ(readFile(files.preload), c.after) << c.name;
    }
}

// The environment is consulted on every resolution: once to read, once more to write.
TEST(StoreRead, OverrideWarningOnEveryResolution) {
    ToolFiles files;
    const std::string entry = files.library + "\n";
    struct Case {
        const char* name;
        std::string action;
        std::string before;
        std::string out;
        int preloadWarnings;
    };
    const Case cases[] = {
        {"enable writes", "enable", "", enabledOut(files.preload, files.library), 2},
        {"enable finds the entry", "enable", entry, alreadyEnabledOut(files.preload, files.library),
         1},
        {"disable writes", "disable", entry, disabledOut, 2},
        {"disable finds nothing", "disable", "", alreadyAbsentOut(files.preload, files.library), 1},
    };
    for (const Case& c : cases) {
        writeFile(files.preload, c.before, 0644);
        RunResult result = runTool({c.action}, files.options());
        EXPECT_EQ(result.out, c.out) << c.name;
        EXPECT_EQ(result.err, overrideWarnings(files.preload, files.library, c.preloadWarnings))
            << c.name;
        EXPECT_EQ(result.status, 0) << c.name;
    }
}

TEST(StoreRead, UnreadableFileIsFatalForEveryAction) {
    OMBREX_REQUIRE_ROOT();
    ToolFiles files;
    const std::string before = files.library + "\n";
    writeFile(files.preload, before, 0600);
    for (const char* action : {"enable", "disable", "status"}) {
        RunResult result = runTool({action}, asUnprivileged(files.options()));
        EXPECT_EQ(result.out, pathAndErrno(files.preload, "Permission denied")) << action;
        EXPECT_EQ(result.err, overrideWarnings(files.preload, files.library, 1) + readFailed)
            << action;
        EXPECT_EQ(result.status, 127) << action;
        EXPECT_EQ(readFile(files.preload), before) << action;
    }
}

// A size that does not fit a signed 32-bit count is refused before anything is read; 4 GiB
// plus 10 bytes would otherwise read as 10 bytes and be cut down to them by a rewrite.
TEST(StoreRead, TooLargeFileIsRefusedAndLeftUntouched) {
    for (off_t size : {off_t{2147483647}, (off_t{4} << 30) + 10}) {
        ToolFiles files;
        writeFile(files.preload, "", 0644);
        ASSERT_EQ(truncate(files.preload.c_str(), size), 0) << std::strerror(errno);
        struct stat before {};
        ASSERT_EQ(stat(files.preload.c_str(), &before), 0);
        for (const char* action : {"enable", "disable", "status"}) {
            RunResult result = runTool({action}, files.options());
            EXPECT_EQ(result.out, diag("ld.so.preload path", files.preload)) << action << size;
            EXPECT_EQ(result.err, overrideWarnings(files.preload, files.library, 1) + tooLarge)
                << action << size;
            EXPECT_EQ(result.status, 127) << action << size;
        }
        struct stat after {};
        ASSERT_EQ(stat(files.preload.c_str(), &after), 0);
        EXPECT_EQ(after.st_size, size);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_blocks, before.st_blocks);
        EXPECT_EQ(hiddenEntriesOf(files.etc), std::set<std::string>{});
    }
}

// The reader keeps the true byte count: a file with a NUL is never rewritten, since the
// rebuilt text would end at the NUL and drop the rest.
TEST(StoreRead, FileHoldingNulIsNotRewritten) {
    ToolFiles files;
    const std::string withNul("/usr/lib/a.so\0/b.so\n", 20);
    struct Case {
        const char* action;
        std::string content;
    };
    // Each would write: enable finds no entry before the NUL, disable finds one.
    const Case cases[] = {{"enable", withNul}, {"disable", files.library + "\n" + withNul}};
    for (const Case& c : cases) {
        writeFile(files.preload, c.content, 0644);
        RunResult result = runTool({c.action}, files.options());
        EXPECT_EQ(result.out, diag("ld.so.preload path", files.preload)) << c.action;
        EXPECT_EQ(result.err, overrideWarnings(files.preload, files.library, 1) + nulRefused)
            << c.action;
        EXPECT_EQ(result.status, 127) << c.action;
        EXPECT_EQ(readFile(files.preload), c.content) << c.action;
    }
}

// Opening a FIFO for reading waits for a writer, and a socket cannot be opened at all: each
// ends the action with the reader's error at once, and nothing is created beside it.
TEST(StoreRead, FifoOrSocketEndsTheActionWithTheReadError) {
    ToolFiles files;
    const std::string fifo = files.etc + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string socketPath = files.etc + "/socket";
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);

    const struct {
        std::string path;
        std::string error;
    } kinds[] = {{fifo, "Illegal seek"}, {socketPath, "No such device or address"}};
    for (const auto& kind : kinds) {
        for (const char* action : {"enable", "disable", "status"}) {
            RunOptions options = withOverrides(kind.path, files.library);
            options.timeLimitSeconds = 30;
            RunResult result = runTool({action}, options);
            EXPECT_EQ(result.out, pathAndErrno(kind.path, kind.error)) << kind.path << action;
            EXPECT_EQ(result.err, overrideWarnings(kind.path, files.library, 1) + readFailed)
                << kind.path << action;
            EXPECT_EQ(result.status, 127) << kind.path << action;
        }
    }
    close(listener);
    EXPECT_EQ(entriesOf(files.etc), (std::set<std::string>{"fifo", "socket"}));
}

// An override that is present but empty counts: it names no file, so it reads as empty and
// cannot be written, and nothing lands in the working directory.
TEST(StoreRead, EmptyPreloadOverride) {
    ToolFiles files;
    ScratchDirectory workingDirectory;
    RunOptions options = withOverrides("", files.library);
    options.workingDirectory = workingDirectory.path();

    RunResult enable = runTool({"enable"}, options);
    EXPECT_EQ(enable.out, pathAndErrno("", "No such file or directory"));
    EXPECT_EQ(enable.err, overrideWarnings("", files.library, 2) + openForWritingFailed);
    EXPECT_EQ(enable.status, 127);

    RunResult disable = runTool({"disable"}, options);
    EXPECT_EQ(disable.out, alreadyAbsentOut("", files.library));
    EXPECT_EQ(disable.err, overrideWarnings("", files.library, 1));
    EXPECT_EQ(disable.status, 0);

    RunResult status = runTool({"status"}, options);
    EXPECT_EQ(status.out.substr(0, preloadNotEnabledLine.size()), preloadNotEnabledLine);
    EXPECT_EQ(status.err, overrideWarnings("", files.library, 1));
    EXPECT_EQ(status.status, 0);

    EXPECT_EQ(entriesOf(workingDirectory.path()), std::set<std::string>{});
    EXPECT_EQ(entriesOf(files.etc), std::set<std::string>{});
    EXPECT_EQ(entriesOf(files.lib), std::set<std::string>{"libombrex.so"});
}

// Paths are values of a fixed format: a quote or a per-cent sign is printed as it is. (The
// library path has no blank: enable would refuse it, as the loader would split it.)
TEST(StoreRead, QuoteAndPerCentInPathsArePrintedVerbatim) {
    ScratchDirectory scratch;
    const std::string dir = scratch / "it's 100%s%n%x";
    const std::string libraryDir = scratch / "it's-100%s%n%x";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(libraryDir.c_str(), 0755), 0);
    const std::string preload = dir + "/ld.so.preload";
    const std::string library = libraryDir + "/libombrex.so";
    writeFile(library, "stand-in\n", 0644);

    RunResult enable = runTool({"enable"}, withOverrides(preload, library));
    EXPECT_EQ(enable.out, enabledOut(preload, library));
    EXPECT_EQ(enable.err, overrideWarnings(preload, library, 2));
    EXPECT_EQ(enable.status, 0);
    EXPECT_EQ(readFile(preload), library + "\n");

    const std::string missing = dir + "/missing'%s/ld.so.preload";
    RunResult failed = runTool({"enable"}, withOverrides(missing, library));
    EXPECT_EQ(failed.out, pathAndErrno(missing, "No such file or directory"));
    EXPECT_EQ(failed.err, overrideWarnings(missing, library, 2) + openForWritingFailed);
    EXPECT_EQ(failed.status, 127);
}

} // namespace
} // namespace ombrex::test
