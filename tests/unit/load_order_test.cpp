#include <gtest/gtest.h>
#include <initializer_list>

#include "cli/actions/status.h"

namespace {

LoadOrderVerdict judge(std::initializer_list<const char*> names) {
    LoadedObjectPositions positions{0, 0};
    int32_t position = 0;
    for (const char* name : names) {
        ombrex_cli_noteLoadedObject(positions, ++position, name);
    }
    return ombrex_cli_judgeLoadOrder(positions);
}

TEST(LoadOrder, JudgesTheObjectList) {
    const char* libc = "/lib/x86_64-linux-gnu/libc.so.6";
    const char* ombrex = "/usr/local/lib/libombrex.so";
    EXPECT_EQ(judge({"", ombrex, libc}), LoadOrderVerdict::LoadedInFront);
    EXPECT_EQ(judge({"", libc, ombrex}), LoadOrderVerdict::LoadedAfter);
    EXPECT_EQ(judge({"", libc}), LoadOrderVerdict::NotLoaded);
    EXPECT_EQ(judge({"", ombrex, "/lib/libc.so.7"}), LoadOrderVerdict::NoLibc);
    EXPECT_EQ(judge({}), LoadOrderVerdict::NoLibc);
    EXPECT_EQ(judge({"/lib/libombrex.so.1", libc}), LoadOrderVerdict::NotLoaded);
    EXPECT_EQ(judge({"libombrex.so", libc}), LoadOrderVerdict::NotLoaded);
    EXPECT_EQ(judge({"libombrex.so", "libc.so.6"}), LoadOrderVerdict::NoLibc);
    // Only the first occurrence of the ending counts.
    EXPECT_EQ(judge({"/a/libombrex.so/b/libombrex.so", libc}), LoadOrderVerdict::NotLoaded);
    // A later match overwrites an earlier one.
    EXPECT_EQ(judge({ombrex, libc, "/opt/libombrex.so"}), LoadOrderVerdict::LoadedAfter);
    EXPECT_EQ(judge({libc, ombrex, "/opt/libc.so.6"}), LoadOrderVerdict::LoadedInFront);
}

TEST(LoadOrder, SameObjectForBothCountsAsAfter) {
    LoadedObjectPositions positions{3, 3};
    EXPECT_EQ(ombrex_cli_judgeLoadOrder(positions), LoadOrderVerdict::LoadedAfter);
}

} // namespace
