// Shared pieces of the fault-injection tests: the support they all use, and a private mount
// namespace for the faults that need mounts.
#ifndef OMBREX_TESTS_FAULTS_FAULTS_H
#define OMBREX_TESTS_FAULTS_FAULTS_H

#include "tests/support/expected.h"
#include "tests/support/run.h"

namespace ombrex::test::faults {

// Moves this test process into a mount namespace of its own whose mounts propagate nowhere,
// as `unshare -m --propagation private` does. False when the system refuses.
bool enterPrivateMountNamespace();

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
