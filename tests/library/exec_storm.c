/*
 * Test helper: several threads start programs at once, through fork + execv, vfork + execve
 * and posix_spawn, so that the recording code runs in children of a multi-threaded process
 * while other threads hold whatever locks they hold. Prints how many programs ran.
 *
 *   exec_storm THREADS RUNS_PER_THREAD PROGRAM
 */
#define _GNU_SOURCE
#include <errno.h>
#include <pthread.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

static const char* program;
static int runsPerThread;

static int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}

/* Apart from the worker's frame, which the vfork child would share. */
__attribute__((noinline)) static pid_t startWithVfork(char** argv) {
    pid_t pid = vfork();
    if (pid == 0) {
        execve(program, argv, environ);
        _exit(127);
    }
    return pid;
}

static void* worker(void* arg) {
    long index = (long)arg;
    long succeeded = 0;
    char* argv[] = {(char*)program, NULL};
    for (int run = 0; run < runsPerThread; ++run) {
        /* Some allocation churn in the parent while children are being set up. */
        free(malloc((size_t)(64 + run)));
        pid_t pid = -1;
        switch ((run + index) % 3) {
        case 0:
            pid = fork();
            if (pid == 0) {
                execv(program, argv);
                _exit(127);
            }
            break;
        case 1:
            pid = startWithVfork(argv);
            break;
        default:
            if (posix_spawn(&pid, program, NULL, NULL, argv, environ) != 0) {
                pid = -1;
            }
            break;
        }
        if (pid > 0 && waitFor(pid) == 0) {
            ++succeeded;
        }
    }
    return (void*)succeeded;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: exec_storm THREADS RUNS_PER_THREAD PROGRAM\n");
        return 2;
    }
    int threads = atoi(argv[1]);
    runsPerThread = atoi(argv[2]);
    program = argv[3];
    if (threads < 1 || threads > 64) {
        return 2;
    }
    pthread_t ids[64];
    for (long i = 0; i < threads; ++i) {
        if (pthread_create(&ids[i], NULL, worker, (void*)i) != 0) {
            return 3;
        }
    }
    long total = 0;
    for (int i = 0; i < threads; ++i) {
        void* result;
        pthread_join(ids[i], &result);
        total += (long)result;
    }
    printf("%ld\n", total);
    return 0;
}
