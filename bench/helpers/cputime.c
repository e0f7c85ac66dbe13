/*
 * Bench helper: runs one command and tells what it cost.
 *
 *   cputime COMMAND [ARGUMENT...]
 *
 * Writes "WALL_US USER_US SYS_US STATUS FAULTS": wall time, CPU time of this process and of
 * its children (the command and every program it started and waited for), the command's
 * exit status (128 + N when signal N ended it, 127 when it could not be started) and the
 * minor page faults of the same processes, as execloop counts them.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "usage.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: cputime COMMAND [ARGUMENT...]\n");
        return 2;
    }
    long long user0, sys0, faults0, user1, sys1, faults1;
    cpuUs(&user0, &sys0, &faults0);
    const long long start = nowUs();
    const pid_t pid = fork();
    if (pid < 0) {
        perror("cputime: fork");
        return 1;
    }
    if (pid == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            perror("cputime: waitpid");
            return 1;
        }
    }
    const long long wall = nowUs() - start;
    cpuUs(&user1, &sys1, &faults1);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    printf("%lld %lld %lld %d %lld\n", wall, user1 - user0, sys1 - sys0, code, faults1 - faults0);
    return 0;
}
