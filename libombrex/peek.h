// What the record path decides before it touches any memory of its own: whether the
// configuration turns recording off, and whether a rule leaves this execution out (rules.h). A
// small file is read and parsed right on the stack, in a frame that is gone before a record is
// made, so that either answer ends the record path after a few system calls and without
// touching a page. When the path goes on, the parsed text moves to the record's workspace,
// so that the file is read once. A larger file, or a rule that needs more room, is left to
// the record path, which reads the file into the workspace.
#ifndef OMBREX_LIBOMBREX_PEEK_H
#define OMBREX_LIBOMBREX_PEEK_H

#include <stddef.h>
#include <stdint.h>

#include "libombrex/held.h"
#include "libombrex/record.h"
#include "libombrex/workspace.h"

namespace ombrex {

// The largest configuration file read on the stack.
inline constexpr size_t peekCapacity = 255;

// The configuration file, open when it is trusted and still to be read, and what it already
// decided.
struct ConfigPeek {
    Workspace* workspace; // when `read`: with its options, what the rules read, and
                          // peekTextSize bytes of the text
    int fd;               // -1: no trusted file (the defaults apply), or read already
    uint32_t size;        // its size, up to configTextCapacity + 1
    unsigned pending;     // the kinds of rule still to be checked, as rules.h numbers them
    bool off;             // recording is off, or this execution is left out: the path ends here
    bool read;            // the file was read here: `workspace` holds its options, if any
};

// What the peek reads the file into, and moves to the workspace.
inline constexpr size_t peekTextSize = peekCapacity + 2;

// Opens the configuration file and, when it is small, reads and parses it, checks what it
// turns off and the rules that can be decided with the little room there is. A file that it
// did not read stays open, for the full read into the workspace. Descriptors that it is done
// with go to `held`.
ConfigPeek peekConfig(bool sandboxed, const ExecEvent& event, Held& held);

} // namespace ombrex

#endif
