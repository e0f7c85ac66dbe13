/*
 * Test helper: calls one exec-family entry point so that a test can count the records it
 * leaves, and serves as the program that is executed.
 *
 *   exec_probe report ARGS...            prints its arguments and PROBE_ENV, one per line
 *   exec_probe call ENTRY FILE ARGV...   runs FILE through ENTRY with exactly ARGV, waits,
 *                                        and exits with the child's status
 *   exec_probe null-argv FILE            execve(FILE, NULL, environ) in a child
 *   exec_probe empty-argv FILE           execve(FILE, {NULL}, environ) in a child
 *   exec_probe fail ENTRY                ENTRY on a missing file must fail with ENOENT
 *   exec_probe spawn-keeps-errno FILE    errno survives a successful posix_spawn
 *   exec_probe sink PATH SECONDS         binds a datagram socket at PATH and never reads it
 *   exec_probe hold PATH OUT             binds a datagram socket at PATH and reads nothing
 *                                        until SIGUSR1; then appends each datagram to OUT
 *                                        as a line, until SIGTERM
 *   exec_probe try ENTRY FILE            ENTRY on FILE with the arguments "try" and "me":
 *                                        prints "error NAME" when the call returned, "pid N"
 *                                        when posix_spawn started N, and the exit status
 *   exec_probe steps PROGRAM             for each line on standard input, "spawn N" (N
 *                                        posix_spawns), "fork" (fork + execv) or "vfork"
 *                                        (vfork + execv) of PROGRAM with the argument
 *                                        "step-I", waits, and prints "ok" (or "failed")
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

/* The caller's environment plus PROBE_ENV, which the executed report shows when the entry
 * point passed the given environment on. Static, so that nothing is left to free. */
static char** probeEnvironment(void) {
    static char* env[1024];
    size_t count = 0;
    while (environ[count] != NULL && count < 1022) {
        env[count] = environ[count];
        ++count;
    }
    env[count] = "PROBE_ENV=passed";
    env[count + 1] = NULL;
    return env;
}

/* Runs in the child; returns only if the entry point failed. */
static void callEntry(const char* entry, const char* file, char** argv) {
    char** env = probeEnvironment();
    if (strcmp(entry, "execve") == 0) {
        execve(file, argv, env);
    } else if (strcmp(entry, "execv") == 0) {
        execv(file, argv);
    } else if (strcmp(entry, "execvp") == 0) {
        execvp(file, argv);
    } else if (strcmp(entry, "execvpe") == 0) {
        execvpe(file, argv, env);
    } else if (strcmp(entry, "execl") == 0) {
        execl(file, argv[0], argv[1], argv[2], (char*)NULL);
    } else if (strcmp(entry, "execlp") == 0) {
        execlp(file, argv[0], argv[1], argv[2], (char*)NULL);
    } else if (strcmp(entry, "execle") == 0) {
        execle(file, argv[0], argv[1], argv[2], (char*)NULL, env);
    } else if (strcmp(entry, "fexecve") == 0) {
        int fd = open(file, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            fexecve(fd, argv, env);
        }
    } else if (strncmp(entry, "execveat", 8) == 0) {
        /* execveat-nofollow: with AT_SYMLINK_NOFOLLOW */
        int flags = strcmp(entry, "execveat-nofollow") == 0 ? AT_SYMLINK_NOFOLLOW : 0;
        char directory[4096];
        snprintf(directory, sizeof directory, "%s", file);
        char* slash = strrchr(directory, '/');
        if (slash != NULL) {
            *slash = 0;
            int dirfd = open(directory[0] != 0 ? directory : "/", O_RDONLY | O_DIRECTORY);
            if (dirfd >= 0) {
                execveat(dirfd, slash + 1, argv, env, flags);
            }
        }
    } else {
        fprintf(stderr, "unknown entry %s\n", entry);
        _exit(91);
    }
}

static int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return 92;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

static int spawn(const char* entry, const char* file, char** argv, pid_t* pid) {
    char** env = probeEnvironment();
    if (strcmp(entry, "posix_spawn") == 0) {
        return posix_spawn(pid, file, NULL, NULL, argv, env);
    }
    return posix_spawnp(pid, file, NULL, NULL, argv, env);
}

static int call(const char* entry, const char* file, char** argv) {
    pid_t pid;
    if (strncmp(entry, "posix_spawn", 11) == 0) {
        int error = spawn(entry, file, argv, &pid);
        if (error != 0) {
            fprintf(stderr, "%s: %s\n", entry, strerror(error));
            return 93;
        }
        return waitFor(pid);
    }
    fflush(NULL);
    pid = fork();
    if (pid < 0) {
        return 94;
    }
    if (pid == 0) {
        callEntry(entry, file, argv);
        fprintf(stderr, "%s: %s\n", entry, strerror(errno));
        _exit(95);
    }
    return waitFor(pid);
}

/* Each entry point on a file that cannot run must fail with the error of the real call. */
static int failOnMissingFile(const char* entry) {
    const char* file = "/nonexistent-ombrex-dir/missing";
    char* argv[] = {"missing", NULL};
    int expected = ENOENT;
    int result = -1;
    errno = 0;
    if (strcmp(entry, "execve") == 0) {
        result = execve(file, argv, environ);
    } else if (strcmp(entry, "execv") == 0) {
        result = execv(file, argv);
    } else if (strcmp(entry, "execvp") == 0) {
        result = execvp("missing-ombrex-program", argv);
    } else if (strcmp(entry, "execvpe") == 0) {
        result = execvpe("missing-ombrex-program", argv, environ);
    } else if (strcmp(entry, "execl") == 0) {
        result = execl(file, "missing", (char*)NULL);
    } else if (strcmp(entry, "execlp") == 0) {
        result = execlp("missing-ombrex-program", "missing", (char*)NULL);
    } else if (strcmp(entry, "execle") == 0) {
        result = execle(file, "missing", (char*)NULL, environ);
    } else if (strcmp(entry, "fexecve") == 0) {
        int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        expected = EACCES;
        errno = 0;
        result = fexecve(fd, argv, environ);
    } else if (strcmp(entry, "execveat") == 0) {
        result = execveat(AT_FDCWD, file, argv, environ, 0);
    } else if (strncmp(entry, "posix_spawn", 11) == 0) {
        pid_t pid;
        errno = 0;
        int error = spawn(
            entry, strcmp(entry, "posix_spawn") == 0 ? file : "missing-ombrex-program", argv, &pid);
        if (error != ENOENT) {
            fprintf(stderr, "%s: returned %d, expected ENOENT\n", entry, error);
            return 1;
        }
        return 0;
    } else {
        return 91;
    }
    if (result != -1 || errno != expected) {
        fprintf(stderr, "%s: result %d errno %d (%s), expected %d\n", entry, result, errno,
                strerror(errno), expected);
        return 1;
    }
    return 0;
}

/* Calls an entry point and shows what it came to, with the error's name as the C library
 * gives it; nothing printed depends on the library. */
static int tryEntry(const char* entry, const char* file) {
    char* argv[] = {"try", "me", NULL};
    pid_t pid;
    if (strncmp(entry, "posix_spawn", 11) == 0) {
        int error = spawn(entry, file, argv, &pid);
        if (error != 0) {
            printf("error %s\n", strerrorname_np(error));
            return 0;
        }
        printf("pid %d\n", (int)pid);
        printf("status %d\n", waitFor(pid));
        return 0;
    }
    fflush(NULL);
    pid = fork();
    if (pid == 0) {
        errno = 0;
        callEntry(entry, file, argv);
        printf("error %s\n", errno != 0 ? strerrorname_np(errno) : "none");
        fflush(NULL);
        _exit(95);
    }
    printf("status %d\n", waitFor(pid));
    return 0;
}

/* A datagram socket bound at path, as a log daemon's; -1 (reported as who) when it fails. */
static int bindDatagram(const char* path, const char* who) {
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    struct sockaddr_un address = {.sun_family = AF_UNIX};
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
    if (fd < 0 || bind(fd, (struct sockaddr*)&address, sizeof address) != 0) {
        perror(who);
        return -1;
    }
    return fd;
}

static int sink(const char* path, int seconds) {
    if (bindDatagram(path, "sink") < 0) {
        return 1;
    }
    /* Never reads: the queue fills up like that of a stalled log daemon. */
    sleep((unsigned)seconds);
    return 0;
}

static volatile sig_atomic_t reading;

static void startReading(int signal) {
    (void)signal;
    reading = 1;
}

/* A log daemon that stalls until told to go on: its queue fills up meanwhile. */
static int hold(const char* path, const char* out) {
    struct sigaction action = {.sa_handler = startReading};
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, NULL);
    const int fd = bindDatagram(path, "hold");
    if (fd < 0) {
        return 1;
    }
    while (!reading) {
        pause();
    }
    FILE* file = fopen(out, "a");
    if (file == NULL) {
        perror(out);
        return 1;
    }
    static char datagram[65536];
    for (;;) {
        ssize_t length = recv(fd, datagram, sizeof datagram, 0);
        if (length < 0 && errno == EINTR) {
            continue;
        }
        if (length < 0) {
            perror("recv");
            return 1;
        }
        fwrite(datagram, 1, (size_t)length, file);
        fputc('\n', file);
        fflush(file);
    }
}

/* One process that starts programs when told to, so that a test can change the configuration
 * or the log daemon between its records. */
static int steps(char* program) {
    char line[64];
    unsigned counter = 0;
    setvbuf(stdout, NULL, _IOLBF, 0);
    while (fgets(line, sizeof line, stdin) != NULL) {
        char argument[32];
        char* args[] = {program, argument, NULL};
        int failed = 0;
        int count = 1;
        if (strncmp(line, "spawn", 5) == 0) {
            count = atoi(line + 5) > 0 ? atoi(line + 5) : 1;
            for (int i = 0; i < count; ++i) {
                snprintf(argument, sizeof argument, "step-%u", counter++);
                pid_t pid;
                failed |=
                    posix_spawn(&pid, program, NULL, NULL, args, environ) != 0 || waitFor(pid) != 0;
            }
        } else if (strncmp(line, "fork", 4) == 0 || strncmp(line, "vfork", 5) == 0) {
            snprintf(argument, sizeof argument, "step-%u", counter++);
            fflush(NULL);
            pid_t pid = line[0] == 'v' ? vfork() : fork();
            if (pid == 0) {
                execv(program, args);
                _exit(127);
            }
            failed = pid < 0 || waitFor(pid) != 0;
        } else {
            fprintf(stderr, "unknown step %s", line);
            return 2;
        }
        printf("%s\n", failed ? "failed" : "ok");
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "report") == 0) {
        for (int i = 0; i < argc; ++i) {
            printf("arg: %s\n", argv[i]);
        }
        const char* value = getenv("PROBE_ENV");
        printf("env: %s\n", value != NULL ? value : "(unset)");
        return 0;
    }
    if (argc >= 5 && strcmp(argv[1], "call") == 0) {
        return call(argv[2], argv[3], argv + 4);
    }
    if (argc == 3 && (strcmp(argv[1], "null-argv") == 0 || strcmp(argv[1], "empty-argv") == 0)) {
        /* Through a plain pointer: the declaration forbids a null vector, programs pass one. */
        int (*volatile run)(const char*, char* const*, char* const*) = execve;
        char* empty[] = {NULL};
        char** vector = strcmp(argv[1], "null-argv") == 0 ? NULL : empty;
        pid_t pid = fork();
        if (pid == 0) {
            run(argv[2], vector, environ);
            _exit(95);
        }
        return pid > 0 ? waitFor(pid) : 94;
    }
    if (argc == 3 && strcmp(argv[1], "fail") == 0) {
        return failOnMissingFile(argv[2]);
    }
    if (argc == 3 && strcmp(argv[1], "spawn-keeps-errno") == 0) {
        char* args[] = {argv[2], NULL};
        pid_t pid;
        errno = 4242;
        int error = posix_spawn(&pid, argv[2], NULL, NULL, args, environ);
        int seen = errno;
        if (error != 0) {
            return 93;
        }
        waitFor(pid);
        if (seen != 4242) {
            fprintf(stderr, "errno changed to %d\n", seen);
            return 1;
        }
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "sink") == 0) {
        return sink(argv[2], atoi(argv[3]));
    }
    if (argc == 4 && strcmp(argv[1], "hold") == 0) {
        return hold(argv[2], argv[3]);
    }
    if (argc == 4 && strcmp(argv[1], "try") == 0) {
        return tryEntry(argv[2], argv[3]);
    }
    if (argc == 3 && strcmp(argv[1], "steps") == 0) {
        return steps(argv[2]);
    }
    fprintf(stderr, "usage: see the comment at the top of exec_probe.c\n");
    return 2;
}
