// Shared pieces of the fault-injection tests: the support they all use, a private mount
// namespace for the faults that need mounts, and runs of the tool started side by side.
#ifndef OMBREX_TESTS_FAULTS_FAULTS_H
#define OMBREX_TESTS_FAULTS_FAULTS_H

#include <string>
#include <sys/types.h>
#include <utility>

#include "tests/support/expected.h"
#include "tests/support/run.h"

namespace ombrex::test::faults {

// Moves this test process into a mount namespace of its own whose mounts propagate nowhere,
// as `unshare -m --propagation private` does. False when the system refuses.
bool enterPrivateMountNamespace();

// Unmounts on the way out, before the scratch directory under it is removed.
class MountGuard {
  public:
    explicit MountGuard(std::string target) : target_(std::move(target)) {}
    MountGuard(const MountGuard&) = delete;
    MountGuard& operator=(const MountGuard&) = delete;
    ~MountGuard();

  private:
    std::string target_;
};

// Starts ombrexctl without waiting for it, its output going to the two files. With a gate
// (a pipe) the child first waits at it, so that many children start at once.
pid_t startTool(const std::string& action, const Environment& environment, const int* gate,
                const std::string& outPath, const std::string& errPath);

// In a child: waits until every copy of the gate's write end is closed. Nothing without one.
void waitAtGate(const int* gate);

// The exit status, or 128 plus the signal that ended the child.
int waitFor(pid_t child);

// Fills the file system at directory until not one more byte fits, with the file "filler".
void fillToTheBrim(const std::string& directory);

} // namespace ombrex::test::faults

// Skips (or, under CI=true, fails) a test whose faults need a private mount namespace.
#define OMBREX_REQUIRE_PRIVATE_MOUNTS()                                                            \
    do {                                                                                           \
        OMBREX_REQUIRE_ROOT();                                                                     \
        if (!::ombrex::test::faults::enterPrivateMountNamespace()) {                               \
            if (::ombrex::test::runningInCi()) {                                                   \
                FAIL() << "no private mount namespace, and CI=true forbids skipping";              \
            }                                                                                      \
            GTEST_SKIP() << "no private mount namespace";                                          \
        }                                                                                          \
    } while (0)

#endif
