// System calls of the library, made directly with the architecture's instruction.
//
// The record path runs in signal handlers, in vfork children and in children of multi-threaded
// parents, so it may not go through anything that locks, allocates, resolves a symbol or
// touches errno. Each call returns the kernel's result: a negative error number on failure.
// Nothing here reads or writes errno; the entry points set it themselves where the C library
// would.
#ifndef OMBREX_LIBOMBREX_SYS_H
#define OMBREX_LIBOMBREX_SYS_H

#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <time.h>

#if !defined(__x86_64__) && !defined(__aarch64__)
#error "libombrex: system calls are written for x86_64 and aarch64 only"
#endif

namespace ombrex::sys {

// The kernel's struct stat, which the C library's matches on both architectures.
#if defined(__x86_64__)
static_assert(sizeof(struct stat) == 144);
#else
static_assert(sizeof(struct stat) == 128);
#endif

// The number and six arguments of one system call, in the registers that the kernel reads.
inline long call(long number, const long (&a)[6]) {
#if defined(__x86_64__)
    register long r10 __asm__("r10") = a[3];
    register long r8 __asm__("r8") = a[4];
    register long r9 __asm__("r9") = a[5];
    long result;
    __asm__ volatile("syscall"
                     : "=a"(result)
                     : "a"(number), "D"(a[0]), "S"(a[1]), "d"(a[2]), "r"(r10), "r"(r8), "r"(r9)
                     : "rcx", "r11", "memory");
    return result;
#else
    register long x8 __asm__("x8") = number;
    register long x0 __asm__("x0") = a[0];
    register long x1 __asm__("x1") = a[1];
    register long x2 __asm__("x2") = a[2];
    register long x3 __asm__("x3") = a[3];
    register long x4 __asm__("x4") = a[4];
    register long x5 __asm__("x5") = a[5];
    __asm__ volatile("svc 0"
                     : "+r"(x0)
                     : "r"(x8), "r"(x1), "r"(x2), "r"(x3), "r"(x4), "r"(x5)
                     : "memory");
    return x0;
#endif
}

// Every argument travels as a long.
template <typename T> long arg(T* pointer) {
    return reinterpret_cast<long>(pointer);
}
template <typename T> long arg(const T* pointer) {
    return reinterpret_cast<long>(pointer);
}
inline long arg(int value) {
    return value;
}
inline long arg(unsigned value) {
    return static_cast<long>(value);
}
inline long arg(long value) {
    return value;
}
inline long arg(unsigned long value) {
    return static_cast<long>(value);
}

template <typename... Args> long invoke(long number, Args... args) {
    static_assert(sizeof...(Args) <= 6);
    const long values[6] = {arg(args)...};
    return call(number, values);
}

// True for a result that is an error, -4095 to -1 as the kernel returns them.
inline bool failed(long result) {
    return result < 0 && result > -4096;
}

inline constexpr int currentDirectory = AT_FDCWD;
inline constexpr int emptyPath = AT_EMPTY_PATH;

inline int open(const char* path, int flags) {
    return static_cast<int>(invoke(SYS_openat, currentDirectory, path, flags, 0));
}

// openat(2) relative to a directory descriptor, for a path that a call resolves against one.
inline int openAt(int dirfd, const char* path, int flags) {
    return static_cast<int>(invoke(SYS_openat, dirfd, path, flags, 0));
}

inline long read(int fd, void* buffer, size_t count) {
    return invoke(SYS_read, fd, buffer, count);
}

inline long pread(int fd, void* buffer, size_t count, long offset) {
    return invoke(SYS_pread64, fd, buffer, count, offset);
}

// The pieces one after another, in one write: as whole as write(2) for a file opened with
// O_APPEND.
inline long writev(int fd, const struct iovec* pieces, unsigned count) {
    return invoke(SYS_writev, fd, pieces, count);
}

inline long pwrite(int fd, const void* buffer, size_t count, long offset) {
    return invoke(SYS_pwrite64, fd, buffer, count, offset);
}

inline constexpr int fromCurrent = 1; // SEEK_CUR, from <unistd.h>, which interpose.cpp must not see

inline long seek(int fd, long offset, int whence) {
    return invoke(SYS_lseek, fd, offset, whence);
}

inline void close(int fd) {
    invoke(SYS_close, fd);
}

// The status of an open descriptor, the way the C library's fstat asks for it.
inline long fstat(int fd, struct stat* status) {
    return invoke(SYS_newfstatat, fd, "", status, emptyPath);
}

inline long stat(const char* path, struct stat* status) {
    return invoke(SYS_newfstatat, currentDirectory, path, status, 0);
}

inline long statAt(int dirfd, const char* path, struct stat* status, int flags) {
    return invoke(SYS_newfstatat, dirfd, path, status, flags);
}

inline constexpr int executeAccess = 1; // X_OK, from <unistd.h>, which interpose.cpp must not see
inline constexpr int effectiveIds = AT_EACCESS;
inline constexpr int noFollow = AT_SYMLINK_NOFOLLOW;

// Whether the effective ids may execute the file, by the kernel's own permission check, which
// also refuses a regular file on a file system mounted noexec. Linux 5.8 and later.
inline long mayExecute(int dirfd, const char* path, int flags) {
    return invoke(SYS_faccessat2, dirfd, path, executeAccess, effectiveIds | flags);
}

inline int socket(int domain, int type, int protocol) {
    return static_cast<int>(invoke(SYS_socket, domain, type, protocol));
}

inline long connect(int fd, const struct sockaddr* address, socklen_t addressLength) {
    return invoke(SYS_connect, fd, address, addressLength);
}

// One datagram of the pieces, on a connected socket.
inline long sendPieces(int fd, const struct iovec* pieces, unsigned count, int flags) {
    struct msghdr message = {};
    message.msg_iov = const_cast<struct iovec*>(pieces);
    message.msg_iovlen = count;
    return invoke(SYS_sendmsg, fd, &message, flags);
}

struct PollEntry {
    int fd;
    short events;
    short revents;
};
inline constexpr short readyToWrite = 0x004; // POLLOUT

// Waits up to `timeout` for an event; poll(2) itself is not there on aarch64.
inline long ppoll(PollEntry* entries, unsigned long count, struct timespec* timeout) {
    return invoke(SYS_ppoll, entries, count, timeout, static_cast<void*>(nullptr), 0);
}

inline long readlink(const char* path, char* buffer, size_t size) {
    return invoke(SYS_readlinkat, currentDirectory, path, buffer, size);
}

// The kernel's getcwd: the C library's version allocates when the path is long or unreachable.
inline long getcwd(char* buffer, size_t size) {
    return invoke(SYS_getcwd, buffer, size);
}

inline long getpid() {
    return invoke(SYS_getpid);
}
inline long getppid() {
    return invoke(SYS_getppid);
}
inline long getresuid(uint32_t* real, uint32_t* effective, uint32_t* saved) {
    return invoke(SYS_getresuid, real, effective, saved);
}
inline long getresgid(uint32_t* real, uint32_t* effective, uint32_t* saved) {
    return invoke(SYS_getresgid, real, effective, saved);
}

inline constexpr int getSeccompRequest = 21; // PR_GET_SECCOMP
inline constexpr long seccompFilterMode = 2; // SECCOMP_MODE_FILTER

inline long seccompMode() {
    return invoke(SYS_prctl, getSeccompRequest, 0L, 0L, 0L, 0L);
}

inline void* mapAnonymous(size_t size) {
    const long result = invoke(SYS_mmap, static_cast<void*>(nullptr), size, 0x1 | 0x2, // RW
                               0x02 | 0x20, -1, 0L); // MAP_PRIVATE | MAP_ANONYMOUS
    return failed(result) ? nullptr : reinterpret_cast<void*>(result);
}

inline void unmap(void* address, size_t size) {
    invoke(SYS_munmap, address, size);
}

// The kernel's signal set: one bit per signal, signal n at bit n - 1.
using SignalSet = uint64_t;
inline constexpr SignalSet signalBit(int signal) {
    return SignalSet{1} << (signal - 1);
}

inline long sigprocmask(int how, const SignalSet* set, SignalSet* old) {
    return invoke(SYS_rt_sigprocmask, how, set, old, sizeof(SignalSet));
}

inline long sigpending(SignalSet* set) {
    return invoke(SYS_rt_sigpending, set, sizeof(SignalSet));
}

// Takes one pending signal of set without waiting; -EAGAIN when none is pending.
inline long takePendingSignal(const SignalSet* set) {
    const struct timespec now = {0, 0};
    return invoke(SYS_rt_sigtimedwait, set, static_cast<void*>(nullptr), &now, sizeof(SignalSet));
}

struct Limit {
    uint64_t soft;
    uint64_t hard;
};

inline long getLimit(int resource, Limit* limit) {
    return invoke(SYS_prlimit64, 0, resource, static_cast<void*>(nullptr), limit);
}

// The clock by the system call itself, never through the vDSO: a program may have unmapped or
// moved its vDSO (checkpoint/restore tools and some sandboxes do), and a call into where it
// was would fault in the program's own process.
inline long clockTime(clockid_t which, struct timespec* now) {
    return invoke(SYS_clock_gettime, which, now);
}

inline long execve(const char* path, char* const argv[], char* const envp[]) {
    return invoke(SYS_execve, path, argv, envp);
}

inline long execveat(int dirfd, const char* path, char* const argv[], char* const envp[],
                     int flags) {
    return invoke(SYS_execveat, dirfd, path, argv, envp, flags);
}

} // namespace ombrex::sys

#endif
