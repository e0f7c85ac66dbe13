/*
 * Shared by the bench helpers that measure: wall time, and the CPU time and page faults of a
 * process and of its children, counted the same way in each.
 */
#ifndef OMBREX_BENCH_HELPERS_USAGE_H
#define OMBREX_BENCH_HELPERS_USAGE_H

#include <sys/resource.h>
#include <sys/time.h>
#include <time.h>

static inline long long nowUs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

static inline long long microseconds(struct timeval t) {
    return (long long)t.tv_sec * 1000000 + t.tv_usec;
}

/* CPU time and page faults (minor faults: a page touched for the first time) of this process
 * and of its children that have been waited for. */
static inline void cpuUs(long long* user, long long* sys, long long* faults) {
    struct rusage self;
    struct rusage children;
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    *user = microseconds(self.ru_utime) + microseconds(children.ru_utime);
    *sys = microseconds(self.ru_stime) + microseconds(children.ru_stime);
    *faults = self.ru_minflt + children.ru_minflt;
}

#endif
