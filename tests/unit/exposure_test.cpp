#include "preload/exposure.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(DirectoryOpenToOthers, JudgesModeOwnerAndUser) {
    const struct {
        mode_t mode;
        uid_t owner;
        uid_t user;
        bool open;
    } cases[] = {
        {S_IFDIR | 0755, 0, 0, false},
        {S_IFDIR | 0775, 0, 0, true},
        {S_IFDIR | 0757, 0, 0, true},
        {S_IFDIR | 0777, 0, 1000, true},
        // The sticky bit keeps others from replacing what they do not own.
        {S_IFDIR | 01777, 0, 0, false},
        {S_IFDIR | 01770, 0, 1000, false},
        {S_IFDIR | 0700, 0, 1000, false},
        {S_IFDIR | 0755, 1000, 1000, false},
        {S_IFDIR | 0755, 1000, 0, true},
        {S_IFDIR | 0755, 1000, 2000, true},
        {S_IFDIR | 01777, 1000, 0, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ombrex_cli_isDirectoryOpenToOthers(c.mode, c.owner, c.user), c.open)
            << std::oct << c.mode << std::dec << " owner " << c.owner << " user " << c.user;
    }
}

TEST(LinkOpenToOthers, JudgesTheLinksOwnerAgainstItsDirectory) {
    const struct {
        uid_t linkOwner;
        mode_t directoryMode;
        uid_t directoryOwner;
        uid_t user;
        bool open;
    } cases[] = {
        // Root's links, and the user's own, are never another user's.
        {0, S_IFDIR | 01777, 0, 1000, false},
        {1000, S_IFDIR | 01777, 0, 1000, false},
        // The sticky bit keeps others out, not the link's owner.
        {2000, S_IFDIR | 01777, 0, 1000, true},
        {2000, S_IFDIR | 01770, 0, 0, true},
        {2000, S_IFDIR | 0755, 2000, 0, true},
        {2000, S_IFDIR | 01755, 2000, 0, true},
        // A directory its owner cannot write, or root's closed one, keeps the link.
        {2000, S_IFDIR | 0555, 2000, 0, false},
        {2000, S_IFDIR | 0755, 0, 0, false},
        {2000, S_IFDIR | 0755, 3000, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            ombrex_cli_isLinkOpenToOthers(c.linkOwner, c.directoryMode, c.directoryOwner, c.user),
            c.open)
            << "link of " << c.linkOwner << " in " << std::oct << c.directoryMode << std::dec
            << " of " << c.directoryOwner << ", user " << c.user;
    }
}

} // namespace
