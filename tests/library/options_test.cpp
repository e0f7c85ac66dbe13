// The configuration file: parsing, validation, and reading it with the record path's limits.
#include "libombrex/options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Values {
    std::string destination = "syslog";
    std::string file = "/var/log/ombrex.log";
    std::string socket = "/dev/log";
    std::string facility = "authpriv";
    std::string tag = "ombrex";
};

Values valuesOf(const ombrex::Options& options) {
    Values v;
    v.destination = ombrex::optionValue(options, "destination");
    v.file = ombrex::optionValue(options, "file");
    v.socket = ombrex::optionValue(options, "syslog_socket");
    v.facility = ombrex::optionValue(options, "syslog_facility");
    v.tag = ombrex::optionValue(options, "syslog_tag");
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
    EXPECT_EQ(actual.file, expected.file) << what;
    EXPECT_EQ(actual.socket, expected.socket) << what;
    EXPECT_EQ(actual.facility, expected.facility) << what;
    EXPECT_EQ(actual.tag, expected.tag) << what;
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
         Values{"file", "/var/log/x.log", "/run/s", "local3", "exec-log"}},
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
    bool load(const std::string& path, Values& values) {
        char text[ombrex::configTextCapacity + 1];
        ombrex::Options options;
        const bool read = ombrex::loadOptions(path.c_str(), text, options);
        values = valuesOf(options);
        return read;
    }
    std::string dir;
};

TEST_F(OptionFile, ReadsAFile) {
    Values v;
    EXPECT_TRUE(load(write("a.ini", "[ombrex]\ndestination = none\n"), v));
    EXPECT_EQ(v.destination, "none");
}

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
    Values v;
    EXPECT_TRUE(load(write("big.ini", text), v));
    Values expected;
    expected.tag = "early";
    expectValues(v, expected, "file larger than the read limit");
}

TEST_F(OptionFile, FileOfExactlyTheReadLimitIsWhole) {
    std::string text = "[ombrex]\ndestination = none\n";
    const std::string tail = "syslog_tag = last\n";
    text += "; " + std::string(ombrex::configTextCapacity - text.size() - tail.size() - 3, 'p');
    text += "\n" + tail;
    ASSERT_EQ(text.size(), ombrex::configTextCapacity);
    Values v;
    EXPECT_TRUE(load(write("exact.ini", text), v));
    EXPECT_EQ(v.destination, "none");
    EXPECT_EQ(v.tag, "last");
}

TEST(ConfigPath, OverrideFromTheEnvironment) {
    ASSERT_EQ(unsetenv("OMBREX_CONFIG_FILE"), 0);
    EXPECT_STREQ(ombrex::configPath(), "/etc/ombrex.ini");
    ASSERT_EQ(setenv("OMBREX_CONFIG_FILE", "", 1), 0);
    EXPECT_STREQ(ombrex::configPath(), "/etc/ombrex.ini");
    ASSERT_EQ(setenv("OMBREX_CONFIG_FILE", "/tmp/other.ini", 1), 0);
    EXPECT_STREQ(ombrex::configPath(), "/tmp/other.ini");
    ASSERT_EQ(unsetenv("OMBREX_CONFIG_FILE"), 0);
}

} // namespace
