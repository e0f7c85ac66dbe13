// The interposed exec family. Each entry point writes one record for the program it starts, or
// for the start that the kernel refused, and does exactly what the C library's definition
// does, with errno as the C library leaves it. An exec that succeeds never returns, so its
// record comes before the call; one that is expected to fail is made first and recorded after
// (record.h). posix_spawn and posix_spawnp return in any case and are recorded after the call,
// which names the new process.
//
// The C library's own execv, execvp, posix_spawn and friends reach the kernel without going
// through the exported execve, so each needs a wrapper of its own, and none of the wrappers
// calls another: every call is recorded exactly once.
//
// execve, execv, execl, execle and fexecve are async-signal-safe, and programs call them from
// signal handlers and from children of multi-threaded parents. They make the system call
// themselves, the way the C library's versions do, and set errno as those do: no symbol
// lookup, lock or allocation on their path, ever. The others are not async-signal-safe in the
// C library either, and call its definition, found on first use (lookup.h).
//
// <unistd.h> and <spawn.h> are deliberately not included: they declare these functions
// nonnull, and the wrappers must handle a null argument vector instead of trusting that.

#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stddef.h>
#include <sys/types.h>

#include "libombrex/bytes.h"
#include "libombrex/export.h"
#include "libombrex/held.h"
#include "libombrex/lookup.h"
#include "libombrex/record.h"
#include "libombrex/sys.h"

extern "C" {
extern char** environ;

// The interposed entry points, declared here without the C library's nonnull markings.
int execve(const char* path, char* const argv[], char* const envp[]);
int execv(const char* path, char* const argv[]);
int execvp(const char* file, char* const argv[]);
int execvpe(const char* file, char* const argv[], char* const envp[]);
int fexecve(int fd, char* const argv[], char* const envp[]);
int execveat(int dirfd, const char* path, char* const argv[], char* const envp[], int flags);
int execl(const char* path, const char* arg, ...);
int execlp(const char* file, const char* arg, ...);
int execle(const char* path, const char* arg, ...);
int posix_spawn(pid_t* pid, const char* path, const void* fileActions, const void* attributes,
                char* const argv[], char* const envp[]);
int posix_spawnp(pid_t* pid, const char* file, const void* fileActions, const void* attributes,
                 char* const argv[], char* const envp[]);

// The definitions that the lookups must not lead back to: hidden aliases (at the end), so
// comparing with them needs no relocation and no other object can interpose them.
int ombrexOwnExecvp(const char*, char* const*);
int ombrexOwnExecvpe(const char*, char* const*, char* const*);
int ombrexOwnExecveat(int, const char*, char* const*, char* const*, int);
int ombrexOwnPosixSpawn(pid_t*, const char*, const void*, const void*, char* const*, char* const*);
int ombrexOwnPosixSpawnp(pid_t*, const char*, const void*, const void*, char* const*, char* const*);
}

namespace {

using ExecveFn = int (*)(const char*, char* const*, char* const*);
using ExecvFn = int (*)(const char*, char* const*);
using ExecveatFn = int (*)(int, const char*, char* const*, char* const*, int);
using SpawnFn = int (*)(pid_t*, const char*, const void*, const void*, char* const*, char* const*);

template <typename Fn> Fn next(ombrex::Symbol slot, const char* name, Fn self) {
    return reinterpret_cast<Fn>(
        ombrex::nextSymbol(slot, name, reinterpret_cast<const void*>(self)));
}

// A call that names its file: a path resolved against the working directory, or a name that
// is searched along PATH. posix_spawn and posix_spawnp are recorded once the call returned.
ombrex::ExecEvent namedEvent(const char* call, const char* file, char* const* argv,
                             ombrex::Search search, bool spawn = false) {
    return ombrex::ExecEvent{call, file, argv, -1, ombrex::sys::currentDirectory, 0, search, spawn};
}

int fail(int error) {
    errno = error;
    return -1;
}

// An exec system call returns only when it failed.
int execResult(long result) {
    return fail(static_cast<int>(-result));
}

// After the call returned: the descriptors that the record before it held (held.h), then the
// record of a refused call, whose own descriptors go at once.
__attribute__((always_inline)) inline void afterExec(const ombrex::ExecEvent& event, bool after,
                                                     int error, ombrex::Held& held) {
    held.closeAll();
    if (after) {
        ombrex::recordRefusedExec(event, error, held);
        held.closeAll();
    }
}

// The async-signal-safe entry points: the record, then the system call itself. Inline, as
// the record path's frames stand on the entry point's.
__attribute__((always_inline)) inline int runExecve(const ombrex::ExecEvent& event,
                                                    const char* path, char* const argv[],
                                                    char* const envp[]) {
    ombrex::Held held;
    const bool after = ombrex::recordBeforeExec(event, held);
    const long result = ombrex::sys::execve(path, argv, envp);
    afterExec(event, after, static_cast<int>(-result), held);
    return execResult(result);
}

// The entry points that call the C library's definition, which sets errno.
template <typename Call>
__attribute__((always_inline)) inline int runLibraryExec(const ombrex::ExecEvent& event,
                                                         Call call) {
    ombrex::Held held;
    const bool after = ombrex::recordBeforeExec(event, held);
    const int result = call();
    afterExec(event, after, errno, held);
    return result;
}

// posix_spawn and posix_spawnp, recorded once the call returned. The record names the new
// process, so the library asks for its id even when the caller does not.
template <typename Call> int runSpawn(const ombrex::ExecEvent& event, pid_t* pid, Call call) {
    pid_t child = -1;
    pid_t* const where = pid != nullptr ? pid : &child;
    const int error = call(where);
    ombrex::Held held;
    ombrex::recordSpawn(event, error, error == 0 ? *where : -1, held);
    held.closeAll();
    return error;
}

// Counts the list that starts with first and ends with a null pointer; the C library refuses
// a list of INT_MAX arguments or more with E2BIG, and so does this count.
size_t countList(const char* first, va_list arguments) {
    size_t count = 0;
    for (const char* a = first; a != nullptr && count < INT_MAX;
         a = va_arg(arguments, const char*)) {
        ++count;
    }
    return count;
}

// Fills argv (count + 1 entries) from the list and returns what follows its null pointer.
char* const* fillList(char** argv, size_t count, const char* first, va_list arguments) {
    argv[0] = const_cast<char*>(first);
    for (size_t i = 1; i < count; ++i) {
        argv[i] = va_arg(arguments, char*);
    }
    argv[count] = nullptr;
    if (count > 0) {
        (void)va_arg(arguments, char*); // the terminating null pointer
    }
    return va_arg(arguments, char* const*);
}

// The C library's fexecve: execveat on the descriptor itself, and where the kernel lacks
// execveat, the descriptor's name under /proc, with ENOSYS when /proc is not mounted. A frame
// of its own, which the record path, running before it, does not stand on.
__attribute__((noinline)) int fexecveCall(int fd, char* const argv[], char* const envp[]) {
    const long result = ombrex::sys::execveat(fd, "", argv, envp, ombrex::sys::emptyPath);
    if (result != -ENOSYS) {
        return execResult(result);
    }
    ombrex::DescriptorPath path;
    int error =
        static_cast<int>(-ombrex::sys::execve(ombrex::descriptorPath(path, fd), argv, envp));
    struct stat status;
    if (ombrex::sys::stat("/proc/self/fd", &status) == -ENOENT) {
        error = ENOSYS;
    }
    return fail(error);
}

} // namespace

namespace {

int realExecvp(const char* file, char* const argv[]) {
    if (const auto fn = next<ExecvFn>(ombrex::Symbol::Execvp, "execvp", &ombrexOwnExecvp)) {
        return fn(file, argv);
    }
    return fail(ENOSYS);
}

} // namespace

extern "C" {

OMBREX_EXPORT int execve(const char* path, char* const argv[], char* const envp[]) {
    return runExecve(namedEvent("execve", path, argv, ombrex::Search::None), path, argv, envp);
}

OMBREX_EXPORT int execv(const char* path, char* const argv[]) {
    return runExecve(namedEvent("execv", path, argv, ombrex::Search::None), path, argv, environ);
}

OMBREX_EXPORT int execvp(const char* file, char* const argv[]) {
    return runLibraryExec(namedEvent("execvp", file, argv, ombrex::Search::Path),
                          [&] { return realExecvp(file, argv); });
}

OMBREX_EXPORT int execvpe(const char* file, char* const argv[], char* const envp[]) {
    return runLibraryExec(namedEvent("execvpe", file, argv, ombrex::Search::Path), [&] {
        if (const auto fn = next<ExecveFn>(ombrex::Symbol::Execvpe, "execvpe", &ombrexOwnExecvpe)) {
            return fn(file, argv, envp);
        }
        return fail(ENOSYS);
    });
}

OMBREX_EXPORT int fexecve(int fd, char* const argv[], char* const envp[]) {
    // The C library refuses these before anything reaches the kernel: there is nothing to run.
    if (fd < 0 || argv == nullptr || envp == nullptr) {
        return fail(EINVAL);
    }
    const ombrex::ExecEvent event{
        "fexecve", "", argv, fd, fd, ombrex::sys::emptyPath, ombrex::Search::None, false};
    ombrex::Held held;
    const bool after = ombrex::recordBeforeExec(event, held);
    const int result = fexecveCall(fd, argv, envp);
    afterExec(event, after, errno, held);
    return result;
}

OMBREX_EXPORT int execveat(int dirfd, const char* path, char* const argv[], char* const envp[],
                           int flags) {
    const ombrex::ExecEvent event{"execveat",
                                  path,
                                  argv,
                                  dirfd == ombrex::sys::currentDirectory ? -1 : dirfd,
                                  dirfd,
                                  flags,
                                  ombrex::Search::None,
                                  false};
    return runLibraryExec(event, [&] {
        if (const auto fn =
                next<ExecveatFn>(ombrex::Symbol::Execveat, "execveat", &ombrexOwnExecveat)) {
            return fn(dirfd, path, argv, envp, flags);
        }
        return execResult(ombrex::sys::execveat(dirfd, path, argv, envp, flags));
    });
}

// The argument arrays below are sized by the caller's own list and built in the caller's
// frame, as the C library builds them: the one place where the stack used grows with the
// input, exactly as much as without the library.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstack-usage="
#endif

OMBREX_EXPORT int execl(const char* path, const char* arg, ...) {
    va_list arguments;
    va_start(arguments, arg);
    const size_t count = countList(arg, arguments);
    va_end(arguments);
    if (count >= INT_MAX) {
        return fail(E2BIG);
    }
    auto** argv = static_cast<char**>(__builtin_alloca((count + 1) * sizeof(char*)));
    va_start(arguments, arg);
    fillList(argv, count, arg, arguments);
    va_end(arguments);
    return runExecve(namedEvent("execl", path, argv, ombrex::Search::None), path, argv, environ);
}

OMBREX_EXPORT int execlp(const char* file, const char* arg, ...) {
    va_list arguments;
    va_start(arguments, arg);
    const size_t count = countList(arg, arguments);
    va_end(arguments);
    if (count >= INT_MAX) {
        return fail(E2BIG);
    }
    auto** argv = static_cast<char**>(__builtin_alloca((count + 1) * sizeof(char*)));
    va_start(arguments, arg);
    fillList(argv, count, arg, arguments);
    va_end(arguments);
    return runLibraryExec(namedEvent("execlp", file, argv, ombrex::Search::Path),
                          [&] { return realExecvp(file, argv); });
}

OMBREX_EXPORT int execle(const char* path, const char* arg, ...) {
    va_list arguments;
    va_start(arguments, arg);
    const size_t count = countList(arg, arguments);
    va_end(arguments);
    if (count >= INT_MAX) {
        return fail(E2BIG);
    }
    auto** argv = static_cast<char**>(__builtin_alloca((count + 1) * sizeof(char*)));
    va_start(arguments, arg);
    char* const* const envp = fillList(argv, count, arg, arguments);
    va_end(arguments);
    return runExecve(namedEvent("execle", path, argv, ombrex::Search::None), path, argv, envp);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// NOLINTNEXTLINE(readability-function-size): the C library fixes the six parameters.
OMBREX_EXPORT int posix_spawn(pid_t* pid, const char* path, const void* fileActions,
                              const void* attributes, char* const argv[], char* const envp[]) {
    const auto fn = next<SpawnFn>(ombrex::Symbol::PosixSpawn, "posix_spawn", &ombrexOwnPosixSpawn);
    if (fn == nullptr) {
        return ENOSYS;
    }
    return runSpawn(
        namedEvent("posix_spawn", path, argv, ombrex::Search::None, true), pid,
        [&](pid_t* where) { return fn(where, path, fileActions, attributes, argv, envp); });
}

// NOLINTNEXTLINE(readability-function-size): the C library fixes the six parameters.
OMBREX_EXPORT int posix_spawnp(pid_t* pid, const char* file, const void* fileActions,
                               const void* attributes, char* const argv[], char* const envp[]) {
    const auto fn =
        next<SpawnFn>(ombrex::Symbol::PosixSpawnp, "posix_spawnp", &ombrexOwnPosixSpawnp);
    if (fn == nullptr) {
        return ENOSYS;
    }
    return runSpawn(
        namedEvent("posix_spawnp", file, argv, ombrex::Search::Path, true), pid,
        [&](pid_t* where) { return fn(where, file, fileActions, attributes, argv, envp); });
}

int ombrexOwnExecvp(const char*, char* const*)
    __attribute__((alias("execvp"), visibility("hidden")));
int ombrexOwnExecvpe(const char*, char* const*, char* const*)
    __attribute__((alias("execvpe"), visibility("hidden")));
int ombrexOwnExecveat(int, const char*, char* const*, char* const*, int)
    __attribute__((alias("execveat"), visibility("hidden")));
int ombrexOwnPosixSpawn(pid_t*, const char*, const void*, const void*, char* const*, char* const*)
    __attribute__((alias("posix_spawn"), visibility("hidden")));
int ombrexOwnPosixSpawnp(pid_t*, const char*, const void*, const void*, char* const*, char* const*)
    __attribute__((alias("posix_spawnp"), visibility("hidden")));

} // extern "C"
