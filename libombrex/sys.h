// System calls of the record path, made through the C library's generic `syscall` entry,
// which is looked up on first use (see lookup.h) rather than imported: one entry point instead
// of a dozen wrappers keeps the load-time cost and the lookups at the first record small. All
// of these are async-signal-safe. Failure: -1, with errno set when the entry point was found.
#ifndef OMBREX_LIBOMBREX_SYS_H
#define OMBREX_LIBOMBREX_SYS_H

#include <stddef.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>

namespace ombrex::sys {

long call(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0);

// True when the last call failed because a signal interrupted it.
bool interrupted();

// Every argument travels as a long, as the generic entry point reads them.
template <typename T> long arg(T* pointer) {
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
    return call(number, arg(args)...);
}

inline constexpr int currentDirectory = -100; // AT_FDCWD

inline int open(const char* path, int flags) {
    return static_cast<int>(invoke(SYS_openat, currentDirectory, path, flags, 0));
}

inline ssize_t read(int fd, void* buffer, size_t count) {
    return invoke(SYS_read, fd, buffer, count);
}

inline ssize_t write(int fd, const void* buffer, size_t count) {
    return invoke(SYS_write, fd, buffer, count);
}

inline int close(int fd) {
    return static_cast<int>(invoke(SYS_close, fd));
}

inline int fstat(int fd, struct stat* status) {
    return static_cast<int>(invoke(SYS_fstat, fd, status));
}

// Keeps the descriptor only when path names a regular file, so that a FIFO, device or
// directory put in its place is passed over. -1 otherwise.
inline int openRegular(const char* path, int flags) {
    const int fd = sys::open(path, flags);
    if (fd < 0) {
        return -1;
    }
    struct stat status;
    if (sys::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        sys::close(fd);
        return -1;
    }
    return fd;
}

inline int socket(int domain, int type, int protocol) {
    return static_cast<int>(invoke(SYS_socket, domain, type, protocol));
}

inline ssize_t sendto(int fd, const void* buffer, size_t count, int flags,
                      const struct sockaddr* address, socklen_t addressLength) {
    return invoke(SYS_sendto, fd, buffer, count, flags, address, addressLength);
}

inline ssize_t readlink(const char* path, char* buffer, size_t size) {
    return invoke(SYS_readlinkat, currentDirectory, path, buffer, size);
}

// The kernel's getcwd: the C library's version allocates when the path is long or unreachable.
inline long getcwd(char* buffer, size_t size) {
    return invoke(SYS_getcwd, buffer, size);
}

inline int clockRealtime(struct timespec* now) {
    return static_cast<int>(invoke(SYS_clock_gettime, CLOCK_REALTIME, now));
}

inline long getpid() {
    return invoke(SYS_getpid);
}
inline long getppid() {
    return invoke(SYS_getppid);
}
inline long getuid() {
    return invoke(SYS_getuid);
}
inline long geteuid() {
    return invoke(SYS_geteuid);
}
inline long getgid() {
    return invoke(SYS_getgid);
}
inline long getegid() {
    return invoke(SYS_getegid);
}

} // namespace ombrex::sys

#endif
