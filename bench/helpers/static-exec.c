/*
 * Bench helper, linked statically: starts /bin/true with the given argument. No preloaded
 * library can be in a statically linked program, so its execution is the kernel's to see
 * and nobody's to record; the workload bench uses it to check that it tells such callers
 * apart.
 *
 *   static-exec ARGUMENT
 */
#include <unistd.h>

int main(int argc, char** argv) {
    char* arguments[] = {"true", argc > 1 ? argv[1] : "static", (char*)0};
    execv("/bin/true", arguments);
    return 127;
}
