// A preload file that cannot be replaced is rewritten in place: whatever fails, it holds the
// old content or the new one, never a part of each. Write errors part-way, whether the file
// is replaced or rewritten, leave the old content.
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/faults/faults.h"

namespace ombrex::test::faults {
namespace {

// A little less than two pages: a new entry needs a third page, which a full file system does
// not have even once the old pages are freed, and a file cut at a page's end is cut in the
// middle of the entry.
constexpr size_t oldSize = 8192 - 12;

std::string entriesOfNearlyTwoPages() {
    std::string content;
    for (int i = 0; content.size() < 8000; ++i) {
        content += "/usr/lib/x86_64-linux-gnu/preloaded-" + std::to_string(i) + ".so\n";
    }
    content += "# " + std::string(oldSize - content.size() - 3, '-') + "\n";
    return content;
}

// The content with the library's entry in the middle, on a line of its own.
std::string withEntryInTheMiddle(const std::string& content, const std::string& library) {
    size_t middle = content.find('\n', content.size() / 2) + 1;
    return content.substr(0, middle) + library + "\n" + content.substr(middle);
}

// A file mounted over the preload path (as container runtimes mount files under /etc) cannot
// be renamed over; it lies on a small file system of its own. On a full one the longer
// content finds no room before a byte changes; with room it is written whole; a shorter
// content needs no room.
TEST(InPlace, FileMountedOverItsNameHoldsTheOldContentOrTheNew) {
    OMBREX_REQUIRE_PRIVATE_MOUNTS();
    const std::string old = entriesOfNearlyTwoPages();
    ASSERT_EQ(old.size(), oldSize);
    const struct {
        const char* name;
        const char* action;
        bool full;
        bool fails;
    } cases[] = {
        {"enable, full file system", "enable", true, true},
        {"enable, room enough", "enable", false, false},
        {"disable, full file system", "disable", true, false},
        {"disable, room enough", "disable", false, false},
    };
    for (const auto& c : cases) {
        ToolFiles world;
        const std::string small = world.scratch / "small";
        ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
        ASSERT_EQ(mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k,mode=0755"), 0);
        MountGuard smallGuard(small);
        const bool enabling = std::strcmp(c.action, "enable") == 0;
        const std::string before = enabling ? old : withEntryInTheMiddle(old, world.library);
        const std::string after = enabling ? old + world.library + "\n" : old;
        writeFile(small + "/ld.so.preload", before);
        writeFile(world.preload, "");
        ASSERT_EQ(mount((small + "/ld.so.preload").c_str(), world.preload.c_str(), nullptr, MS_BIND,
                        nullptr),
                  0);
        MountGuard fileGuard(world.preload);
        if (c.full) {
            fillToTheBrim(small);
        }

        RunResult result = world.run(c.action);
        const std::string warnings = overrideWarnings(world.preload, world.library, 2);
        if (c.fails) {
            EXPECT_EQ(result.out, pathAndErrno(world.preload, "No space left on device")) << c.name;
            EXPECT_EQ(result.err, warnings + writeFailed) << c.name;
            EXPECT_EQ(result.status, 127) << c.name;
        } else {
            EXPECT_EQ(result.out, enabling ? enabledOut(world.preload, world.library) : disabledOut)
                << c.name;
            EXPECT_EQ(result.err, warnings) << c.name;
            EXPECT_EQ(result.status, 0) << c.name;
        }
        // Compared as a flag: a mismatch of 8 kB would drown the report.
        std::string now = readFile(world.preload);
        EXPECT_TRUE(now == (c.fails ? before : after))
            << c.name << ": " << now.size() << " bytes, neither the expected content";
        EXPECT_EQ(entriesOf(world.etc), std::set<std::string>{"ld.so.preload"}) << c.name;
        std::set<std::string> smallEntries{"ld.so.preload"};
        if (c.full) {
            smallEntries.insert("filler");
        }
        EXPECT_EQ(entriesOf(small), smallEntries) << c.name;
    }
}

// A write that fails part-way: a file size limit lets part of the new entry through, then
// the kernel sends SIGXFSZ and the write fails with EFBIG. The signal must not end the run
// half-way, and the old content stays, whether the file is replaced or, where its directory
// does not let its owner create a file, rewritten in place.
TEST(InPlace, WriteErrorPartWayLeavesTheOldContent) {
    OMBREX_REQUIRE_ROOT();
    const std::string old = entriesOfNearlyTwoPages();
    const struct {
        const char* name;
        bool inPlace;
    } cases[] = {
        {"replaced", false},
        {"rewritten in place", true},
    };
    for (const auto& c : cases) {
        ToolFiles world;
        writeFile(world.preload, old);
        RunOptions options = world.options();
        if (c.inPlace) {
            ASSERT_EQ(chown(world.preload.c_str(), unprivilegedUid, unprivilegedGid), 0);
            options = asUnprivileged(options);
        }
        options.fileSizeLimit = old.size() + 8;
        options.timeLimitSeconds = 60;

        RunResult result = runTool({"enable"}, options);
        EXPECT_EQ(result.out, pathAndErrno(world.preload, "File too large")) << c.name;
        EXPECT_EQ(result.err, overrideWarnings(world.preload, world.library, 2) + writeFailed)
            << c.name;
        EXPECT_EQ(result.status, 127) << c.name;
        std::string now = readFile(world.preload);
        EXPECT_TRUE(now == old) << c.name << ": " << now.size() << " bytes, not the old content";
        EXPECT_EQ(entriesOf(world.etc), std::set<std::string>{"ld.so.preload"}) << c.name;

        // Without the limit the same run goes through.
        options.fileSizeLimit.reset();
        RunResult again = runTool({"enable"}, options);
        EXPECT_EQ(again.out, enabledOut(world.preload, world.library)) << c.name;
        EXPECT_EQ(again.status, 0) << c.name;
        EXPECT_TRUE(readFile(world.preload) == old + world.library + "\n") << c.name;
    }
}

// A disk that fails part-way (the preloaded fixture): some bytes of the new content reach
// the file, then a write fails with EIO. Rewritten in place, the file gets its old bytes
// back before the error is reported, also where the new content differs from the middle on
// (disable); replaced, the temporary file goes and the old file was never touched.
TEST(InPlace, DiskFailingPartWayLeavesTheOldContent) {
    OMBREX_REQUIRE_ROOT();
    // The fixture is read by the unprivileged user too; the build tree may be closed to it.
    ScratchDirectory shared;
    const std::string fault = shared / "write-fault.so";
    writeFile(fault, readFile(OMBREX_FIXTURE_WRITE_FAULT), 0644);
    const std::string old = entriesOfNearlyTwoPages();
    const struct {
        const char* name;
        const char* action;
        bool inPlace;
        const char* budget;
    } cases[] = {
        {"enable, in place, the entry half written", "enable", true, "20"},
        {"disable, in place, the rest half moved up", "disable", true, "2000"},
        {"disable, in place, nothing written", "disable", true, "0"},
        {"enable, replaced", "enable", false, "2000"},
        {"disable, replaced", "disable", false, "2000"},
    };
    for (const auto& c : cases) {
        ToolFiles world;
        const bool enabling = std::strcmp(c.action, "enable") == 0;
        const std::string before = enabling ? old : withEntryInTheMiddle(old, world.library);
        writeFile(world.preload, before);
        RunOptions options = world.options();
        if (c.inPlace) {
            ASSERT_EQ(chown(world.preload.c_str(), unprivilegedUid, unprivilegedGid), 0);
            options = asUnprivileged(options);
        }
        options.environment["LD_PRELOAD"] = fault;
        options.environment["OMBREX_FAULT_WRITE_BUDGET"] = c.budget;
        // A sanitized tool wants its runtime first; the fixture calls nothing it must see.
        options.environment["ASAN_OPTIONS"] = "verify_asan_link_order=0";
        options.timeLimitSeconds = 60;

        RunResult result = runTool({c.action}, options);
        EXPECT_EQ(result.out, pathAndErrno(world.preload, "Input/output error")) << c.name;
        EXPECT_EQ(result.err, overrideWarnings(world.preload, world.library, 2) + writeFailed)
            << c.name;
        EXPECT_EQ(result.status, 127) << c.name;
        std::string now = readFile(world.preload);
        EXPECT_TRUE(now == before) << c.name << ": " << now.size() << " bytes, not the old content";
        EXPECT_EQ(entriesOf(world.etc), std::set<std::string>{"ld.so.preload"}) << c.name;
    }
}

} // namespace
} // namespace ombrex::test::faults
