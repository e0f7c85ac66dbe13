/*
 * Test helper: small programs that do what some hosts of the library do (tiny thread
 * stacks, exec from a signal handler, seccomp filters, file size limits, setenv in another
 * thread, huge argument lists), and print what they observed. host_behaviour_test.sh runs
 * each mode with and without the library and compares; nothing printed depends on the pid
 * or the time.
 *
 *   host_probe thread-spawn PROGRAM...   posix_spawn from a thread with a 16 KiB stack
 *   host_probe altstack ENTRY [FILE]     ENTRY on FILE (default: a missing file) from a
 *                                        handler on an 8 KiB alternate signal stack
 *   host_probe setenv-race RUNS          posix_spawn RUNS times while another thread calls
 *                                        setenv and unsetenv
 *   host_probe seccomp-fail CALL         under a filter that kills on CALL: execve of a
 *                                        missing file
 *   host_probe seccomp-run CALL          under that filter: execve /bin/true
 *   host_probe fsize DELTA IGNORE LOG    RLIMIT_FSIZE = size of LOG + DELTA, SIGXFSZ ignored
 *                                        or not (1/0), then run /bin/true
 *   host_probe fsize-signals PENDING LOG limit below the size of LOG, SIGXFSZ blocked and
 *                                        pending before (1) or not (0), execve of a directory
 *                                        (refused): mask and pending signals afterwards
 *   host_probe fsize-race N LOG          N processes at once near the limit, each runs
 *                                        /bin/true
 *   host_probe vfork-maps [FILE]         a vfork child's failing execve of FILE (default: a
 *                                        missing file) changes no mapping
 *   host_probe locked-log RUNS LIMITED LOG  another user (65534) holds an exclusive flock on
 *                                        LOG while this process runs /bin/true RUNS times,
 *                                        with RLIMIT_FSIZE 1 MiB above the log's size (1) or
 *                                        without one (0)
 *   host_probe vdso unmap|move FILE      a child unmaps or moves its [vdso], then execve FILE
 *   host_probe many-arguments            execl with 70,000 arguments of this program
 *   host_probe count ARGS...             prints its argument count
 *   host_probe fds                       prints its open descriptors
 *   host_probe fds-after FILE            execv of FILE (one the kernel refuses after its
 *                                        record, such as a file it cannot load), then its
 *                                        error and its open descriptors
 *
 * The probe touches no memory outside its own: stacks are mappings with a painted zone
 * below them, and the zone is checked afterwards.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <inttypes.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

/* In many_arguments.c: execl of path with "count" and 70,000 more arguments. */
int probeExeclMany(const char* path, const char* argument);

static const char* self;

#define PAINT 0xA5
#define ZONE 4096

/* A stack of `size` bytes with a painted zone of ZONE bytes just below it. */
static unsigned char* paintedStack(size_t size) {
    unsigned char* base = mmap(NULL, ZONE + size, PROT_READ | PROT_WRITE,
                               MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (base == MAP_FAILED) {
        perror("mmap");
        exit(90);
    }
    memset(base, PAINT, ZONE + size);
    return base;
}

static size_t changedBelow(const unsigned char* base) {
    size_t changed = 0;
    for (size_t i = 0; i < ZONE; ++i) {
        changed += base[i] != PAINT;
    }
    return changed;
}

/* Bytes of the stack above the zone that were written, counted from the lowest one. */
static size_t stackUsed(const unsigned char* base, size_t size) {
    size_t i = 0;
    while (i < size && base[ZONE + i] == PAINT) {
        ++i;
    }
    return size - i;
}

static int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}

static void printStatus(const char* what, int status) {
    if (WIFEXITED(status)) {
        printf("%s: exit %d\n", what, WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        printf("%s: signal %s\n", what, sigabbrev_np(WTERMSIG(status)));
    } else {
        printf("%s: status %#x\n", what, status);
    }
}

static const char* errorName(int error) {
    const char* name = strerrorname_np(error);
    return name != NULL ? name : "0";
}

/* ---- posix_spawn from a thread with a 16 KiB stack ---- */

enum { threadStackSize = 16384 };

struct SpawnJob {
    char** argv;
    int error;
    int status;
};

static void* spawnThread(void* arg) {
    struct SpawnJob* job = arg;
    pid_t pid;
    job->error = posix_spawn(&pid, job->argv[0], NULL, NULL, job->argv, environ);
    job->status = job->error == 0 ? waitFor(pid) : -1;
    return NULL;
}

static int threadSpawn(char** argv) {
    unsigned char* base = paintedStack(threadStackSize);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, base + ZONE, threadStackSize);
    struct SpawnJob job = {argv, 0, 0};
    fflush(NULL);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, spawnThread, &job) != 0) {
        return 91;
    }
    pthread_join(thread, NULL);
    printf("posix_spawn: %s\n", errorName(job.error));
    printStatus("program", job.status);
    printf("bytes changed below the 16 KiB stack: %zu\n", changedBelow(base));
    return 0;
}

/* ---- an entry point called from a handler on an 8 KiB alternate stack ---- */

enum { altStackSize = 8192 };

static const char* handlerEntry;
static const char* handlerFile = "/nonexistent-ombrex-dir/missing";
static volatile int handlerResult;
static volatile int handlerErrno;

static void onSignal(int signal) {
    (void)signal;
    static char* const argv[] = {"missing", "argument", NULL};
    static char* const envp[] = {"A=1", NULL};
    const char* missing = handlerFile;
    int result = 0;
    errno = 0;
    if (strcmp(handlerEntry, "execve") == 0) {
        result = execve(missing, argv, envp);
    } else if (strcmp(handlerEntry, "execv") == 0) {
        result = execv(missing, argv);
    } else if (strcmp(handlerEntry, "execl") == 0) {
        result = execl(missing, "missing", "argument", (char*)NULL);
    } else if (strcmp(handlerEntry, "execle") == 0) {
        result = execle(missing, "missing", "argument", (char*)NULL, envp);
    } else if (strcmp(handlerEntry, "fexecve") == 0) {
        int fd = open(strcmp(handlerFile, "/") == 0 ? "/" : "/dev/null", O_RDONLY | O_CLOEXEC);
        result = fexecve(fd, argv, envp);
        int saved = errno;
        close(fd);
        errno = saved;
    }
    handlerResult = result;
    handlerErrno = errno;
}

static int altStack(const char* entry) {
    unsigned char* base = paintedStack(altStackSize);
    stack_t stack = {.ss_sp = base + ZONE, .ss_size = altStackSize, .ss_flags = 0};
    struct sigaction action = {.sa_handler = onSignal, .sa_flags = SA_ONSTACK};
    sigemptyset(&action.sa_mask);
    if (sigaltstack(&stack, NULL) != 0 || sigaction(SIGUSR1, &action, NULL) != 0) {
        return 91;
    }
    handlerEntry = entry;
    raise(SIGUSR1);
    printf("%s from the handler: %d %s\n", entry, handlerResult, errorName(handlerErrno));
    printf("bytes changed below the 8 KiB signal stack: %zu\n", changedBelow(base));
    /* Not compared: how deep the handler went, with or without the library. */
    fprintf(stderr, "signal stack used: %zu bytes\n", stackUsed(base, altStackSize));
    return 0;
}

/* ---- setenv in one thread, posix_spawn in another ---- */

static volatile int spawning = 1;

static void* changeEnvironment(void* arg) {
    (void)arg;
    char name[32];
    /* The C library grows its array of variables by realloc and frees it on clearenv: a
     * reader of environ in another thread may find it moved and freed at any moment. */
    while (spawning) {
        for (unsigned i = 0; i < 64; ++i) {
            snprintf(name, sizeof name, "PROBE_VARIABLE_%u", i);
            setenv(name, "value", 1);
        }
        clearenv();
    }
    return NULL;
}

static int setenvRace(int runs) {
    pthread_t thread;
    if (pthread_create(&thread, NULL, changeEnvironment, NULL) != 0) {
        return 91;
    }
    /* The program's own, fixed environment: the C library never reads environ here. */
    static char* const envp[] = {"PATH=/usr/bin:/bin", NULL};
    char* argv[] = {"/bin/true", NULL};
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        pid_t pid;
        if (posix_spawn(&pid, argv[0], NULL, NULL, argv, envp) != 0 || waitFor(pid) != 0) {
            ++failures;
        }
    }
    spawning = 0;
    pthread_join(thread, NULL);
    printf("spawned %d, failed %d\n", runs, failures);
    return 0;
}

/* ---- seccomp filters ---- */

struct Call {
    const char* name;
    long number;
};

static const struct Call calls[] = {
    {"socket", SYS_socket},
    {"sendto", SYS_sendto},
    {"connect", SYS_connect},
    {"ppoll", SYS_ppoll},
    {"faccessat2", SYS_faccessat2},
    {"fstat", SYS_fstat},
    {"newfstatat", SYS_newfstatat},
    {"openat", SYS_openat},
    {"read", SYS_read},
    {"pread64", SYS_pread64},
    {"write", SYS_write},
    {"close", SYS_close},
    {"mmap", SYS_mmap},
    {"munmap", SYS_munmap},
    {"getpid", SYS_getpid},
    {"getppid", SYS_getppid},
    {"getuid", SYS_getuid},
    {"geteuid", SYS_geteuid},
    {"getresuid", SYS_getresuid},
    {"getresgid", SYS_getresgid},
    {"getcwd", SYS_getcwd},
    {"readlinkat", SYS_readlinkat},
    {"clock_gettime", SYS_clock_gettime},
    {"prlimit64", SYS_prlimit64},
    {"flock", SYS_flock},
    {"lseek", SYS_lseek},
    {"pwrite64", SYS_pwrite64},
    {"clock_nanosleep", SYS_clock_nanosleep},
    {"rt_sigprocmask", SYS_rt_sigprocmask},
    {"rt_sigpending", SYS_rt_sigpending},
    {"rt_sigtimedwait", SYS_rt_sigtimedwait},
};

#if defined(__x86_64__)
#define PROBE_AUDIT_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define PROBE_AUDIT_ARCH AUDIT_ARCH_AARCH64
#endif

static int killOn(long number) {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PROBE_AUDIT_ARCH, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (unsigned)number, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {sizeof filter / sizeof filter[0], filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        return -1;
    }
    return 0;
}

static int seccompProbe(const char* name, int run) {
    long number = -1;
    for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i) {
        if (strcmp(calls[i].name, name) == 0) {
            number = calls[i].number;
        }
    }
    if (number < 0) {
        fprintf(stderr, "unknown call %s\n", name);
        return 2;
    }
    fflush(NULL);
    pid_t pid = fork();
    if (pid == 0) {
        /* Nothing but the exec and _exit after the filter: the child reports by its status. */
        if (killOn(number) != 0) {
            _exit(90);
        }
        char* argv[] = {run ? "/bin/true" : "missing", NULL};
        char* envp[] = {NULL};
        execve(run ? "/bin/true" : "/nonexistent-ombrex-dir/missing", argv, envp);
        _exit(errno == ENOENT ? 2 : 3);
    }
    printStatus(run ? "execve /bin/true under the filter"
                    : "execve of a missing file under the filter",
                waitFor(pid));
    return 0;
}

/* ---- file size limits ---- */

static long long fileSize(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 ? (long long)status.st_size : -1;
}

static int setFileSizeLimit(long long limit) {
    struct rlimit value = {(rlim_t)limit, (rlim_t)limit};
    return setrlimit(RLIMIT_FSIZE, &value);
}

static int fsize(long long delta, int ignore, const char* log) {
    long long size = fileSize(log);
    if (size < 0 || setFileSizeLimit(size + delta) != 0) {
        return 91;
    }
    if (ignore) {
        signal(SIGXFSZ, SIG_IGN);
    }
    fflush(NULL);
    pid_t pid = fork();
    if (pid == 0) {
        char* argv[] = {"/bin/true", NULL};
        execve(argv[0], argv, environ);
        _exit(95);
    }
    printStatus("/bin/true", waitFor(pid));
    return 0;
}

static void printSet(const char* what, const sigset_t* set) {
    printf("%s:", what);
    for (int s = 1; s < NSIG; ++s) {
        if (sigismember(set, s) == 1) {
            printf(" %s", sigabbrev_np(s) != NULL ? sigabbrev_np(s) : "RT");
        }
    }
    printf("\n");
}

static int fsizeSignals(int pending, const char* log) {
    long long size = fileSize(log);
    if (size < 0 || setFileSizeLimit(size > 0 ? size - 1 : 0) != 0) {
        return 91;
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR2);
    if (pending) {
        sigaddset(&set, SIGXFSZ);
    }
    sigprocmask(SIG_BLOCK, &set, NULL);
    if (pending) {
        raise(SIGXFSZ);
    }
    /* Refused (a directory): its record is written after the call, and dropped at the limit. */
    char* argv[] = {"refused", NULL};
    errno = 0;
    int result = execve("/", argv, environ);
    printf("execve: %d %s\n", result, errorName(errno));
    sigset_t now;
    sigprocmask(SIG_BLOCK, NULL, &now);
    printSet("blocked", &now);
    sigpending(&now);
    printSet("pending", &now);
    return 0;
}

static int fsizeRace(int processes, const char* log) {
    fflush(NULL);
    pid_t children[64];
    if (processes > 64) {
        return 2;
    }
    for (int i = 0; i < processes; ++i) {
        children[i] = fork();
        if (children[i] == 0) {
            /* Room for about one record more: the processes race for it. */
            if (setFileSizeLimit(fileSize(log) + 250) != 0) {
                _exit(91);
            }
            char* argv[] = {"/bin/true", NULL};
            pid_t pid;
            int error = posix_spawn(&pid, argv[0], NULL, NULL, argv, environ);
            _exit(error == 0 && waitFor(pid) == 0 ? 0 : 1);
        }
    }
    int failed = 0;
    for (int i = 0; i < processes; ++i) {
        int status = waitFor(children[i]);
        failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    printf("processes %d, failed %d\n", processes, failed);
    return 0;
}

/* ---- a vfork child leaves the parent's address space as it found it ---- */

static char* readMaps(void) {
    static char text[2][1 << 16];
    static int which;
    char* buffer = text[which++ % 2];
    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    ssize_t length = 0, got;
    while (fd >= 0 && (got = read(fd, buffer + length, sizeof text[0] - 1 - (size_t)length)) > 0) {
        length += got;
    }
    if (fd >= 0) {
        close(fd);
    }
    buffer[length > 0 ? length : 0] = 0;
    return buffer;
}

__attribute__((noinline)) static pid_t vforkFailing(const char* file) {
    char* argv[] = {"failing", NULL};
    pid_t pid = vfork();
    if (pid == 0) {
        execve(file, argv, environ);
        _exit(errno == ENOENT ? 2 : errno == EACCES ? 4 : 3);
    }
    return pid;
}

static int vforkMaps(const char* file) {
    char* before = readMaps();
    pid_t pid = vforkFailing(file);
    int status = waitFor(pid);
    char* after = readMaps();
    printStatus("vfork child", status);
    printf("mappings %s\n", strcmp(before, after) == 0 ? "unchanged" : "CHANGED");
    if (strcmp(before, after) != 0) {
        fprintf(stderr, "before:\n%s\nafter:\n%s\n", before, after);
    }
    return 0;
}

/* ---- a log file locked by another user ---- */

enum { otherUser = 65534 };

/* Holds an exclusive lock on log as another user, who needs no more than read access for it,
 * until the parent closes `release`; reports on `ready` whether the lock was taken. */
static void holdLock(const char* log, int ready, int release) {
    char taken = 0;
    int fd = -1;
    if (setgroups(0, NULL) == 0 && setresgid(otherUser, otherUser, otherUser) == 0 &&
        setresuid(otherUser, otherUser, otherUser) == 0 &&
        (fd = open(log, O_RDONLY | O_CLOEXEC)) >= 0 && flock(fd, LOCK_EX) == 0) {
        taken = 1;
    }
    if (write(ready, &taken, 1) != 1) {
        _exit(1);
    }
    char c;
    while (read(release, &c, 1) < 0 && errno == EINTR) {
    }
    _exit(0);
}

static int lockedLog(int runs, int limited, const char* log) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) {
        return 91;
    }
    fflush(NULL);
    pid_t holder = fork();
    if (holder == 0) {
        close(ready[0]);
        close(release[1]);
        holdLock(log, ready[1], release[0]);
    }
    close(ready[1]);
    close(release[0]);
    char taken = 0;
    if (holder < 0 || read(ready[0], &taken, 1) != 1) {
        return 92;
    }
    if (limited && setFileSizeLimit(fileSize(log) + (1 << 20)) != 0) {
        return 93;
    }
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            close(release[1]);
            char* argv[] = {"/bin/true", NULL};
            execve(argv[0], argv, environ);
            _exit(95);
        }
        failed += waitFor(pid) != 0;
    }
    close(release[1]);
    waitFor(holder);
    printf("lock held by another user: %s\n", taken ? "yes" : "no");
    printf("/bin/true %d times, failed %d\n", runs, failed);
    return 0;
}

/* ---- the vDSO unmapped or moved, as checkpoint/restore tools and some sandboxes do ---- */

static int findMapping(const char* name, uintptr_t* start, uintptr_t* end) {
    FILE* maps = fopen("/proc/self/maps", "re");
    char line[512];
    int found = -1;
    while (maps != NULL && found != 0 && fgets(line, sizeof line, maps) != NULL) {
        char* tail = strrchr(line, ' ');
        if (tail != NULL && strcmp(tail + 1, name) == 0 &&
            sscanf(line, "%" SCNxPTR "-%" SCNxPTR, start, end) == 2) {
            found = 0;
        }
    }
    if (maps != NULL) {
        fclose(maps);
    }
    return found;
}

static int vdsoGone(const char* how, const char* file) {
    fflush(NULL);
    pid_t pid = fork();
    if (pid == 0) {
        uintptr_t start = 0;
        uintptr_t end = 0;
        if (findMapping("[vdso]\n", &start, &end) != 0) {
            _exit(90);
        }
        void* vdso = (void*)start;
        size_t size = end - start;
        if (strcmp(how, "unmap") == 0) {
            if (munmap(vdso, size) != 0) {
                _exit(91);
            }
        } else {
            void* to = mmap(NULL, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (to == MAP_FAILED ||
                mremap(vdso, size, size, MREMAP_MAYMOVE | MREMAP_FIXED, to) == MAP_FAILED) {
                _exit(92);
            }
        }
        char* argv[] = {"vdso", NULL};
        errno = 0;
        int result = execve(file, argv, environ);
        printf("execve: %d %s\n", result, errorName(errno));
        fflush(NULL);
        _exit(0);
    }
    printStatus(strcmp(how, "unmap") == 0 ? "vDSO unmapped, then execve"
                                          : "vDSO moved, then execve",
                waitFor(pid));
    return 0;
}

/* ---- execl with 70,000 arguments ---- */

static int manyArguments(void) {
    fflush(NULL);
    pid_t pid = fork();
    if (pid == 0) {
        probeExeclMany(self, "x");
        printf("execl: %s\n", errorName(errno));
        fflush(NULL);
        _exit(95);
    }
    printStatus("execl with 70,000 arguments", waitFor(pid));
    return 0;
}

static int listDescriptors(void) {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == NULL) {
        return 91;
    }
    int own = dirfd(dir);
    printf("descriptors:");
    int fds[256];
    int count = 0;
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL && count < 256) {
        if (entry->d_name[0] != '.' && atoi(entry->d_name) != own) {
            fds[count++] = atoi(entry->d_name);
        }
    }
    closedir(dir);
    for (int i = 0; i < count; ++i) {
        for (int j = i + 1; j < count; ++j) {
            if (fds[j] < fds[i]) {
                int t = fds[i];
                fds[i] = fds[j];
                fds[j] = t;
            }
        }
    }
    for (int i = 0; i < count; ++i) {
        printf(" %d", fds[i]);
    }
    printf("\n");
    return 0;
}

int main(int argc, char** argv) {
    self = argv[0];
    setvbuf(stdout, NULL, _IOLBF, 0);
    if (argc >= 3 && strcmp(argv[1], "thread-spawn") == 0) {
        return threadSpawn(argv + 2);
    }
    if ((argc == 3 || argc == 4) && strcmp(argv[1], "altstack") == 0) {
        if (argc == 4) {
            handlerFile = argv[3];
        }
        return altStack(argv[2]);
    }
    if (argc == 3 && strcmp(argv[1], "setenv-race") == 0) {
        return setenvRace(atoi(argv[2]));
    }
    if (argc == 3 && strncmp(argv[1], "seccomp-", 8) == 0) {
        return seccompProbe(argv[2], strcmp(argv[1], "seccomp-run") == 0);
    }
    if (argc == 5 && strcmp(argv[1], "fsize") == 0) {
        return fsize(atoll(argv[2]), atoi(argv[3]), argv[4]);
    }
    if (argc == 4 && strcmp(argv[1], "fsize-signals") == 0) {
        return fsizeSignals(atoi(argv[2]), argv[3]);
    }
    if (argc == 4 && strcmp(argv[1], "fsize-race") == 0) {
        return fsizeRace(atoi(argv[2]), argv[3]);
    }
    if ((argc == 2 || argc == 3) && strcmp(argv[1], "vfork-maps") == 0) {
        return vforkMaps(argc == 3 ? argv[2] : "/nonexistent-ombrex-dir/missing");
    }
    if (argc == 5 && strcmp(argv[1], "locked-log") == 0) {
        return lockedLog(atoi(argv[2]), atoi(argv[3]), argv[4]);
    }
    if (argc == 4 && strcmp(argv[1], "vdso") == 0) {
        return vdsoGone(argv[2], argv[3]);
    }
    if (argc == 2 && strcmp(argv[1], "many-arguments") == 0) {
        return manyArguments();
    }
    if (argc >= 2 && strcmp(argv[1], "count") == 0) {
        printf("arguments: %d\n", argc);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "fds") == 0) {
        return listDescriptors();
    }
    if (argc == 3 && strcmp(argv[1], "fds-after") == 0) {
        char* const args[] = {argv[2], NULL};
        errno = 0;
        execv(argv[2], args);
        printf("execv: %s\n", errorName(errno));
        return listDescriptors();
    }
    fprintf(stderr, "usage: see the comment at the top of host_probe.c\n");
    return 2;
}
