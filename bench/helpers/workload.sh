#!/bin/bash
# The workload of bench/workload: programs of the system, started the ways real software
# starts them. It runs twice, in the same directory and with the same environment, so it does
# the same executions each time; everything it prints is thrown away.
#
#   workload.sh WORK_DIRECTORY HELPERS_DIRECTORY
set -eu
cd "$1"
helpers=$2

# Shell pipelines, and a shell started by a shell.
seq 1 300 | sort -rn | head -n 3 | tr '\n' ' ' | wc -c >/dev/null
printf 'alpha beta\ngamma\n' | sed 's/a/A/g' | awk '{ print NF }' | sort -u >/dev/null
ls -l /usr/bin | grep -c '^-' | cat >/dev/null
sh -c 'uname -m; date -u +%Y | cut -c1-2' >/dev/null

# make driving the compiler on a small project.
mkdir project
cat >project/greet.h <<'C'
int greet(const char* name);
int count(int n);
C
cat >project/main.c <<'C'
#include "greet.h"
int main(void) { return greet("bench") + count(3) == 8 ? 0 : 1; }
C
cat >project/greet.c <<'C'
#include "greet.h"
#include <string.h>
int greet(const char* name) { return (int)strlen(name); }
C
cat >project/count.c <<'C'
#include "greet.h"
int count(int n) { return n > 0 ? n : 0; }
C
cat >project/Makefile <<'MAKE'
CFLAGS = -O1 -Wall
objects = main.o greet.o count.o
hello: $(objects)
	$(CC) -o $@ $(objects)
%.o: %.c greet.h
	$(CC) $(CFLAGS) -c -o $@ $<
MAKE
make -s -j2 -C project CC=cc >/dev/null

# Python's subprocess, which searches PATH itself.
python3 - <<'PY'
import subprocess
subprocess.run(["git", "--version"], stdout=subprocess.DEVNULL, check=True)
subprocess.run(["uname", "-r"], stdout=subprocess.DEVNULL, check=True)
subprocess.check_output(["sort"], input=b"b\na\n")
subprocess.run("ls project | wc -l", shell=True, stdout=subprocess.DEVNULL, check=True)
PY

# find -exec, one program per file and one for all.
find project -name '*.c' -exec wc -l {} \; >/dev/null
find project -name '*.h' -exec grep -c int {} + >/dev/null

# xargs.
printf '%s\n' one two three four five | xargs -n 2 echo >/dev/null
find project -name '*.c' -print0 | xargs -0 -n 1 basename >/dev/null

# git in a scratch repository.
git init -q repo
cp project/*.c project/*.h repo/
git -C repo add .
git -C repo -c user.name=Bench -c user.email=bench@example.invalid commit -q -m first >/dev/null
git -C repo log --oneline | wc -l >/dev/null
git -C repo status --short >/dev/null

# A script run by its path.
cat >tool.sh <<'SH'
#!/bin/sh
wc -l <"$1" | tr -d ' '
basename "$1" .c
SH
chmod +x tool.sh
./tool.sh project/main.c >/dev/null

# perl's system(), with and without a shell, and a program that does not exist.
perl -e 'system("true") == 0 or die;
         system("sh", "-c", "exit 0") == 0 or die;
         system("ls project | wc -l >/dev/null") == 0 or die;
         system("no-such-program-ombrex");' 2>/dev/null

# Calls the kernel refuses: a file without execute permission (EACCES), and one without a
# #! line (ENOEXEC; the shell then reads it itself); and a name found nowhere along PATH.
printf 'echo never\n' >noexec.sh
./noexec.sh 2>/dev/null || true
printf 'echo run by the shell itself\n' >noshebang
chmod +x noshebang
./noshebang >/dev/null
env no-such-program-ombrex 2>/dev/null || true

# A statically linked caller: its execution is the kernel's to see, nobody's to record.
"$helpers/static-exec" ombrex-static-caller
