// Which log files may receive records.
#include "libombrex/deliver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// A file that a user made, or a second name a user gave root's file, would hand that user the
// command lines of everyone else.
TEST(LogTrust, OnlyARegularFileOfRootWithOneName) {
    struct Case {
        const char* what;
        mode_t mode;
        uid_t owner;
        nlink_t links;
        bool trusted;
    };
    const Case cases[] = {
        {"root's, 0600", S_IFREG | 0600, 0, 1, true},
        {"root's, 0622 for every user's records", S_IFREG | 0622, 0, 1, true},
        {"another user's", S_IFREG | 0600, 1000, 1, false},
        {"another user's, 0666", S_IFREG | 0666, 65534, 1, false},
        {"root's with a second name", S_IFREG | 0600, 0, 2, false},
        {"root's, removed while open", S_IFREG | 0600, 0, 0, false},
        {"root's FIFO", S_IFIFO | 0600, 0, 1, false},
        {"root's character device", S_IFCHR | 0666, 0, 1, false},
        {"root's directory", S_IFDIR | 0755, 0, 1, false},
    };
    for (const auto& c : cases) {
        struct stat status {};
        status.st_mode = c.mode;
        status.st_uid = c.owner;
        status.st_nlink = c.links;
        EXPECT_EQ(ombrex::judgeLog(status) == DestinationReady, c.trusted) << c.what;
    }
}

} // namespace
