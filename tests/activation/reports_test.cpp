// conf and version through the built binary, with stand-ins for the library that answer in
// known ways, and status where it loads the library. Each stand-in appends its calls to a
// trace file, so the order of the calls and the arguments the tool passes are checked as
// well as the output.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

#include "tests/support/expected.h"
#include "tests/support/run.h"

namespace ombrex::test {
namespace {

const std::string interposer = OMBREX_FIXTURE_INTERPOSER;
const std::string emptyOptions = OMBREX_FIXTURE_EMPTY_OPTIONS;
const std::string versionNegative = OMBREX_FIXTURE_VERSION_NEGATIVE;
const std::string versionSilent = OMBREX_FIXTURE_VERSION_SILENT;
const std::string versionUnbounded = OMBREX_FIXTURE_VERSION_UNBOUNDED;
const std::string noConfiguration = OMBREX_FIXTURE_NO_CONFIGURATION;
const std::string notElf = OMBREX_FIXTURE_NOT_ELF;

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

// The calls that the stand-ins trace for a whole configuration report and a version report.
const std::string confTrace =
    "init\nconfiguration_get\ngetAll\nvalue destination\nvalue file\nvalue comment\nexit\n";
const std::string versionTrace = "version capacity=255 argument='' zeroed\n";

TEST(Reports, ConfAndVersionWithEachStandIn) {
    const std::string missing = "/nonexistent-ombrex-dir/libombrex.so";
    const Case cases[] = {
        {"three options", "conf", interposer, goldenOutput("conf-three-options.stdout"), "", 0,
         confTrace},
        {"empty option table", "conf", emptyOptions,
         "; Options from config file (or defaults): /etc/ombrex-fixture.ini\n"
         "[ombrex]\n",
         "", 0, "init\nconfiguration_get\ngetAll\nexit\n"},
        // Every export is looked up before any is called.
        {"conf, one export lacking", "conf", noConfiguration,
         diag("libombrex.so path", noConfiguration),
         error(lookupError(noConfiguration, "ombrex_configuration_get")), 127, ""},
        {"conf, not a shared object", "conf", notElf, "", loadFailed(openError(notElf)), 127, ""},
        {"conf, missing file", "conf", missing, diag("libombrex.so path", missing),
         libraryInaccessible, 127, ""},

        {"version", "version", interposer,
         toolVersionLine + libraryVersionLine("9.8.7-fixture", interposer), "", 0, versionTrace},
        {"version, negative result", "version", versionNegative, "", versionFailed, 127,
         versionTrace},
        // Three spaces stand between the colon and the parenthesis.
        {"version, nothing written", "version", versionSilent,
         toolVersionLine + libraryVersionLine("", versionSilent), "", 0, versionTrace},
        // A library that fills the whole buffer must not make the tool read past it.
        {"version, buffer filled without a NUL", "version", versionUnbounded,
         toolVersionLine + libraryVersionLine(std::string(254, 'v'), versionUnbounded), "", 0,
         versionTrace},
        // version needs only its own export.
        {"version, another export lacking", "version", noConfiguration,
         toolVersionLine + libraryVersionLine("9.8.7-fixture", noConfiguration), "", 0,
         versionTrace},
        {"version, not a shared object", "version", notElf, "", loadFailed(openError(notElf)), 127,
         ""},
        {"version, missing file", "version", missing, diag("libombrex.so path", missing),
         libraryInaccessible, 127, ""},
    };
    for (const Case& c : cases) {
        ToolFiles files;
        const std::string trace = files.scratch / "trace";
        RunOptions options = withOverrides(files.preload, c.library);
        options.environment["OMBREX_FIXTURE_TRACE"] = trace;
        RunResult result = runTool({c.action}, options);
        EXPECT_EQ(result.out, c.out) << c.name;
        // The override warning comes first; the preload file is not looked at.
        EXPECT_EQ(result.err, libraryWarning(c.library) + c.errAfterWarning) << c.name;
        EXPECT_EQ(result.status, c.status) << c.name;
        EXPECT_EQ(fileExists(trace) ? readFile(trace) : "", c.trace) << c.name;
        EXPECT_FALSE(fileExists(files.preload)) << c.name;
    }
}

// Loading a FIFO would wait forever for a writer: it is refused like a file that cannot be read.
TEST(Reports, FifoAsLibraryIsRefusedWithoutWaiting) {
    for (const char* action : {"conf", "version"}) {
        ToolFiles files;
        const std::string fifo = files.scratch / "libombrex.so";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
        RunResult result = runTool({action}, withOverrides(files.preload, fifo));
        EXPECT_EQ(result.out, diag("libombrex.so path", fifo)) << action;
        EXPECT_EQ(result.err, libraryWarning(fifo) + libraryInaccessible) << action;
        EXPECT_EQ(result.status, 127) << action;
    }
}

// status asks the library last whether its records can be delivered; a FIFO in the
// library's place is not opened for that, and the report ends as it does without a library.
TEST(Reports, StatusDoesNotWaitOnAFifoAsLibrary) {
    ToolFiles files;
    const std::string fifo = files.scratch / "libombrex.so";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    RunOptions options = withOverrides(files.preload, fifo);
    options.timeLimitSeconds = 30;
    RunResult result = runTool({"status"}, options);
    EXPECT_EQ(result.out, preloadNotEnabledLine + unpreloadedProcessLines);
    EXPECT_EQ(result.err, libraryWarning(fifo) + preloadWarning(files.preload));
    EXPECT_EQ(result.status, 0);
}

// An override without a slash names a file in the working directory, which is what the
// readability test looks at; the dynamic linker would search its library path for that name
// instead, and "libc.so.6" would then be the C library that every program has loaded.
TEST(Reports, OverrideWithoutASlashLoadsTheFileInTheWorkingDirectory) {
    const struct {
        const char* name;
        const char* action;
        const char* fileName;
        std::string out;
        std::string trace;
    } cases[] = {
        {"version, a name of its own", "version", "libombrex-fixture.so",
         toolVersionLine + libraryVersionLine("9.8.7-fixture", "libombrex-fixture.so"),
         versionTrace},
        {"version, the C library's name", "version", "libc.so.6",
         toolVersionLine + libraryVersionLine("9.8.7-fixture", "libc.so.6"), versionTrace},
        {"conf, the C library's name", "conf", "libc.so.6",
         goldenOutput("conf-three-options.stdout"), confTrace},
    };
    for (const auto& c : cases) {
        ToolFiles files;
        writeFile(files.scratch / c.fileName, readFile(interposer), 0644);
        const std::string trace = files.scratch / "trace";
        RunOptions options = withOverrides(files.preload, c.fileName);
        options.environment["OMBREX_FIXTURE_TRACE"] = trace;
        options.workingDirectory = files.scratch.path();
        RunResult result = runTool({c.action}, options);
        EXPECT_EQ(result.out, c.out) << c.name;
        EXPECT_EQ(result.err, libraryWarning(c.fileName)) << c.name;
        EXPECT_EQ(result.status, 0) << c.name;
        EXPECT_EQ(fileExists(trace) ? readFile(trace) : "", c.trace) << c.name;
    }
}

} // namespace
} // namespace ombrex::test
