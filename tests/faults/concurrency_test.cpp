// Other writers beside a run: what another program appends while a run changes the file is
// never lost, runs that change the file wait for each other for a bounded time, and a file
// that never stops changing ends the run with an error rather than a lost change.
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "tests/faults/faults.h"

namespace ombrex::test::faults {
namespace {

// Stands for another product's installer or an administrator's `echo ... >>`: opens the file
// for appending and writes one line, after the gate opens and a delay.
pid_t startAppender(const std::string& path, const std::string& line, const int* gate,
                    long delayMicros) {
    pid_t child = fork();
    if (child == 0) {
        waitAtGate(gate);
        usleep(static_cast<useconds_t>(delayMicros));
        int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        bool written =
            fd >= 0 && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        _exit(written && close(fd) == 0 ? 0 : 1);
    }
    return child;
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// How long one run takes here, in microseconds: the appends are spread over that time.
long microsPerRun(const ToolFiles& world, const std::string& content) {
    const Environment environment = overrides(world.preload, world.library);
    auto start = std::chrono::steady_clock::now();
    const int runs = 5;
    for (int i = 0; i < runs; ++i) {
        writeFile(world.preload, content);
        waitFor(startTool("enable", environment, nullptr, world.scratch / "out",
                          world.scratch / "err"));
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() / runs;
}

// A few hundred runs, each with one append released at the same moment and delayed by a
// random part of a run's time: before the run reads, while it writes, after it is done.
// Every appended line is in the file afterwards, once, and the library's entry is as the
// run reported; apart from the appended line the file is what the run alone would make.
TEST(Concurrency, AppendedEntriesSurviveEnableAndDisable) {
    ToolFiles world;
    const std::string base = "/lib/a.so\n# between\n/lib/b.so\n";
    const std::string entry = world.library + "\n";
    const Environment environment = overrides(world.preload, world.library);
    const std::string out = world.scratch / "out";
    const std::string err = world.scratch / "err";
    const long runMicros = microsPerRun(world, base);
    unsigned seed = std::random_device{}();
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> delay(0, runMicros * 3 / 2);
    const struct {
        const char* action;
        std::string before;
        std::string after;
        std::string out;
    } cases[] = {
        {"enable", base, base + entry, enabledOut(world.preload, world.library)},
        {"disable", base + entry, base, disabledOut},
    };
    for (const auto& c : cases) {
        int startedAgain = 0;
        for (int run = 0; run < 150; ++run) {
            writeFile(world.preload, c.before);
            const std::string line = "/opt/appended-" + std::to_string(run) + ".so\n";
            int gate[2];
            ASSERT_EQ(pipe(gate), 0);
            pid_t tool = startTool(c.action, environment, gate, out, err);
            pid_t appender = startAppender(world.preload, line, gate, delay(random));
            close(gate[0]);
            close(gate[1]);
            ASSERT_EQ(waitFor(appender), 0);
            EXPECT_EQ(waitFor(tool), 0) << c.action << " run " << run;
            EXPECT_EQ(readFile(out), c.out) << c.action << " run " << run;
            std::string errors = readFile(err);
            size_t warnings = occurrences(errors, preloadWarning(world.preload));
            EXPECT_EQ(errors,
                      overrideWarnings(world.preload, world.library, static_cast<int>(warnings)))
                << c.action << " run " << run;
            startedAgain += warnings > 2 ? 1 : 0;

            std::string now = readFile(world.preload);
            ASSERT_EQ(occurrences(now, line), 1u)
                << c.action << " run " << run << " (seed " << seed << ") lost the appended line:\n"
                << now;
            now.erase(now.find(line), line.size());
            EXPECT_EQ(now, c.after) << c.action << " run " << run;
        }
        std::cout << c.action << ": 150 runs beside an append, " << startedAgain
                  << " started again from the appended content\n";
        EXPECT_EQ(entriesOf(world.etc), (std::set<std::string>{"ld.so.preload"}));
    }
}

// The lock beside a scratch preload file, held by the test as another run would hold it.
// Held throughout, the run gives up after its bounded wait with the file unchanged; let go
// of while the run waits, the run goes on.
TEST(Concurrency, ARunWaitsForTheLockABoundedTime) {
    ToolFiles world;
    const std::string before = "/lib/a.so\n";
    writeFile(world.preload, before);
    const std::string lock = world.etc + "/.ld.so.preload.lock";
    int held = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    RunOptions options = world.options();
    options.timeLimitSeconds = 60;

    RunResult given = runTool({"enable"}, options);
    EXPECT_EQ(given.out, lockDiagnostics(world.preload, lock));
    EXPECT_EQ(given.err, overrideWarnings(world.preload, world.library, 1) + lockTimedOut);
    EXPECT_EQ(given.status, 127);
    EXPECT_EQ(readFile(world.preload), before);

    std::thread letGo([held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        close(held);
    });
    RunResult waited = runTool({"enable"}, options);
    letGo.join();
    EXPECT_EQ(waited.out, enabledOut(world.preload, world.library));
    EXPECT_EQ(waited.err, overrideWarnings(world.preload, world.library, 2));
    EXPECT_EQ(waited.status, 0);
    EXPECT_EQ(readFile(world.preload), before + world.library + "\n");
    // The run that held the lock last removed it.
    EXPECT_EQ(entriesOf(world.etc), std::set<std::string>{"ld.so.preload"});
}

// Another writer at a chosen moment (the preloaded fixture appends a line): just before the
// tool syncs its temporary file, that is after it read the file and before it looks a last
// time; or just before the rename, after that last look, where the line lands in the old
// file alone and would be lost with it. Once, the run starts again from the appended content
// and keeps the line; every time, it gives up after its last attempt and leaves the lines.
// Each attempt reads and writes, and each resolves the preload path.
TEST(Concurrency, AnotherWriterAtAChosenMoment) {
    ToolFiles world;
    const std::string base = "/lib/a.so\n# between\n/lib/b.so\n";
    const std::string entry = world.library + "\n";
    std::string eightLines;
    for (int i = 1; i <= 8; ++i) {
        eightLines += "/opt/appended-" + std::to_string(i) + ".so\n";
    }
    const std::string oneLine = "/opt/appended-1.so\n";
    const struct {
        const char* name;
        const char* action;
        const char* when;
        const char* times; // empty: every time
        std::string before;
        std::string out;
        std::string error;
        int resolutions;
        std::string after;
    } cases[] = {
        {"enable, once before the last look", "enable", "fsync", "1", base,
         enabledOut(world.preload, world.library), "", 4, base + oneLine + entry},
        {"enable, once after the last look", "enable", "rename", "1", base,
         enabledOut(world.preload, world.library), "", 4, base + oneLine + entry},
        {"disable, once after the last look", "disable", "rename", "1", base + entry, disabledOut,
         "", 4, base + oneLine},
        {"enable, every time", "enable", "fsync", "", base,
         diag("ld.so.preload path", world.preload), keptChanging, 16, base + eightLines},
        {"disable, every time", "disable", "fsync", "", base + entry,
         diag("ld.so.preload path", world.preload), keptChanging, 16, base + entry + eightLines},
    };
    for (const auto& c : cases) {
        writeFile(world.preload, c.before);
        RunOptions options = world.options();
        options.environment["LD_PRELOAD"] = OMBREX_FIXTURE_WRITE_FAULT;
        options.environment["OMBREX_FAULT_APPEND_TO"] = world.preload;
        options.environment["OMBREX_FAULT_APPEND_WHEN"] = c.when;
        if (*c.times != '\0') {
            options.environment["OMBREX_FAULT_APPEND_TIMES"] = c.times;
        }
        // A sanitized tool wants its runtime first; the fixture calls nothing it must see.
        options.environment["ASAN_OPTIONS"] = "verify_asan_link_order=0";
        options.timeLimitSeconds = 60;

        RunResult result = runTool({c.action}, options);
        EXPECT_EQ(result.out, c.out) << c.name;
        EXPECT_EQ(result.err,
                  overrideWarnings(world.preload, world.library, c.resolutions) + c.error)
            << c.name;
        EXPECT_EQ(result.status, c.error.empty() ? 0 : 127) << c.name;
        EXPECT_EQ(readFile(world.preload), c.after) << c.name;
        EXPECT_EQ(entriesOf(world.etc), std::set<std::string>{"ld.so.preload"}) << c.name;
    }
}

} // namespace
} // namespace ombrex::test::faults
