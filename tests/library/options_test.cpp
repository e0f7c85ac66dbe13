// The configuration file: parsing, validation, and reading it with the record path's limits.
#include "libombrex/options.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Values {
    std::string destination = "syslog";
    std::string format = "kv";
    std::string file = "/var/log/ombrex.log";
    std::string socket = "/dev/log";
    std::string facility = "authpriv";
    std::string tag = "ombrex";
    std::string wait = "1000";
    std::string sandboxed = "skip";
    std::string skipProgram = "";
    std::string skipExe = "";
    std::string skipUid = "";
    std::string skipAuid = "";
};

Values valuesOf(const ombrex::Options& options) {
    Values v;
    v.destination = ombrex::optionValue(options, "destination");
    v.format = ombrex::optionValue(options, "format");
    v.file = ombrex::optionValue(options, "file");
    v.socket = ombrex::optionValue(options, "syslog_socket");
    v.facility = ombrex::optionValue(options, "syslog_facility");
    v.tag = ombrex::optionValue(options, "syslog_tag");
    v.wait = ombrex::optionValue(options, "syslog_wait_ms");
    v.sandboxed = ombrex::optionValue(options, "sandboxed");
    v.skipProgram = ombrex::optionValue(options, "skip_program");
    v.skipExe = ombrex::optionValue(options, "skip_exe");
    v.skipUid = ombrex::optionValue(options, "skip_uid");
    v.skipAuid = ombrex::optionValue(options, "skip_auid");
    return v;
}

Values parse(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    ombrex::Options options;
    ombrex::setDefaults(options);
    ombrex::parseOptions(buffer.data(), text.size(), options);
    return valuesOf(options);
}

void expectValues(const Values& actual, const Values& expected, const std::string& what) {
    EXPECT_EQ(actual.destination, expected.destination) << what;
    EXPECT_EQ(actual.format, expected.format) << what;
    EXPECT_EQ(actual.file, expected.file) << what;
    EXPECT_EQ(actual.socket, expected.socket) << what;
    EXPECT_EQ(actual.facility, expected.facility) << what;
    EXPECT_EQ(actual.tag, expected.tag) << what;
    EXPECT_EQ(actual.wait, expected.wait) << what;
    EXPECT_EQ(actual.sandboxed, expected.sandboxed) << what;
    EXPECT_EQ(actual.skipProgram, expected.skipProgram) << what;
    EXPECT_EQ(actual.skipExe, expected.skipExe) << what;
    EXPECT_EQ(actual.skipUid, expected.skipUid) << what;
    EXPECT_EQ(actual.skipAuid, expected.skipAuid) << what;
}

struct ParseCase {
    const char* what;
    std::string text;
    Values expected;
};

Values with(void (*change)(Values&)) {
    Values v;
    change(v);
    return v;
}

TEST(Options, ParsesValidatesAndFallsBack) {
    const char nulText[] = "[ombrex]\ndestination = none\0x\nsyslog_tag = ok\n";
    const std::string withNul(nulText, sizeof nulText - 1);
    const std::string socket107(107, 's');
    const std::string socket108(108, 's');
    const std::vector<ParseCase> cases = {
        {"empty", "", Values{}},
        {"all options",
         "[ombrex]\ndestination = file\nfile = /var/log/x.log\nsyslog_socket = /run/s\n"
         "syslog_facility = local3\nsyslog_tag = exec-log\n",
         Values{"file", "kv", "/var/log/x.log", "/run/s", "local3", "exec-log", "1000", "skip"}},
        {"JSON records", "[ombrex]\nformat = JSON\n", with([](Values& v) { v.format = "json"; })},
        {"format: later line wins, invalid value ignored",
         "[ombrex]\nformat = json\nformat = kv\nformat = xml\nformat = \n", Values{}},
        {"no wait for the system log", "[ombrex]\nsyslog_wait_ms = 0\n",
         with([](Values& v) { v.wait = "0"; })},
        {"more than five digits, leading zeros too", "[ombrex]\nsyslog_wait_ms = 060000\n",
         Values{}},
        {"longest wait", "[ombrex]\nsyslog_wait_ms = 60000\n",
         with([](Values& v) { v.wait = "60000"; })},
        {"waits that are not whole milliseconds from 0 to 60000 are ignored",
         "[ombrex]\nsyslog_wait_ms = 250\nsyslog_wait_ms = 60001\nsyslog_wait_ms = -1\n"
         "syslog_wait_ms = 1.5\nsyslog_wait_ms = 1e3\nsyslog_wait_ms = 99999999999\n"
         "syslog_wait_ms = 20 ms\nsyslog_wait_ms =\n",
         with([](Values& v) { v.wait = "250"; })},
        {"sandboxed processes recorded", "[ombrex]\nsandboxed = Record\n",
         with([](Values& v) { v.sandboxed = "record"; })},
        {"sandboxed: later line wins, invalid value ignored",
         "[ombrex]\nsandboxed = record\nsandboxed = skip\nsandboxed = always\n", Values{}},
        {"keys outside the section are ignored",
         "destination = none\n[other]\ndestination = none\n[ombrex]\nsyslog_tag = t\n"
         "[other]\nfile = /x\n",
         with([](Values& v) { v.tag = "t"; })},
        {"section name with blanks", "[ ombrex ]\ndestination=none\n",
         with([](Values& v) { v.destination = "none"; })},
        {"comments and blank lines",
         "; comment\n# comment\n\n[ombrex]\n  ; destination = none\n\tdestination\t=\tfile  \n",
         with([](Values& v) { v.destination = "file"; })},
        {"comment after a value",
         "[ombrex]\nfile = /var/log/a.log ; where\ndestination = none # x\n", with([](Values& v) {
             v.file = "/var/log/a.log";
             v.destination = "none";
         })},
        {"comment character inside a value", "[ombrex]\nfile = /var/log/a;b#c\n",
         with([](Values& v) { v.file = "/var/log/a;b#c"; })},
        {"CRLF line ends", "[ombrex]\r\ndestination = none\r\nsyslog_tag = crlf\r\n",
         with([](Values& v) {
             v.destination = "none";
             v.tag = "crlf";
         })},
        {"no line end at the end", "[ombrex]\ndestination = none",
         with([](Values& v) { v.destination = "none"; })},
        {"case of enumerated values", "[ombrex]\ndestination = FILE\nsyslog_facility = Local7\n",
         with([](Values& v) {
             v.destination = "file";
             v.facility = "local7";
         })},
        {"later line wins", "[ombrex]\ndestination = file\ndestination = none\n",
         with([](Values& v) { v.destination = "none"; })},
        {"invalid destination", "[ombrex]\ndestination = file\ndestination = disk\n",
         with([](Values& v) { v.destination = "file"; })},
        {"relative file", "[ombrex]\nfile = records.log\n", Values{}},
        {"empty value", "[ombrex]\nfile =\nsyslog_tag =\n", Values{}},
        {"unknown facility", "[ombrex]\nsyslog_facility = kern\nsyslog_facility = local9\n",
         Values{}},
        {"tag with a blank", "[ombrex]\nsyslog_tag = two words\n", Values{}},
        {"tag with a colon", "[ombrex]\nsyslog_tag = a:b\n", Values{}},
        {"tag of 32 characters", "[ombrex]\nsyslog_tag = " + std::string(32, 't') + "\n",
         with([](Values& v) { v.tag = std::string(32, 't'); })},
        {"tag of 33 characters", "[ombrex]\nsyslog_tag = " + std::string(33, 't') + "\n", Values{}},
        {"longest socket path", "[ombrex]\nsyslog_socket = /" + socket107.substr(1) + "\n",
         with([](Values& v) { v.socket = "/" + std::string(106, 's'); })},
        {"socket path too long", "[ombrex]\nsyslog_socket = /" + socket108.substr(1) + "\n",
         Values{}},
        {"line with a NUL", withNul, with([](Values& v) { v.tag = "ok"; })},
        {"line without '='", "[ombrex]\ndestination none\n", Values{}},
        {"unknown key", "[ombrex]\nverbose = yes\n", Values{}},
        {"unterminated section header", "[ombrex\ndestination = none\n", Values{}},
        {"rules, each a list",
         "[ombrex]\nskip_program = /usr/lib/gcc/*/*/cc1plus\t/usr/bin/x86_64-linux-gnu-as\n"
         "skip_exe = /usr/sbin/agent\nskip_uid = 998 1000-1999\nskip_auid = unset 0\n",
         with([](Values& v) {
             v.skipProgram = "/usr/lib/gcc/*/*/cc1plus /usr/bin/x86_64-linux-gnu-as";
             v.skipExe = "/usr/sbin/agent";
             v.skipUid = "998 1000-1999";
             v.skipAuid = "unset 0";
         })},
        {"rules: invalid values are left out of the list",
         "[ombrex]\nskip_program = bin/x /usr/bin/[x /usr/bin/df\nskip_exe = /a/ /b//c\n"
         "skip_uid = 4294967295 -1 7 unset\nskip_auid = 5-1 Unset\n",
         with([](Values& v) {
             v.skipProgram = "/usr/bin/df";
             v.skipUid = "7";
             v.skipAuid = "unset";
         })},
        {"rules: the last line of an option gives its list, even an empty one",
         "[ombrex]\nskip_uid = 1\nskip_uid = 2 3\nskip_auid = 4\nskip_auid =\n"
         "skip_exe = /x\nskip_exe = bogus\n",
         with([](Values& v) { v.skipUid = "2 3"; })},
        {"rules: a comment after the list",
         "[ombrex]\nskip_uid = 998 ; the agent\nskip_program = /usr/bin/a#b # note\n",
         with([](Values& v) {
             v.skipUid = "998";
             v.skipProgram = "/usr/bin/a#b";
         })},
    };
    for (const auto& c : cases) {
        expectValues(parse(c.text), c.expected, c.what);
    }
}

class OptionFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/ombrex-options.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    std::string write(const std::string& name, const std::string& content) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    // Reads the file as the loader does once it trusts it, whoever owns it.
    static Values read(const std::string& path) {
        char text[ombrex::configTextCapacity + 1];
        ombrex::Options options;
        ombrex::setDefaults(options);
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_GE(fd, 0) << path;
        if (fd >= 0) {
            const size_t length = ombrex::readConfigText(fd, text);
            close(fd);
            ombrex::parseOptions(text, length, options);
        }
        return valuesOf(options);
    }
    static bool load(const std::string& path, Values& values) {
        char text[ombrex::configTextCapacity + 1];
        ombrex::Options options;
        const bool loaded = ombrex::loadOptions(path.c_str(), text, options);
        values = valuesOf(options);
        return loaded;
    }
    std::string dir;
};

TEST_F(OptionFile, AnythingButARegularFileMeansDefaults) {
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0700), 0);
    for (const char* name : {"missing", "fifo", "sub"}) {
        Values v;
        EXPECT_FALSE(load(dir + "/" + name, v)) << name;
        expectValues(v, Values{}, name);
    }
}

// Only the first 4 KiB are read; a line cut by that limit must not apply half a value.
TEST_F(OptionFile, LineCutByTheReadLimitIsIgnored) {
    const std::string head = "[ombrex]\nsyslog_tag = early\n";
    std::string padding = "; ";
    padding += std::string(ombrex::configTextCapacity - head.size() - 20 - 3, 'p') + "\n";
    // This line starts inside the first 4 KiB and ends after them.
    const std::string cut = "file = /var/log/abcdefghijklmnopqrstuvwxyz.log\n";
    const std::string text = head + padding + cut + "destination = none\n";
    ASSERT_GT(head.size() + padding.size() + cut.size(), ombrex::configTextCapacity);
    ASSERT_LT(head.size() + padding.size(), ombrex::configTextCapacity);
    const Values v = read(write("big.ini", text));
    Values expected;
    expected.tag = "early";
    expectValues(v, expected, "file larger than the read limit");
}

// A list that the limit cuts is ignored whole: none of its rules leaves anything out.
TEST_F(OptionFile, ListCutByTheReadLimitIsIgnored) {
    const std::string head = "[ombrex]\nskip_uid = 65534\nskip_uid = 0";
    std::string list;
    for (int id = 1; head.size() + list.size() < ombrex::configTextCapacity + 100; ++id) {
        list += " " + std::to_string(id);
    }
    const Values v = read(write("long-list.ini", head + list + "\n"));
    EXPECT_EQ(v.skipUid, "65534");
}

TEST_F(OptionFile, FileOfExactlyTheReadLimitIsWhole) {
    std::string text = "[ombrex]\ndestination = none\n";
    const std::string tail = "syslog_tag = last\n";
    text += "; " + std::string(ombrex::configTextCapacity - text.size() - tail.size() - 3, 'p');
    text += "\n" + tail;
    ASSERT_EQ(text.size(), ombrex::configTextCapacity);
    const Values v = read(write("exact.ini", text));
    EXPECT_EQ(v.destination, "none");
    EXPECT_EQ(v.tag, "last");
}

// Whoever can write the file, or own it, could choose where root's records go.
TEST(ConfigTrust, OnlyARootFileThatOnlyRootMayWrite) {
    struct Case {
        const char* what;
        mode_t mode;
        uid_t owner;
        bool trusted;
    };
    const Case cases[] = {
        {"root, 0644", S_IFREG | 0644, 0, true},
        {"root, 0600", S_IFREG | 0600, 0, true},
        {"root, 0444", S_IFREG | 0444, 0, true},
        {"root, group may write", S_IFREG | 0664, 0, false},
        {"root, others may write", S_IFREG | 0646, 0, false},
        {"root, 0666", S_IFREG | 0666, 0, false},
        {"another user's, 0644", S_IFREG | 0644, 1000, false},
        {"another user's, 0600", S_IFREG | 0600, 65534, false},
        {"root's FIFO", S_IFIFO | 0644, 0, false},
        {"root's directory", S_IFDIR | 0755, 0, false},
        {"root's character device", S_IFCHR | 0644, 0, false},
    };
    for (const auto& c : cases) {
        struct stat status {};
        status.st_mode = c.mode;
        status.st_uid = c.owner;
        status.st_nlink = 1;
        EXPECT_EQ(ombrex::judgeConfig(status) == ConfigFileUsed, c.trusted) << c.what;
    }
}

// The loader on real files: only a trusted one is read. Needs root to own and give files.
TEST_F(OptionFile, UntrustedFilesMeanDefaults) {
    if (geteuid() != 0) {
        if (const char* ci = std::getenv("CI"); ci != nullptr && std::string(ci) == "true") {
            FAIL() << "needs root (required in CI)";
        }
        GTEST_SKIP() << "needs root";
    }
    struct Case {
        const char* what;
        mode_t mode;
        uid_t owner;
        bool read;
    };
    const Case cases[] = {
        {"root's, 0644", 0644, 0, true},
        {"root's, group may write", 0664, 0, false},
        {"root's, others may write", 0606, 0, false},
        {"another user's", 0644, 65534, false},
    };
    for (const auto& c : cases) {
        const std::string path = write("config.ini", "[ombrex]\ndestination = none\n");
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        ASSERT_EQ(chown(path.c_str(), c.owner, 0), 0);
        Values v;
        EXPECT_EQ(load(path, v), c.read) << c.what;
        EXPECT_EQ(v.destination, c.read ? "none" : "syslog") << c.what;
        ASSERT_EQ(unlink(path.c_str()), 0);
    }
}

// The path is the build's; no variable of anybody's environment moves it.
TEST(ConfigPath, FixedByTheBuild) {
    EXPECT_STREQ(ombrex::configPath(), OMBREX_CONFIG_PATH);
    ASSERT_EQ(setenv("OMBREX_CONFIG_FILE", "/tmp/other.ini", 1), 0);
    EXPECT_STREQ(ombrex::configPath(), OMBREX_CONFIG_PATH);
    ASSERT_EQ(unsetenv("OMBREX_CONFIG_FILE"), 0);
}

} // namespace
