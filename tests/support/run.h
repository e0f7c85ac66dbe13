// Runs a program with a chosen environment and captures what it writes, for black-box tests.
#ifndef OMBREX_TESTS_SUPPORT_RUN_H
#define OMBREX_TESTS_SUPPORT_RUN_H

#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ombrex::test {

using Environment = std::map<std::string, std::string>;

struct RunOptions {
    // The whole environment of the child: nothing is inherited.
    Environment environment;
    std::string workingDirectory;
    // Run as this user and group (the caller must be root), e.g. to test permissions.
    std::optional<uid_t> uid;
    std::optional<gid_t> gid;
    std::optional<mode_t> umask;
    bool closeStdout = false;
    // A file size limit (RLIMIT_FSIZE, bytes) for the child: a write past it fails.
    std::optional<unsigned long> fileSizeLimit;
    // The child is killed by SIGALRM after this many seconds: a run that hangs fails.
    unsigned timeLimitSeconds = 0;
};

struct RunResult {
    std::string out;
    std::string err;
    // The exit status, or 128 plus the signal number when a signal ended the child.
    int status = -1;
};

RunResult run(const std::string& program, const std::vector<std::string>& arguments,
              const RunOptions& options = {});

// The built ombrexctl.
const std::string& toolPath();

// A copy of the built ombrexctl that any user can run: the build tree may lie where only its
// owner can enter (a clone in root's home, mode 0700).
const std::string& toolPathForAnyUser();

// Runs the built ombrexctl, or its copy for any user when options.uid is set.
RunResult runTool(const std::vector<std::string>& arguments, const RunOptions& options = {});

// A fresh directory, removed with its content when the object goes.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::string& path() const {
        return path_;
    }
    std::string operator/(const std::string& name) const {
        return path_ + "/" + name;
    }

  private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644);
bool fileExists(const std::string& path);
// The names in a directory, and those of its hidden files alone: an interrupted replacement
// would leave a hidden temporary file beside the preload file.
std::set<std::string> entriesOf(const std::string& directory);
std::set<std::string> hiddenEntriesOf(const std::string& directory);

// The two variables that point the tool at other files than the system's.
inline const std::string preloadVariable = "OMBREX_TEST_LD_SO_PRELOAD_PATH";
inline const std::string libraryVariable = "OMBREX_TEST_LIBOMBREX_SO_PATH";

Environment overrides(const std::string& preload, const std::string& library);
RunOptions withOverrides(const std::string& preload, const std::string& library);

// The user "nobody" for tests that must not run as root.
inline constexpr uid_t unprivilegedUid = 65534;
inline constexpr gid_t unprivilegedGid = 65534;

// The options, run as the user "nobody" (the caller must be root).
RunOptions asUnprivileged(RunOptions options);

// The files that one run of the tool works on, in a scratch directory of their own: etc/, which
// holds the preload file once the test or the tool writes it, and lib/libombrex.so, a readable
// stand-in for the library that these tests never load. Both directories are open to every
// user, so that runs as "nobody" reach them.
struct ToolFiles {
    ToolFiles();

    ScratchDirectory scratch;
    std::string etc = scratch / "etc";
    std::string preload = etc + "/ld.so.preload";
    std::string lib = scratch / "lib";
    std::string library = lib + "/libombrex.so";

    // The overrides that name preload and library.
    RunOptions options() const;
    RunResult run(const std::string& action) const;
};

// True when the tests run as root; outside CI root-only tests skip, under CI=true they fail.
bool runningAsRoot();
bool runningInCi();

} // namespace ombrex::test

// Skips (or, under CI=true, fails) a test that needs root.
#define OMBREX_REQUIRE_ROOT()                                                                      \
    do {                                                                                           \
        if (!::ombrex::test::runningAsRoot()) {                                                    \
            if (::ombrex::test::runningInCi()) {                                                   \
                FAIL() << "this test needs root, and CI=true forbids skipping it";                 \
            }                                                                                      \
            GTEST_SKIP() << "needs root";                                                          \
        }                                                                                          \
    } while (0)

#endif
