// Who runs a program: the login user and session that the kernel's audit keeps for the
// process, its controlling terminal and its own program file. Read from /proc/self with plain
// system calls; anything unreadable stays unset.
#ifndef OMBREX_LIBOMBREX_FACTS_H
#define OMBREX_LIBOMBREX_FACTS_H

#include <limits.h>
#include <stdint.h>

#include "libombrex/held.h"
#include "libombrex/record.h"
#include "libombrex/texts.h"

namespace ombrex {

// "pts/4294967295" and "4095:1048575" fit.
inline constexpr size_t ttyNameCapacity = 24;

struct Known; // rules.h

// Sets facts.ses and tty, and auid and exe unless `known` holds them already (the rules read
// them): an id the kernel does not hold or that cannot be read is unsetId, a terminal that
// cannot be read "unknown", an unreadable program file null. The terminal's name goes to
// `tty`; the program's file is kept in `texts`, which has room for PATH_MAX bytes.
void readWho(ProcessFacts& facts, char (&tty)[ttyNameCapacity], TextArea& texts, const Known& known,
             Held& held);

// The login uid that the kernel's audit keeps for the process; unsetId when it holds none or
// it cannot be read.
uint32_t loginUid(Held& held);

// The target of the symbolic link at path, kept in `texts` (room for PATH_MAX bytes); null
// when it cannot be read. The kernel shows a process's program file and open files so.
const char* keepLinkTarget(const char* path, TextArea& texts);

// The name of a terminal from the device number that /proc/PID/stat gives as tty_nr: "none"
// for 0, "pts/N" for a pseudo-terminal, "ttyN" for a virtual console, "ttySN" for a serial
// port, "console" for the system console, and "MAJOR:MINOR" for any other device.
const char* ttyName(uint32_t device, char (&out)[ttyNameCapacity]);

// tty_nr, the seventh field of a /proc/PID/stat line; false when the text has none.
bool statTerminal(const char* text, size_t length, uint32_t& device);

} // namespace ombrex

#endif
