// The six exports, called through dlopen and dlsym exactly as the tool calls them.
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "library/ombrex.h"

namespace {

class Exports : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        handle = dlopen(OMBREX_LIBRARY_FILE, RTLD_LAZY);
        ASSERT_NE(handle, nullptr) << dlerror();
    }

    template <typename Fn> static Fn get(const char* name) {
        dlerror();
        void* symbol = dlsym(handle, name);
        EXPECT_EQ(dlerror(), nullptr) << name;
        return reinterpret_cast<Fn>(symbol);
    }

    void SetUp() override {
        char pattern[] = "/tmp/ombrex-exports.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        unlink(OMBREX_CONFIG_PATH);
        std::string command = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    // The library's configuration file (fixed in this copy of the library) with this text and
    // mode.
    static void writeConfig(const std::string& text, mode_t mode) {
        unlink(OMBREX_CONFIG_PATH);
        std::ofstream(OMBREX_CONFIG_PATH) << text;
        ASSERT_EQ(chmod(OMBREX_CONFIG_PATH, mode), 0);
    }

    // Only root can own a file that the library trusts.
    static bool skipUnlessRoot() {
        if (geteuid() == 0) {
            return false;
        }
        if (const char* ci = std::getenv("CI"); ci != nullptr && std::string(ci) == "true") {
            ADD_FAILURE() << "needs root (required in CI)";
        }
        return true;
    }

    // The conf report's sequence of calls: every option name with its value.
    std::vector<std::pair<std::string, std::string>> listing(std::string& path, int& fromFile) {
        get<OmbrexEntryPointFn>("ombrex_entrypoint_cli_init")();
        const ConfigurationRecord* record =
            get<OmbrexConfigurationGetFn>("ombrex_configuration_get")();
        path = record->configFilePath;
        fromFile = record->loadedFromFile;
        std::vector<std::pair<std::string, std::string>> options;
        auto value =
            get<OmbrexOptionValueFn>("ombrex_configfile_optionRegistry_getOptionValueAsString");
        for (const OptionRecord* o =
                 get<OmbrexOptionGetAllFn>("ombrex_configfile_optionRegistry_getAll")();
             o->name[0] != 0; ++o) {
            char* text = value(o->name);
            options.emplace_back(o->name, text);
            std::free(text);
        }
        get<OmbrexEntryPointFn>("ombrex_entrypoint_cli_exit")();
        return options;
    }

    static void* handle;
    std::string dir;
};

void* Exports::handle;

TEST_F(Exports, VersionContract) {
    auto version = get<OmbrexVersionFn>("ombrex_datasource_ombrex_version");
    char buffer[255] = {};
    EXPECT_EQ(version(buffer, sizeof buffer, ""), static_cast<int32_t>(strlen(OMBREX_VERSION)));
    EXPECT_STREQ(buffer, OMBREX_VERSION);

    const size_t exact = strlen(OMBREX_VERSION) + 1;
    std::vector<char> fits(exact + 1, '#');
    EXPECT_GE(version(fits.data(), exact, ""), 0);
    EXPECT_STREQ(fits.data(), OMBREX_VERSION);
    EXPECT_EQ(fits[exact], '#') << "written past the capacity";

    std::vector<char> small(exact + 1, '#');
    EXPECT_LT(version(small.data(), exact - 1, ""), 0) << "no room for the terminator";
    EXPECT_EQ(small[exact - 1], '#') << "written past the capacity";
    EXPECT_LT(version(small.data(), 0, ""), 0);
    EXPECT_LT(version(nullptr, 255, ""), 0);
}

const std::vector<std::pair<std::string, std::string>> defaults = {
    {"destination", "syslog"},
    {"format", "kv"},
    {"file", "/var/log/ombrex.log"},
    {"syslog_socket", "/dev/log"},
    {"syslog_facility", "authpriv"},
    {"syslog_tag", "ombrex"},
    {"syslog_wait_ms", "1000"},
    {"sandboxed", "skip"},
    {"skip_program", ""},
    {"skip_exe", ""},
    {"skip_uid", ""},
    {"skip_auid", ""},
};

TEST_F(Exports, DefaultsWhenTheFileIsMissing) {
    unlink(OMBREX_CONFIG_PATH);
    // Whatever the environment says: the library reads none of it.
    setenv("OMBREX_CONFIG_FILE", (dir + "/other.ini").c_str(), 1);
    std::ofstream(dir + "/other.ini") << "[ombrex]\ndestination = none\n";
    std::string path;
    int fromFile = -1;
    const auto options = listing(path, fromFile);
    unsetenv("OMBREX_CONFIG_FILE");
    EXPECT_EQ(path, OMBREX_CONFIG_PATH);
    EXPECT_EQ(fromFile, 0);
    EXPECT_EQ(options, defaults);
}

TEST_F(Exports, ValuesFromTheFileInUse) {
    if (skipUnlessRoot()) {
        GTEST_SKIP() << "needs root";
    }
    writeConfig("[ombrex]\ndestination = file\nfile = /var/log/exec.log\n"
                "syslog_facility = local5\nsyslog_tag = bogus tag\nsandboxed = record\n"
                "format = json\nsyslog_wait_ms = 250\n"
                "skip_program = /usr/bin/df rel /usr/lib/gcc/*/*/cc1*\nskip_uid = x 998\n",
                0644);
    std::string path;
    int fromFile = -1;
    auto options = listing(path, fromFile);
    EXPECT_EQ(path, OMBREX_CONFIG_PATH);
    EXPECT_EQ(fromFile, 1);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"destination", "file"},
        {"format", "json"},
        {"file", "/var/log/exec.log"},
        {"syslog_socket", "/dev/log"},
        {"syslog_facility", "local5"},
        {"syslog_tag", "ombrex"}, // the invalid tag is not used, so it is not listed
        {"syslog_wait_ms", "250"},
        {"sandboxed", "record"},
        {"skip_program", "/usr/bin/df /usr/lib/gcc/*/*/cc1*"},
        {"skip_exe", ""},
        {"skip_uid", "998"}, // likewise the invalid values of a list
        {"skip_auid", ""},
    };
    EXPECT_EQ(options, expected);

    // A later report reads the file again.
    writeConfig("[ombrex]\ndestination = none\n", 0644);
    options = listing(path, fromFile);
    EXPECT_EQ(options.at(0).second, "none");
    EXPECT_EQ(options.at(2).second, "/var/log/ombrex.log");
}

// A file that others may change could be anybody's choice: the report shows the defaults,
// which is what the library then uses.
TEST_F(Exports, UntrustedFileMeansDefaults) {
    for (const mode_t mode : {0664, 0646, 0666}) {
        writeConfig("[ombrex]\ndestination = none\n", mode);
        std::string path;
        int fromFile = -1;
        EXPECT_EQ(listing(path, fromFile), defaults) << std::oct << mode;
        EXPECT_EQ(fromFile, 0) << std::oct << mode;
    }
}

TEST_F(Exports, OptionTableRecords) {
    const OptionRecord* table =
        get<OmbrexOptionGetAllFn>("ombrex_configfile_optionRegistry_getAll")();
    size_t count = 0;
    for (; table[count].name[0] != 0; ++count) {
        ASSERT_NE(table[count].defaultValue, nullptr);
        ASSERT_NE(table[count].description, nullptr);
        EXPECT_GT(strlen(table[count].description), 0u) << table[count].name;
    }
    EXPECT_EQ(count, 12u);
}

TEST_F(Exports, UnknownOptionIsAnEmptyTextToFree) {
    auto value =
        get<OmbrexOptionValueFn>("ombrex_configfile_optionRegistry_getOptionValueAsString");
    for (const char* name : {"no_such_option", "", "destination "}) {
        char* text = value(name);
        ASSERT_NE(text, nullptr) << name;
        EXPECT_STREQ(text, "") << name;
        std::free(text);
    }
}

TEST_F(Exports, InterposesExecve) {
    // The status report relies on the global lookup of execve finding another address than
    // the C library's once the library is preloaded; here it must at least define one.
    void* own = dlsym(handle, "execve");
    void* libc = dlsym(RTLD_NEXT, "execve");
    ASSERT_NE(own, nullptr);
    EXPECT_NE(own, libc);
}

} // namespace
