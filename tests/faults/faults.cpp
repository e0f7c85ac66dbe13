#include "tests/faults/faults.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ombrex::test::faults {

bool enterPrivateMountNamespace() {
    return unshare(CLONE_NEWNS) == 0 &&
           mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

MountGuard::~MountGuard() {
    umount2(target_.c_str(), MNT_DETACH);
}

pid_t startTool(const std::string& action, const Environment& environment, const int* gate,
                const std::string& outPath, const std::string& errPath) {
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : environment) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string program = toolPath();
    std::string word = action;
    char* argv[] = {program.data(), word.data(), nullptr};

    pid_t child = fork();
    if (child == 0) {
        waitAtGate(gate);
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            _exit(126);
        }
        execve(program.c_str(), argv, envp.data());
        _exit(126);
    }
    return child;
}

void waitAtGate(const int* gate) {
    if (gate == nullptr) {
        return;
    }
    close(gate[1]);
    char byte;
    while (read(gate[0], &byte, 1) < 0 && errno == EINTR) {
    }
    close(gate[0]);
}

int waitFor(pid_t child) {
    int waitStatus = 0;
    while (waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

void fillToTheBrim(const std::string& directory) {
    int fd = open((directory + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    ASSERT_EQ(errno, ENOSPC);
    while (write(fd, block.data(), 1) > 0) {
    }
    close(fd);
}

} // namespace ombrex::test::faults
