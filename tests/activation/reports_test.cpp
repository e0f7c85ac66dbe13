// conf and version through the built binary, with stand-ins for the library that answer in
// known ways. Each stand-in appends its calls to a trace file, so the order of the calls and
// the arguments the tool passes are checked as well as the output.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>

#include "tests/support/run.h"

namespace ombrex::test {
namespace {

const std::string kInterposer = OMBREX_FIXTURE_INTERPOSER;
const std::string kEmptyOptions = OMBREX_FIXTURE_EMPTY_OPTIONS;
const std::string kVersionNegative = OMBREX_FIXTURE_VERSION_NEGATIVE;
const std::string kVersionSilent = OMBREX_FIXTURE_VERSION_SILENT;
const std::string kVersionUnbounded = OMBREX_FIXTURE_VERSION_UNBOUNDED;
const std::string kNoConfiguration = OMBREX_FIXTURE_NO_CONFIGURATION;
const std::string kNotElf = OMBREX_FIXTURE_NOT_ELF;

// The dynamic linker's own words, which the tool must pass on unchanged.
std::string openError(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY);
    const char* error = dlerror();
    EXPECT_EQ(handle, nullptr) << path;
    return error != nullptr ? error : "";
}

std::string lookupError(const std::string& path, const char* symbol) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY);
    EXPECT_NE(handle, nullptr) << path;
    dlerror();
    dlsym(handle, symbol);
    const char* error = dlerror();
    std::string text = error != nullptr ? error : "";
    dlclose(handle);
    return text;
}

struct Case {
    const char* name;
    const char* action;
    std::string library;
    std::string out;
    std::string errAfterWarning;
    int status;
    std::string trace;
};

TEST(Reports, ConfAndVersionWithEachStandIn) {
    const std::string tool = "Ombrex CLI tool version: 2.5.2\n";
    const std::string missing = "/nonexistent-ombrex-dir/libombrex.so";
    const Case cases[] = {
        {"three options", "conf", kInterposer,
         "; Options from config file (or defaults): /etc/ombrex-fixture.ini\n"
         "[ombrex]\n"
         "destination = file\n"
         "file = /var/log/ombrex 100%s 'x'.log\n"
         "comment = \n",
         "", 0,
         "init\nconfiguration_get\ngetAll\nvalue destination\nvalue file\nvalue comment\n"
         "exit\n"},
        {"empty option table", "conf", kEmptyOptions,
         "; Options from config file (or defaults): /etc/ombrex-fixture.ini\n"
         "[ombrex]\n",
         "", 0, "init\nconfiguration_get\ngetAll\nexit\n"},
        // Every export is looked up before any is called.
        {"conf, one export lacking", "conf", kNoConfiguration,
         "[DIAG] libombrex.so path: '" + kNoConfiguration + "'\n",
         "[ERROR] " + lookupError(kNoConfiguration, "ombrex_configuration_get") + "\n", 127, ""},
        {"conf, not a shared object", "conf", kNotElf, "",
         "[ERROR] Dynamic linker error message: " + openError(kNotElf) +
             "\n[ERROR] Unable to load shared library\n",
         127, ""},
        {"conf, missing file", "conf", missing, "[DIAG] libombrex.so path: '" + missing + "'\n",
         "[ERROR] Unable to access libombrex.so file\n", 127, ""},

        {"version", "version", kInterposer,
         tool + "Ombrex library version:  9.8.7-fixture (path: " + kInterposer + ")\n", "", 0,
         "version capacity=255 argument='' zeroed\n"},
        {"version, negative result", "version", kVersionNegative, "",
         "[ERROR] Ombrex version datasource failed\n", 127,
         "version capacity=255 argument='' zeroed\n"},
        {"version, nothing written", "version", kVersionSilent,
         tool + "Ombrex library version:   (path: " + kVersionSilent + ")\n", "", 0,
         "version capacity=255 argument='' zeroed\n"},
        // A library that fills the whole buffer must not make the tool read past it.
        {"version, buffer filled without a NUL", "version", kVersionUnbounded,
         tool + "Ombrex library version:  " + std::string(254, 'v') +
             " (path: " + kVersionUnbounded + ")\n",
         "", 0, "version capacity=255 argument='' zeroed\n"},
        // version needs only its own export.
        {"version, another export lacking", "version", kNoConfiguration,
         tool + "Ombrex library version:  9.8.7-fixture (path: " + kNoConfiguration + ")\n", "", 0,
         "version capacity=255 argument='' zeroed\n"},
        {"version, not a shared object", "version", kNotElf, "",
         "[ERROR] Dynamic linker error message: " + openError(kNotElf) +
             "\n[ERROR] Unable to load shared library\n",
         127, ""},
        {"version, missing file", "version", missing,
         "[DIAG] libombrex.so path: '" + missing + "'\n",
         "[ERROR] Unable to access libombrex.so file\n", 127, ""},
    };
    for (const Case& c : cases) {
        ScratchDirectory scratch;
        const std::string trace = scratch / "trace";
        RunOptions options;
        options.environment = {{"OMBREX_TEST_LD_SO_PRELOAD_PATH", scratch / "ld.so.preload"},
                               {"OMBREX_TEST_LIBOMBREX_SO_PATH", c.library},
                               {"OMBREX_FIXTURE_TRACE", trace}};
        RunResult result = runTool({c.action}, options);
        EXPECT_EQ(result.out, c.out) << c.name;
        // The override warning comes first; the preload file is not looked at.
        EXPECT_EQ(result.err, "[WARNING] Using non-default path to libombrex.so: " + c.library +
                                  "\n" + c.errAfterWarning)
            << c.name;
        EXPECT_EQ(result.status, c.status) << c.name;
        EXPECT_EQ(fileExists(trace) ? readFile(trace) : "", c.trace) << c.name;
        EXPECT_FALSE(fileExists(scratch / "ld.so.preload")) << c.name;
    }
}

// An override without a slash names a file in the working directory, which is what the
// readability test looks at; the dynamic linker would search its library path for that name
// instead, and "libc.so.6" would then be the C library that every program has loaded.
TEST(Reports, OverrideWithoutASlashLoadsTheFileInTheWorkingDirectory) {
    const struct {
        const char* name;
        const char* action;
        const char* fileName;
        std::string out; // "{N}" stands for the file name
        std::string trace;
    } cases[] = {
        {"version, a name of its own", "version", "libombrex-fixture.so",
         "Ombrex CLI tool version: 2.5.2\nOmbrex library version:  9.8.7-fixture (path: {N})\n",
         "version capacity=255 argument='' zeroed\n"},
        {"version, the C library's name", "version", "libc.so.6",
         "Ombrex CLI tool version: 2.5.2\nOmbrex library version:  9.8.7-fixture (path: {N})\n",
         "version capacity=255 argument='' zeroed\n"},
        {"conf, the C library's name", "conf", "libc.so.6",
         "; Options from config file (or defaults): /etc/ombrex-fixture.ini\n"
         "[ombrex]\n"
         "destination = file\n"
         "file = /var/log/ombrex 100%s 'x'.log\n"
         "comment = \n",
         "init\nconfiguration_get\ngetAll\nvalue destination\nvalue file\nvalue comment\n"
         "exit\n"},
    };
    for (const auto& c : cases) {
        ScratchDirectory scratch;
        writeFile(scratch / c.fileName, readFile(kInterposer), 0644);
        const std::string trace = scratch / "trace";
        RunOptions options;
        options.environment = {{"OMBREX_TEST_LD_SO_PRELOAD_PATH", scratch / "ld.so.preload"},
                               {"OMBREX_TEST_LIBOMBREX_SO_PATH", c.fileName},
                               {"OMBREX_FIXTURE_TRACE", trace}};
        options.workingDirectory = scratch.path();
        RunResult result = runTool({c.action}, options);
        std::string out = c.out;
        if (size_t at = out.find("{N}"); at != std::string::npos) {
            out.replace(at, 3, c.fileName);
        }
        EXPECT_EQ(result.out, out) << c.name;
        EXPECT_EQ(result.err, std::string("[WARNING] Using non-default path to libombrex.so: ") +
                                  c.fileName + "\n")
            << c.name;
        EXPECT_EQ(result.status, 0) << c.name;
        EXPECT_EQ(fileExists(trace) ? readFile(trace) : "", c.trace) << c.name;
    }
}

} // namespace
} // namespace ombrex::test
