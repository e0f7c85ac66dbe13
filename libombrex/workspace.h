// Where a record is made: everything the record path needs beyond a few words of the caller's
// stack, which may be a thread's 16 KiB, a signal handler's alternate stack or a vfork child's
// borrowed one.
//
// One workspace is the library's own, in its zero-initialised data, together with the number
// of the last record: a record touches the page or two of it that its texts take, and the
// first record of a forked child touches no page of the library's but those. A thread or a
// signal handler that finds it taken (by another thread, or by the code it interrupted) gets
// an anonymous mapping of its own instead, unmapped when the record is done, so that no two
// records ever share one. It is never taken over: a forked child whose parent had another
// thread in the middle of a record, and the parent of a vfork child killed in the middle of
// one, find it taken for good and make their records in mappings: as correct, and a mapping
// dearer.
#ifndef OMBREX_LIBOMBREX_WORKSPACE_H
#define OMBREX_LIBOMBREX_WORKSPACE_H

#include <limits.h>
#include <stdint.h>

#include "libombrex/deliver.h"
#include "libombrex/facts.h"
#include "libombrex/options.h"
#include "libombrex/predict.h"
#include "libombrex/record.h"
#include "libombrex/rules.h"
#include "libombrex/writer.h"

namespace ombrex {

// How the record is laid out and handed to its destination: here rather than on the stack,
// under the frames that format it.
struct Layout {
    SyslogHeader header;
    Pieces pieces;
    RecordStyle style;
    RecordBytes bytes;
    // The pieces of the record: what it built, and the longer values that need no escape,
    // where the program keeps them.
    struct iovec iov[32];
};

// The fixed parts first, then the texts (texts.h), so that a typical record keeps to the
// first page.
struct Workspace {
    Options options;
    Known known; // what the rules read that the record shows too
    Target target;
    ProcessFacts facts;
    SearchSpace search;
    char tty[ttyNameCapacity];
    Layout layout;
    // Room for the longest of each text, in the order they are kept: the configuration, the
    // calling program's file, the file a search found, the working directory, the descriptor's
    // file, the absolute path, and the record.
    char texts[configTextCapacity + 1 + 4 * PATH_MAX + 2 * PATH_MAX + recordCapacity];
};

// The library's own workspace when it is free, else a new mapping; null when there is no
// memory for one.
Workspace* claimWorkspace();

// Gives the workspace back, or unmaps it.
void releaseWorkspace(Workspace* workspace);

// The number of the next record made in this program image. A forked child goes on from its
// parent's number, and a vfork child takes the next one in its parent's memory: either way no
// two records of one process id and image share a number.
uint64_t nextSequence();

} // namespace ombrex

#endif
