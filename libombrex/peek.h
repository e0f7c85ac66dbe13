// What the record path decides before it maps any memory: whether the configuration turns
// recording off, and whether a rule leaves this execution out (rules.h). A small file is read
// and parsed right on the stack, in a frame that is gone before a record is made, so that
// either answer ends the record path after a few system calls and without touching a page of
// memory. A larger file, or a rule that needs more room, is left to the record path, which
// reads the file into its mapping.
#ifndef OMBREX_LIBOMBREX_PEEK_H
#define OMBREX_LIBOMBREX_PEEK_H

#include <stddef.h>

#include "libombrex/record.h"

namespace ombrex {

// The largest configuration file read on the stack.
inline constexpr size_t peekCapacity = 255;

// The configuration file, open when it is trusted, and what it already decided.
struct ConfigPeek {
    int fd; // -1: no trusted file, the defaults apply
    size_t size;
    bool off;         // recording is off, or this execution is left out: the path ends here
    unsigned pending; // the kinds of rule still to be checked, as rules.h numbers them
};

// Opens the configuration file and, when it is small, reads and parses it, checks what it
// turns off and the rules that can be decided with the little room there is. The file stays
// open unless it ended the path, for the full read into the mapping.
ConfigPeek peekConfig(bool sandboxed, const ExecEvent& event);

} // namespace ombrex

#endif
