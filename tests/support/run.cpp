#include "tests/support/run.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ombrex::test {

namespace {

[[noreturn]] void childFail(const char* what) {
    // Only async-signal-safe calls between fork and exec.
    ssize_t ignored = write(2, what, std::strlen(what));
    (void)ignored;
    _exit(126);
}

} // namespace

RunResult run(const std::string& program, const std::vector<std::string>& arguments,
              const RunOptions& options) {
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : options.environment) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(errPipe[1], 2) < 0) {
            childFail("redirect failed\n");
        }
        if (options.closeStdout) {
            close(1);
        } else if (dup2(outPipe[1], 1) < 0) {
            childFail("redirect failed\n");
        }
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
            childFail("chdir failed\n");
        }
        if (options.umask) {
            umask(*options.umask);
        }
        if (options.fileSizeLimit) {
            const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                childFail("setrlimit failed\n");
            }
        }
        if (options.timeLimitSeconds != 0) {
            alarm(options.timeLimitSeconds);
        }
        if (options.gid && (setgroups(0, nullptr) != 0 || setgid(*options.gid) != 0)) {
            childFail("setgid failed\n");
        }
        if (options.uid && setuid(*options.uid) != 0) {
            childFail("setuid failed\n");
        }
        execve(program.c_str(), argv.data(), envp.data());
        childFail("execve failed\n");
    }
    close(outPipe[1]);
    close(errPipe[1]);

    RunResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int openPipes = 2;
    while (openPipes > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error("poll failed");
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[65536];
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --openPipes;
            }
        }
    }
    int waitStatus = 0;
    while (waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    return result;
}

const std::string& toolPath() {
    static const std::string path = OMBREXCTL_PATH;
    return path;
}

const std::string& toolPathForAnyUser() {
    // Removed with the process; children exec or _exit and never run its destructor.
    static const ScratchDirectory directory;
    static const std::string path = [] {
        std::string copy = directory / "ombrexctl";
        std::filesystem::copy_file(toolPath(), copy);
        std::filesystem::permissions(copy, std::filesystem::perms(0755));
        return copy;
    }();
    return path;
}

RunResult runTool(const std::vector<std::string>& arguments, const RunOptions& options) {
    return run(options.uid ? toolPathForAnyUser() : toolPath(), arguments, options);
}

ScratchDirectory::ScratchDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ombrex-test.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    // Unprivileged test runs must be able to enter it.
    chmod(pattern.c_str(), 0755);
    path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) {
            throw std::runtime_error("cannot write " + path);
        }
        out << content;
    }
    chmod(path.c_str(), mode);
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

std::set<std::string> entriesOf(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::set<std::string> hiddenEntriesOf(const std::string& directory) {
    std::set<std::string> hidden;
    for (const std::string& name : entriesOf(directory)) {
        if (name[0] == '.') {
            hidden.insert(name);
        }
    }
    return hidden;
}

Environment overrides(const std::string& preload, const std::string& library) {
    return {{preloadVariable, preload}, {libraryVariable, library}};
}

RunOptions withOverrides(const std::string& preload, const std::string& library) {
    RunOptions options;
    options.environment = overrides(preload, library);
    return options;
}

RunOptions asUnprivileged(RunOptions options) {
    options.uid = unprivilegedUid;
    options.gid = unprivilegedGid;
    return options;
}

ToolFiles::ToolFiles() {
    for (const std::string& directory : {etc, lib}) {
        if (mkdir(directory.c_str(), 0755) != 0 || chmod(directory.c_str(), 0755) != 0) {
            throw std::runtime_error("cannot create " + directory);
        }
    }
    writeFile(library, "stands in for the library; never loaded\n", 0644);
}

RunOptions ToolFiles::options() const {
    return withOverrides(preload, library);
}

RunResult ToolFiles::run(const std::string& action) const {
    return runTool({action}, options());
}

bool runningAsRoot() {
    return geteuid() == 0;
}

bool runningInCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

} // namespace ombrex::test
