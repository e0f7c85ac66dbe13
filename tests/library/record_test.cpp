// The record format: fields, syslog header, dates, and records cut for length.
#include "libombrex/record.h"

#include "libombrex/writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ombrex::ProcessFacts facts(int64_t seconds = 1796858637, const char* file = "/bin/ls") {
    ombrex::ProcessFacts f{};
    f.seconds = seconds;
    f.nanoseconds = 123456789;
    f.pid = 4242;
    f.ppid = 1;
    f.uid = 1000;
    f.euid = 0;
    f.gid = 100;
    f.egid = 101;
    f.cwd = "/home/user";
    f.file = file;
    return f;
}

std::string format(const ombrex::ExecEvent& event, const ombrex::ProcessFacts& f,
                   const ombrex::SyslogHeader* header = nullptr) {
    std::vector<char> buffer(ombrex::recordCapacity);
    const size_t length = ombrex::formatRecord(buffer.data(), buffer.size(), event, f, header);
    return std::string(buffer.data(), length);
}

char* const lsArguments[] = {const_cast<char*>("ls"), const_cast<char*>("-l"), nullptr};

// The documented format, as a log parser sees it.
TEST(Record, FileLine) {
    const ombrex::ExecEvent event{"execve", "/bin/ls", lsArguments, -1};
    EXPECT_EQ(format(event, facts()),
              "call=execve time=2026-12-09T23:23:57.123456Z pid=4242 ppid=1 uid=1000 euid=0 "
              "gid=100 egid=101 cwd=\"/home/user\" file=\"/bin/ls\" argc=2 arg0=\"ls\" "
              "arg1=\"-l\"\n");
}

TEST(Record, SyslogDatagram) {
    const ombrex::ExecEvent event{"execvp", "ls", lsArguments, -1};
    const ombrex::SyslogHeader header{19, "ombrex"}; // local3
    EXPECT_EQ(format(event, facts(1796858637, "ls"), &header),
              "<158>Dec  9 23:23:57 ombrex[4242]: call=execvp time=2026-12-09T23:23:57.123456Z "
              "pid=4242 ppid=1 uid=1000 euid=0 gid=100 egid=101 cwd=\"/home/user\" file=\"ls\" "
              "argc=2 arg0=\"ls\" arg1=\"-l\"");
}

TEST(Record, DescriptorAndMissingValues) {
    ombrex::ProcessFacts f = facts(0, nullptr);
    f.cwd = nullptr;
    const ombrex::ExecEvent event{"fexecve", nullptr, nullptr, 7};
    EXPECT_EQ(format(event, f),
              "call=fexecve time=1970-01-01T00:00:00.123456Z pid=4242 ppid=1 uid=1000 euid=0 "
              "gid=100 egid=101 cwd=\"\" fd=7 file=\"\" argc=0\n");
}

TEST(Record, CalendarDates) {
    struct Case {
        int64_t seconds;
        const char* iso;
        const char* syslog;
    };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00", "Jan  1 00:00:00"},
        {951782400, "2000-02-29T00:00:00", "Feb 29 00:00:00"},
        {951868799, "2000-02-29T23:59:59", "Feb 29 23:59:59"},
        {1709251199, "2024-02-29T23:59:59", "Feb 29 23:59:59"},
        {4107542400, "2100-03-01T00:00:00", "Mar  1 00:00:00"},
        {1798761599, "2026-12-31T23:59:59", "Dec 31 23:59:59"},
        {-1, "1969-12-31T23:59:59", "Dec 31 23:59:59"},
    };
    char* const none[] = {nullptr};
    const ombrex::ExecEvent event{"execve", "/x", none, -1};
    const ombrex::SyslogHeader header{1, "t"};
    for (const auto& c : cases) {
        const std::string line = format(event, facts(c.seconds));
        EXPECT_NE(line.find(std::string(" time=") + c.iso + ".123456Z "), std::string::npos)
            << c.seconds << ": " << line;
        const std::string datagram = format(event, facts(c.seconds), &header);
        EXPECT_EQ(datagram.substr(0, 20), std::string("<14>") + c.syslog + " ") << c.seconds;
    }
}

TEST(Record, ManyArgumentsAreCutWithTheMarker) {
    std::vector<std::string> texts(20000, "argument");
    std::vector<char*> argv;
    for (auto& t : texts) {
        argv.push_back(t.data());
    }
    argv.push_back(nullptr);
    const ombrex::ExecEvent event{"execve", "/bin/x", argv.data(), -1};
    const ombrex::SyslogHeader header{10, "ombrex"};
    for (const auto* h : {static_cast<const ombrex::SyslogHeader*>(nullptr), &header}) {
        const std::string record = format(event, facts(), h);
        EXPECT_LE(record.size(), ombrex::recordCapacity);
        EXPECT_GT(record.size(), ombrex::recordCapacity - 40);
        EXPECT_NE(record.find(" argc=20000 "), std::string::npos);
        const std::string tail =
            std::string("\"") + ombrex::truncationMarker + (h == nullptr ? "\n" : "");
        ASSERT_GE(record.size(), tail.size());
        EXPECT_EQ(record.substr(record.size() - tail.size()), tail);
        EXPECT_EQ(record.find('\n'), h == nullptr ? record.size() - 1 : std::string::npos);
    }
}

} // namespace
