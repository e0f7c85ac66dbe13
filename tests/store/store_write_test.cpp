// Replacing the preload file, through the built binary: what the file holds afterwards, who
// owns it, and what a failed write leaves behind.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

#include "tests/support/expected.h"
#include "tests/support/run.h"

namespace ombrex::test {
namespace {

const std::string otherEntry = "/usr/lib/other.so\n";

struct FileInfo {
    uid_t uid;
    gid_t gid;
    mode_t mode;
};

FileInfo infoOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        ADD_FAILURE() << "stat " << path << ": " << std::strerror(errno);
        return {};
    }
    return {info.st_uid, info.st_gid, info.st_mode & 07777};
}

void setOwner(const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    ASSERT_EQ(chown(path.c_str(), uid, gid), 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path << ": " << std::strerror(errno);
}

// Runs a shell script in a mount namespace of its own: its mounts vanish with it.
RunResult runWithPrivateMounts(const std::string& script, const std::vector<std::string>& args,
                               const RunOptions& options) {
    std::vector<std::string> arguments = {"--mount", "--propagation",     "private", "/bin/sh",
                                          "-c",      "set -e\n" + script, "sh"};
    arguments.insert(arguments.end(), args.begin(), args.end());
    return run("/usr/bin/unshare", arguments, options);
}

TEST(StoreWrite, NewFileGetsMode0644WhateverTheUmask) {
    for (mode_t mask : {mode_t{077}, mode_t{022}, mode_t{0}}) {
        ToolFiles files;
        RunOptions options = files.options();
        options.umask = mask;
        RunResult result = runTool({"enable"}, options);
        EXPECT_EQ(result.out, enabledOut(files.preload, files.library)) << mask;
        EXPECT_EQ(result.err, overrideWarnings(files.preload, files.library, 2)) << mask;
        EXPECT_EQ(result.status, 0) << mask;
        EXPECT_EQ(readFile(files.preload), files.library + "\n") << mask;
        EXPECT_EQ(infoOf(files.preload).mode, 0644u) << mask;
        EXPECT_EQ(hiddenEntriesOf(files.etc), std::set<std::string>{}) << mask;
    }
}

TEST(StoreWrite, MissingDirectoryFailsToOpen) {
    ToolFiles files;
    const std::string preload = files.scratch / "missing/ld.so.preload";
    RunResult result = runTool({"enable"}, withOverrides(preload, files.library));
    EXPECT_EQ(result.out, pathAndErrno(preload, "No such file or directory"));
    EXPECT_EQ(result.err, overrideWarnings(preload, files.library, 2) + openForWritingFailed);
    EXPECT_EQ(result.status, 127);
    EXPECT_EQ(entriesOf(files.scratch.path()), (std::set<std::string>{"etc", "lib"}));
    EXPECT_EQ(entriesOf(files.etc), std::set<std::string>{});
}

// /dev/full reads as empty and refuses every write. As root the tool sees it in a mount
// namespace whose /dev is a scratch tmpfs, so even a writer that wrongly replaced device
// nodes could not touch the real one; a user cannot write /dev at all.
RunResult runAgainstDevFull(const std::string& action, const ToolFiles& files) {
    RunOptions options = withOverrides("/dev/full", files.library);
    if (!runningAsRoot()) {
        return runTool({action}, options);
    }
    const std::string script = R"(scratch=$1 tool=$2 action=$3
/usr/bin/touch "$scratch/full"
/usr/bin/mount --bind /dev/full "$scratch/full"
/usr/bin/mount -t tmpfs -o size=16k,mode=0755 ombrex-test-dev /dev
: > /dev/full
/usr/bin/mount --bind "$scratch/full" /dev/full
exec "$tool" "$action"
)";
    return runWithPrivateMounts(script, {files.scratch.path(), toolPath(), action}, options);
}

TEST(StoreWrite, DevFullReadsAsEmptyAndEveryWriteFails) {
    if (!runningAsRoot() && access("/dev", W_OK) == 0) {
        GTEST_SKIP() << "/dev is writable without root";
    }
    ToolFiles files;

    RunResult disable = runAgainstDevFull("disable", files);
    EXPECT_EQ(disable.out, alreadyAbsentOut("/dev/full", files.library));
    EXPECT_EQ(disable.err, overrideWarnings("/dev/full", files.library, 1));
    EXPECT_EQ(disable.status, 0);

    RunResult enable = runAgainstDevFull("enable", files);
    EXPECT_EQ(enable.out, pathAndErrno("/dev/full", "No space left on device"));
    EXPECT_EQ(enable.err, overrideWarnings("/dev/full", files.library, 2) + writeFailed);
    EXPECT_EQ(enable.status, 127);

    struct stat info {};
    ASSERT_EQ(stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_EQ(major(info.st_rdev), 1u);
    EXPECT_EQ(minor(info.st_rdev), 7u);
}

// A write that fails half-way (a full file system) leaves the old file whole and no
// temporary file behind.
TEST(StoreWrite, FailedWriteLeavesOldFileWhole) {
    OMBREX_REQUIRE_ROOT();
    ToolFiles files;
    std::string old;
    while (old.size() < 40000) {
        old += "# filler that takes up room on a small file system\n";
    }
    writeFile(files.scratch / "seed", old, 0644);
    ASSERT_EQ(mkdir((files.scratch / "small").c_str(), 0755), 0);
    const std::string preload = files.scratch / "small/ld.so.preload";
    // 64 KiB hold the old file but not a second copy beside it.
    const std::string script = R"(dir=$1 tool=$2
/usr/bin/mount -t tmpfs -o size=64k,mode=0755 ombrex-test-small "$dir/small"
/usr/bin/cp "$dir/seed" "$dir/small/ld.so.preload"
set +e
"$tool" enable
status=$?
/usr/bin/ls -A "$dir/small" > "$dir/listing"
/usr/bin/cp "$dir/small/ld.so.preload" "$dir/after"
exit $status
)";
    RunResult result = runWithPrivateMounts(script, {files.scratch.path(), toolPath()},
                                            withOverrides(preload, files.library));
    EXPECT_EQ(result.out, pathAndErrno(preload, "No space left on device"));
    EXPECT_EQ(result.err, overrideWarnings(preload, files.library, 2) + writeFailed);
    EXPECT_EQ(result.status, 127);
    EXPECT_EQ(readFile(files.scratch / "listing"), "ld.so.preload\n");
    // Compared as a flag: a mismatch of 40 kB would drown the report.
    std::string after = readFile(files.scratch / "after");
    EXPECT_TRUE(after == old) << "old file changed: " << after.size() << " bytes now";
}

TEST(StoreWrite, UnprivilegedUserCannotWrite) {
    OMBREX_REQUIRE_ROOT();
    struct Case {
        const char* name;
        bool exists;
        uid_t owner;
        mode_t mode;
    };
    const Case cases[] = {
        {"file of root, 0644", true, 0, 0644},
        {"own file, 0444", true, unprivilegedUid, 0444},
        {"no file, directory of root", false, 0, 0},
    };
    for (const Case& c : cases) {
        ToolFiles files;
        if (c.exists) {
            writeFile(files.preload, otherEntry, 0644);
            setOwner(files.preload, c.owner, c.owner, c.mode);
        }
        RunResult result = runTool({"enable"}, asUnprivileged(files.options()));
        EXPECT_EQ(result.out, pathAndErrno(files.preload, "Permission denied")) << c.name;
        EXPECT_EQ(result.err,
                  overrideWarnings(files.preload, files.library, 2) + openForWritingFailed)
            << c.name;
        EXPECT_EQ(result.status, 127) << c.name;
        if (c.exists) {
            EXPECT_EQ(readFile(files.preload), otherEntry) << c.name;
        } else {
            EXPECT_FALSE(fileExists(files.preload)) << c.name;
        }
        EXPECT_EQ(hiddenEntriesOf(files.etc), std::set<std::string>{}) << c.name;
    }
}

// The preload path stays a link (or chain of links); the file at its end gets the content.
TEST(StoreWrite, SymlinkedFileStaysALink) {
    struct Case {
        const char* name;
        // Link paths below the scratch directory and their targets; "@" stands for the
        // scratch directory. The first link is the preload path.
        std::vector<std::pair<std::string, std::string>> links;
        std::string target;
        bool targetExists;
    };
    const Case cases[] = {
        {"relative, same directory", {{"etc/ld.so.preload", "real"}}, "etc/real", true},
        {"relative, other directory", {{"etc/ld.so.preload", "../data/real"}}, "data/real", true},
        {"absolute", {{"etc/ld.so.preload", "@/data/real"}}, "data/real", true},
        {"chain", {{"etc/ld.so.preload", "hop"}, {"etc/hop", "../data/real"}}, "data/real", true},
        {"dangling", {{"etc/ld.so.preload", "../data/new"}}, "data/new", false},
    };
    for (const Case& c : cases) {
        ToolFiles files;
        const std::string& root = files.scratch.path();
        ASSERT_EQ(mkdir((root + "/data").c_str(), 0755), 0);
        const std::string target = files.scratch / c.target;
        if (c.targetExists) {
            writeFile(target, otherEntry, 0644);
        }
        std::vector<std::pair<std::string, std::string>> links;
        for (const auto& [link, text] : c.links) {
            std::string resolved = text[0] == '@' ? root + text.substr(1) : text;
            ASSERT_EQ(symlink(resolved.c_str(), (files.scratch / link).c_str()), 0) << c.name;
            links.emplace_back(files.scratch / link, resolved);
        }
        const std::string preload = links.front().first;

        RunResult result = runTool({"enable"}, withOverrides(preload, files.library));
        EXPECT_EQ(result.out, enabledOut(preload, files.library)) << c.name;
        EXPECT_EQ(result.err, overrideWarnings(preload, files.library, 2)) << c.name;
        EXPECT_EQ(result.status, 0) << c.name;

        for (const auto& [link, text] : links) {
            char buffer[4096];
            ssize_t length = readlink(link.c_str(), buffer, sizeof buffer);
            ASSERT_GE(length, 0) << c.name << ": " << link << " is no longer a link";
            EXPECT_EQ(std::string(buffer, static_cast<size_t>(length)), text) << c.name;
        }
        EXPECT_EQ(readFile(target), (c.targetExists ? otherEntry : "") + files.library + "\n")
            << c.name;
        EXPECT_EQ(infoOf(target).mode, 0644u) << c.name;
        EXPECT_EQ(hiddenEntriesOf(files.etc), std::set<std::string>{}) << c.name;
        EXPECT_EQ(hiddenEntriesOf(root + "/data"), std::set<std::string>{}) << c.name;
    }
}

TEST(StoreWrite, ReplacedFileKeepsOwnerModeAndAttributes) {
    OMBREX_REQUIRE_ROOT();
    ToolFiles files;
    writeFile(files.preload, otherEntry, 0644);
    setOwner(files.preload, 1234, 5678, 0640);
    const char attribute[] = "user.ombrex-test";
    bool attributesSupported = setxattr(files.preload.c_str(), attribute, "kept", 4, 0) == 0;
    if (!attributesSupported) {
        ASSERT_TRUE(errno == ENOTSUP || errno == EOPNOTSUPP) << std::strerror(errno);
    }

    RunResult result = runTool({"enable"}, files.options());
    EXPECT_EQ(result.out, enabledOut(files.preload, files.library));
    EXPECT_EQ(result.err, overrideWarnings(files.preload, files.library, 2));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(files.preload), otherEntry + files.library + "\n");
    FileInfo info = infoOf(files.preload);
    EXPECT_EQ(info.uid, 1234u);
    EXPECT_EQ(info.gid, 5678u);
    EXPECT_EQ(info.mode, 0640u);
    if (attributesSupported) {
        char value[16] = {};
        EXPECT_EQ(getxattr(files.preload.c_str(), attribute, value, sizeof value), 4);
        EXPECT_STREQ(value, "kept");
    }
    EXPECT_EQ(hiddenEntriesOf(files.etc), std::set<std::string>{});
}

// Where the file cannot be replaced by its writer, it is rewritten in place, still whole.
TEST(StoreWrite, WritesInPlaceWhenReplacingIsNotPossible) {
    OMBREX_REQUIRE_ROOT();
    struct Case {
        const char* name;
        uid_t directoryOwner;
        uid_t fileOwner;
        mode_t fileMode;
    };
    const Case cases[] = {
        {"directory not writable by the file's owner", 0, unprivilegedUid, 0644},
        {"owner cannot be kept", unprivilegedUid, 0, 0666},
    };
    for (const Case& c : cases) {
        ToolFiles files;
        const std::string& dir = files.etc;
        const std::string& preload = files.preload;
        setOwner(dir, c.directoryOwner, c.directoryOwner, 0755);
        writeFile(preload, otherEntry, 0644);
        setOwner(preload, c.fileOwner, c.fileOwner, c.fileMode);

        RunResult result =
            runTool({"enable"}, asUnprivileged(withOverrides(preload, files.library)));
        EXPECT_EQ(result.out, enabledOut(preload, files.library)) << c.name;
        EXPECT_EQ(result.err, overrideWarnings(preload, files.library, 2)) << c.name;
        EXPECT_EQ(result.status, 0) << c.name;
        EXPECT_EQ(readFile(preload), otherEntry + files.library + "\n") << c.name;
        FileInfo info = infoOf(preload);
        EXPECT_EQ(info.uid, c.fileOwner) << c.name;
        EXPECT_EQ(info.gid, c.fileOwner) << c.name;
        EXPECT_EQ(info.mode, c.fileMode) << c.name;
        EXPECT_EQ(entriesOf(dir), std::set<std::string>{"ld.so.preload"}) << c.name;

        // Shorter content: nothing of the longer old content may be left at the end.
        RunResult shrink =
            runTool({"disable"}, asUnprivileged(withOverrides(preload, files.library)));
        EXPECT_EQ(shrink.out, disabledOut) << c.name;
        EXPECT_EQ(shrink.err, overrideWarnings(preload, files.library, 2)) << c.name;
        EXPECT_EQ(shrink.status, 0) << c.name;
        EXPECT_EQ(readFile(preload), otherEntry) << c.name;
        EXPECT_EQ(entriesOf(dir), std::set<std::string>{"ld.so.preload"}) << c.name;
    }
}

// A file mounted over the preload path (as containers do) cannot be renamed over; it is
// rewritten in place rather than failing.
TEST(StoreWrite, FileMountedOverThePathIsRewrittenInPlace) {
    OMBREX_REQUIRE_ROOT();
    ToolFiles files;
    const std::string mounted = files.scratch / "mounted";
    writeFile(mounted, otherEntry, 0644);
    writeFile(files.preload, "", 0644);
    const std::string script = R"(mounted=$1 preload=$2 tool=$3 action=$4
/usr/bin/mount --bind "$mounted" "$preload"
exec "$tool" "$action"
)";
    struct Step {
        const char* action;
        std::string out;
        std::string after;
    };
    const Step steps[] = {
        {"enable", enabledOut(files.preload, files.library), otherEntry + files.library + "\n"},
        {"disable", disabledOut, otherEntry},
    };
    for (const Step& step : steps) {
        RunResult result = runWithPrivateMounts(
            script, {mounted, files.preload, toolPath(), step.action}, files.options());
        EXPECT_EQ(result.out, step.out) << step.action;
        EXPECT_EQ(result.err, overrideWarnings(files.preload, files.library, 2)) << step.action;
        EXPECT_EQ(result.status, 0) << step.action;
        EXPECT_EQ(readFile(mounted), step.after) << step.action;
        EXPECT_EQ(readFile(files.preload), "") << step.action;
        EXPECT_EQ(hiddenEntriesOf(files.etc), std::set<std::string>{}) << step.action;
    }
}

// Every program that starts reads the preload file: while it is being rewritten, a reader
// must see the old content or the new, never an empty or partial file.
TEST(StoreWrite, ReaderNeverSeesPartialContent) {
    ToolFiles files;
    const std::string disabled = otherEntry;
    const std::string enabled = otherEntry + files.library + "\n";
    writeFile(files.preload, disabled, 0644);

    std::atomic<bool> stop{false};
    std::atomic<long> reads{0};
    std::mutex badMutex;
    std::vector<std::string> bad;
    std::thread reader([&] {
        while (!stop.load()) {
            std::string seen;
            int fd = open(files.preload.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                seen = std::string("<open failed: ") + std::strerror(errno) + ">";
            } else {
                char buffer[4096];
                ssize_t got;
                while ((got = read(fd, buffer, sizeof buffer)) > 0) {
                    seen.append(buffer, static_cast<size_t>(got));
                }
                close(fd);
            }
            if (seen != disabled && seen != enabled) {
                std::lock_guard<std::mutex> lock(badMutex);
                if (bad.size() < 5) {
                    bad.push_back(seen);
                }
            }
            reads.fetch_add(1);
        }
    });

    int failedRuns = 0;
    for (int i = 0; i < 150 && failedRuns == 0; ++i) {
        for (const char* action : {"enable", "disable"}) {
            RunResult result = runTool({action}, files.options());
            if (result.status != 0) {
                ++failedRuns;
                ADD_FAILURE() << action << " failed: " << result.err;
            }
        }
    }
    stop.store(true);
    reader.join();

    EXPECT_EQ(bad, std::vector<std::string>{});
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(readFile(files.preload), disabled);
    EXPECT_EQ(hiddenEntriesOf(files.etc), std::set<std::string>{});
}

} // namespace
} // namespace ombrex::test
