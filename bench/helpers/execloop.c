/*
 * Bench helper: starts /bin/true again and again, one at a time, the way a busy machine does.
 *
 *   execloop fork|spawn COUNT [MORE TAG]
 *   execloop inplace COUNT FILE
 *
 * fork: fork, then execv in the child (the child is the process that records the execution);
 * spawn: posix_spawn from this process (this process records them all, so what it counts
 * across executions shows). Each program gets the argument TAG-PHASE-I (TAG default
 * "ombrex-bench"), so that its record can be told apart.
 *
 * inplace: execv of FILE, COUNT times from this very process. FILE must be an executable
 * file that the kernel cannot load (ENOEXEC, a text without "#!"): the library expects the
 * call to run, so each call goes the whole way of a record made before an exec, and then
 * returns; the cost of a new process, a hundred times larger, is not in the figures.
 * FAILED counts the calls that did not end in ENOEXEC.
 *
 * Phase 1 runs COUNT programs and writes "mid" when half of them have run, then
 * "phase1 WALL_US USER_US SYS_US FAILED FAULTS": wall time and CPU time (this process and its
 * children) of the phase, the number of programs that did not run, and the page faults of
 * this process and its children (minor faults: a page touched for the first time). With
 * MORE > 0 it then waits for one line on standard input and runs phase 2, MORE programs,
 * reported the same way as "phase2 ...". Every line is flushed at once, for the script that
 * reads them.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "usage.h"

extern char** environ;

static int succeeded(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return 0;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

enum Mode { Fork, Spawn, InPlace };
static const char* inPlaceFile;

static int runOne(enum Mode mode, char** argv) {
    pid_t pid;
    if (mode == InPlace) {
        return execv(inPlaceFile, argv) == -1 && errno == ENOEXEC;
    }
    if (mode == Spawn) {
        if (posix_spawn(&pid, "/bin/true", NULL, NULL, argv, environ) != 0) {
            return 0;
        }
        return succeeded(pid);
    }
    pid = fork();
    if (pid < 0) {
        return 0;
    }
    if (pid == 0) {
        execv("/bin/true", argv);
        _exit(127);
    }
    return succeeded(pid);
}

static void runPhase(int phase, enum Mode mode, long count, const char* tag) {
    char argument[128];
    char* argv[] = {"true", argument, NULL};
    long long user0, sys0, faults0, user1, sys1, faults1;
    long failed = 0;
    cpuUs(&user0, &sys0, &faults0);
    const long long start = nowUs();
    for (long i = 0; i < count; ++i) {
        if (phase == 1 && i == count / 2) {
            printf("mid\n");
            fflush(stdout);
        }
        snprintf(argument, sizeof argument, "%s-%d-%ld", tag, phase, i);
        if (!runOne(mode, argv)) {
            ++failed;
        }
    }
    const long long wall = nowUs() - start;
    cpuUs(&user1, &sys1, &faults1);
    printf("phase%d %lld %lld %lld %ld %lld\n", phase, wall, user1 - user0, sys1 - sys0, failed,
           faults1 - faults0);
    fflush(stdout);
}

int main(int argc, char** argv) {
    const enum Mode mode = argc < 3                            ? Fork
                           : strcmp(argv[1], "spawn") == 0   ? Spawn
                           : strcmp(argv[1], "inplace") == 0 ? InPlace
                                                             : Fork;
    if (argc < 3 || (mode == Fork && strcmp(argv[1], "fork") != 0) ||
        (mode == InPlace && argc != 4)) {
        fprintf(stderr, "usage: execloop fork|spawn COUNT [MORE TAG]\n"
                        "       execloop inplace COUNT FILE\n");
        return 2;
    }
    const long count = atol(argv[2]);
    if (mode == InPlace) {
        inPlaceFile = argv[3];
        runPhase(1, mode, count, "ombrex-bench");
        return 0;
    }
    const long more = argc > 3 ? atol(argv[3]) : 0;
    const char* tag = argc > 4 ? argv[4] : "ombrex-bench";
    runPhase(1, mode, count, tag);
    if (more > 0) {
        char line[16];
        if (fgets(line, sizeof line, stdin) == NULL) {
            return 1;
        }
        runPhase(2, mode, more, tag);
    }
    return 0;
}
