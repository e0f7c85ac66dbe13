/*
 * execl with 70,000 arguments after "count", for host_probe.c. A call of that size can only
 * be written out; the build compiles this file without optimisation, which would take the
 * compiler minutes over such a call.
 */
#include <unistd.h>

int probeExeclMany(const char* path, const char* argument);

#define A10(x) x, x, x, x, x, x, x, x, x, x
#define A100(x) A10(x), A10(x), A10(x), A10(x), A10(x), A10(x), A10(x), A10(x), A10(x), A10(x)
#define A1000(x)                                                                                   \
    A100(x), A100(x), A100(x), A100(x), A100(x), A100(x), A100(x), A100(x), A100(x), A100(x)
#define A10000(x)                                                                                  \
    A1000(x), A1000(x), A1000(x), A1000(x), A1000(x), A1000(x), A1000(x), A1000(x), A1000(x),      \
        A1000(x)

int probeExeclMany(const char* path, const char* argument) {
    return execl(path, path, "count", A10000(argument), A10000(argument), A10000(argument),
                 A10000(argument), A10000(argument), A10000(argument), A10000(argument),
                 (char*)NULL);
}
