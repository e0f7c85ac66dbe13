// Faults injected around the built ombrexctl: file systems that refuse to be written, a
// process killed at any point of its rewrite, unusual locations, and runs that race each
// other. Whatever happens, the preload file holds the old content or the new one, failures
// end with status 127 and the writer's messages, and nothing is left behind but, after a
// kill, a hidden temporary file that later runs ignore and the lock file that the next run
// takes over.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <sched.h>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/faults/faults.h"

namespace ombrex::test::faults {
namespace {

TEST(Faults, ReadOnlyMountFailsWithTheWritersErrorAndChangesNothing) {
    OMBREX_REQUIRE_PRIVATE_MOUNTS();
    const struct {
        const char* name;
        const char* action;
        std::optional<std::string> content; // nullopt: no preload file
    } cases[] = {
        {"enable, existing file", "enable", "/lib/a.so\n"},
        {"enable, no file yet", "enable", std::nullopt},
        {"disable", "disable", "/lib/a.so\n@LIB@\n/lib/b.so\n"},
    };
    for (const auto& c : cases) {
        ToolFiles world;
        std::optional<std::string> before = c.content;
        if (before) {
            std::string& text = *before;
            if (size_t at = text.find("@LIB@"); at != std::string::npos) {
                text.replace(at, 5, world.library);
            }
            writeFile(world.preload, text);
        }
        ASSERT_EQ(mount(world.etc.c_str(), world.etc.c_str(), nullptr, MS_BIND, nullptr), 0);
        MountGuard guard(world.etc);
        ASSERT_EQ(
            mount(nullptr, world.etc.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
            0);
        std::set<std::string> entriesBefore = entriesOf(world.etc);

        RunResult result = world.run(c.action);
        EXPECT_EQ(result.out, pathAndErrno(world.preload, "Read-only file system")) << c.name;
        EXPECT_EQ(result.err,
                  overrideWarnings(world.preload, world.library, 2) + openForWritingFailed)
            << c.name;
        EXPECT_EQ(result.status, 127) << c.name;
        if (before) {
            EXPECT_EQ(readFile(world.preload), *before) << c.name;
        }
        EXPECT_EQ(entriesOf(world.etc), entriesBefore) << c.name;
    }
}

TEST(Faults, FullFileSystemKeepsTheOldContentAndLeavesNoTemporaryFile) {
    OMBREX_REQUIRE_PRIVATE_MOUNTS();
    const struct {
        const char* action;
        const char* content;
    } cases[] = {
        {"enable", "/lib/a.so\n# a comment that stays\n"},
        {"disable", "/lib/a.so\n@LIB@\n"},
    };
    for (const auto& c : cases) {
        ToolFiles world;
        ASSERT_EQ(mount("tmpfs", world.etc.c_str(), "tmpfs", 0, "size=64k,mode=0755"), 0);
        MountGuard guard(world.etc);
        std::string before = c.content;
        if (size_t at = before.find("@LIB@"); at != std::string::npos) {
            before.replace(at, 5, world.library);
        }
        writeFile(world.preload, before);
        fillToTheBrim(world.etc);

        RunResult result = world.run(c.action);
        EXPECT_EQ(result.out, pathAndErrno(world.preload, "No space left on device")) << c.action;
        EXPECT_EQ(result.err, overrideWarnings(world.preload, world.library, 2) + writeFailed)
            << c.action;
        EXPECT_EQ(result.status, 127) << c.action;
        EXPECT_EQ(readFile(world.preload), before) << c.action;
        EXPECT_EQ(entriesOf(world.etc), (std::set<std::string>{"filler", "ld.so.preload"}))
            << c.action;
    }
}

// SIGKILL at random moments of a few hundred enable runs: every time, the file holds the
// old content or the new one. Leftover temporary files must not trip later runs.
TEST(Faults, KilledEnableLeavesOldOrNewContent) {
    ToolFiles world;
    std::string old;
    for (int i = 0; old.size() < 64 * 1024; ++i) {
        old += "/usr/lib/x86_64-linux-gnu/preloaded-" + std::to_string(i) + ".so\n";
    }
    const std::string next = old + world.library + "\n";
    const Environment environment = overrides(world.preload, world.library);
    const std::string out = world.scratch / "out";
    const std::string err = world.scratch / "err";

    // How long a whole run takes here; the kills are spread over that time and a bit more.
    using Clock = std::chrono::steady_clock;
    Clock::duration total{};
    const int calibrationRuns = 5;
    for (int i = 0; i < calibrationRuns; ++i) {
        writeFile(world.preload, old);
        Clock::time_point start = Clock::now();
        ASSERT_EQ(waitFor(startTool("enable", environment, nullptr, out, err)), 0) << readFile(err);
        total += Clock::now() - start;
        ASSERT_EQ(readFile(world.preload), next);
    }
    auto runMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(total).count() / calibrationRuns;

    unsigned seed = std::random_device{}();
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> delay(0, runMicros * 3 / 2);
    int sawOld = 0;
    int sawNew = 0;
    for (int run = 0; run < 300; ++run) {
        writeFile(world.preload, old);
        long micros = delay(random);
        pid_t child = startTool("enable", environment, nullptr, out, err);
        usleep(static_cast<useconds_t>(micros));
        kill(child, SIGKILL);
        waitFor(child);
        std::string now = readFile(world.preload);
        if (now == old) {
            ++sawOld;
        } else if (now == next) {
            ++sawNew;
        } else {
            FAIL() << "run " << run << " killed after " << micros << " us (seed " << seed
                   << ") left " << now.size() << " bytes that are neither old nor new";
        }
    }
    std::cout << "killed runs: " << sawOld << " left the old content, " << sawNew
              << " the new; one run takes about " << runMicros << " us\n";

    std::set<std::string> leftovers = entriesOf(world.etc);
    leftovers.erase("ld.so.preload");
    for (const std::string& name : leftovers) {
        EXPECT_EQ(name.rfind(".ld.so.preload.", 0), 0u) << "unexpected leftover " << name;
    }

    // A run killed while it held the lock leaves the lock file; the next run takes it over
    // and removes it.
    leftovers.erase(".ld.so.preload.lock");

    // Later runs do their job beside the stale temporary files and add none of their own.
    writeFile(world.preload, old);
    RunResult enabled = world.run("enable");
    EXPECT_EQ(enabled.out, enabledOut(world.preload, world.library));
    EXPECT_EQ(enabled.err, overrideWarnings(world.preload, world.library, 2));
    EXPECT_EQ(enabled.status, 0);
    EXPECT_EQ(readFile(world.preload), next);
    RunResult disabled = world.run("disable");
    EXPECT_EQ(disabled.out, disabledOut);
    EXPECT_EQ(disabled.status, 0);
    EXPECT_EQ(readFile(world.preload), old);
    std::set<std::string> after = entriesOf(world.etc);
    after.erase("ld.so.preload");
    EXPECT_EQ(after, leftovers);
}

TEST(Faults, UnusualLocationsAreRefusedWithoutWriting) {
    ToolFiles world;
    const std::string directory = world.scratch / "a-directory";
    std::filesystem::create_directory(directory);
    const std::string preloadContent = "/lib/a.so\n";
    const std::string withNewline = world.scratch / "lib\nombrex.so";
    writeFile(withNewline, "a readable file whose name holds a line feed\n");
    const std::string linesOfThatName = "lib\nombrex.so\n";
    const std::string linkerError =
        loadFailed(directory + ": cannot read file data: Is a directory");

    const struct {
        const char* name;
        const char* action;
        std::string preload;
        std::string library;
        std::string content; // of the preload file beforehand, when it is a file
        std::string out;
        std::string err;
    } cases[] = {
        {"preload path is a directory: enable", "enable", directory, world.library, "",
         pathAndErrno(directory, "Is a directory"),
         overrideWarnings(directory, world.library, 1) + readFailed},
        {"preload path is a directory: disable", "disable", directory, world.library, "",
         pathAndErrno(directory, "Is a directory"),
         overrideWarnings(directory, world.library, 1) + readFailed},
        {"preload path is a directory: status", "status", directory, world.library, "",
         pathAndErrno(directory, "Is a directory"),
         overrideWarnings(directory, world.library, 1) + readFailed},
        // The dynamic linker cannot preload a directory; listed, it would make every program
        // start with an error.
        {"library path is a directory: enable", "enable", world.preload, directory, preloadContent,
         diag("libombrex.so path", directory),
         overrideWarnings(world.preload, directory, 0) + notRegularFile},
        {"library path is a directory: conf", "conf", world.preload, directory, preloadContent, "",
         overrideWarnings(world.preload, directory, 0) + linkerError},
        {"library path is a directory: version", "version", world.preload, directory,
         preloadContent, "", overrideWarnings(world.preload, directory, 0) + linkerError},
        // A path holding an LF is not one line of the file: enable refuses it, and disable
        // never takes the lines it spans for its entry.
        {"library path holds an LF: enable", "enable", world.preload, withNewline, preloadContent,
         diag("libombrex.so path", withNewline),
         overrideWarnings(world.preload, withNewline, 0) + pathHoldsLineFeed},
        {"library path holds an LF: disable", "disable", world.preload, withNewline,
         linesOfThatName, alreadyAbsentOut(world.preload, withNewline),
         overrideWarnings(world.preload, withNewline, 1)},
    };
    writeFile(world.preload, preloadContent);
    for (const auto& c : cases) {
        if (c.preload == world.preload) {
            writeFile(world.preload, c.content);
        }
        RunResult result = runTool({c.action}, withOverrides(c.preload, c.library));
        EXPECT_EQ(result.out, c.out) << c.name;
        EXPECT_EQ(result.err, c.err) << c.name;
        bool success =
            std::string(c.name).find("disable") != std::string::npos && c.library == withNewline;
        EXPECT_EQ(result.status, success ? 0 : 127) << c.name;
        if (c.preload == world.preload) {
            EXPECT_EQ(readFile(world.preload), c.content) << c.name;
        }
        EXPECT_TRUE(std::filesystem::is_empty(directory)) << c.name;
        EXPECT_EQ(entriesOf(world.etc), (std::set<std::string>{"ld.so.preload"})) << c.name;
    }
}

// Thirty-two runs released at the same moment on one file. They wait for each other: exactly
// one changes the file, and every other finds it as that one left it.
TEST(Faults, ConcurrentRunsLeaveExactlyOneEntryOrNone) {
    ToolFiles world;
    const std::string base = "/lib/a.so\n# between\n/lib/b.so\n";
    const std::string enabled = base + world.library + "\n";
    const Environment environment = overrides(world.preload, world.library);
    const struct {
        const char* action;
        std::string before;
        std::string after;
        std::string successOut;
        std::string noticeOut;
    } cases[] = {
        {"enable", base, enabled, enabledOut(world.preload, world.library),
         alreadyEnabledOut(world.preload, world.library)},
        {"disable", enabled, base, disabledOut, alreadyAbsentOut(world.preload, world.library)},
    };
    const int runs = 32;
    for (const auto& c : cases) {
        writeFile(world.preload, c.before);
        int gate[2];
        ASSERT_EQ(pipe(gate), 0);
        std::vector<pid_t> children;
        for (int i = 0; i < runs; ++i) {
            children.push_back(startTool(c.action, environment, gate,
                                         world.scratch / ("out" + std::to_string(i)),
                                         world.scratch / ("err" + std::to_string(i))));
        }
        close(gate[0]);
        close(gate[1]);
        int successes = 0;
        for (int i = 0; i < runs; ++i) {
            EXPECT_EQ(waitFor(children[static_cast<size_t>(i)]), 0) << c.action << " run " << i;
            std::string out = readFile(world.scratch / ("out" + std::to_string(i)));
            std::string err = readFile(world.scratch / ("err" + std::to_string(i)));
            if (out == c.successOut) {
                ++successes;
                EXPECT_EQ(err, overrideWarnings(world.preload, world.library, 2));
            } else {
                EXPECT_EQ(out, c.noticeOut) << c.action << " run " << i;
                EXPECT_EQ(err, overrideWarnings(world.preload, world.library, 1));
            }
        }
        EXPECT_EQ(successes, 1) << c.action;
        EXPECT_EQ(readFile(world.preload), c.after) << c.action;
        EXPECT_EQ(entriesOf(world.etc), (std::set<std::string>{"ld.so.preload"})) << c.action;
    }
}

} // namespace
} // namespace ombrex::test::faults
