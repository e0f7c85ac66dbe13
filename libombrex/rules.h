// The rules that leave executions out of the record: by the program that is run
// (skip_program), by the calling program (skip_exe), by the real user id (skip_uid) and by the
// login user id (skip_auid). An execution that any rule matches leaves no record, and the
// record path ends before it gathers a single fact of the record or opens its destination.
//
// A mistake must never silence recording: each value that the rules cannot read is dropped
// from its list when the file is parsed, and whatever cannot be decided (a path that cannot
// be read) is recorded.
#ifndef OMBREX_LIBOMBREX_RULES_H
#define OMBREX_LIBOMBREX_RULES_H

#include <stddef.h>
#include <stdint.h>

#include "libombrex/held.h"
#include "libombrex/options.h"
#include "libombrex/record.h"

namespace ombrex {

// What the values of a list option are.
enum class ListKind {
    Paths, // absolute paths or patterns (pattern.h)
    Uids,  // ids and ranges of ids, "1000" or "1000-1999"
    Auids, // the same, and "unset" for a process without a login uid
};

// Keeps, in place, the values of the list that are valid for its kind, one blank between
// each two; returns it. Values are separated by blanks and tabs.
char* keepValidValues(char* list, ListKind kind);

// The kinds of rule, as bits of a set, in the order they are checked: the cheapest first.
inline constexpr unsigned uidRules = 1;
inline constexpr unsigned auidRules = 2;
inline constexpr unsigned exeRules = 4;
inline constexpr unsigned programRules = 8;
inline constexpr unsigned allRules = 15;

// The kinds of rule that the options hold.
unsigned rulesOf(const Options& options);

// Room for the path that a rule compares: the calling program's, or the program's.
struct PathRoom {
    char* text;
    size_t capacity;
};

// What the rules read that the record shows too, so that the record need not read it again.
struct Known {
    const char* exeText; // null when it could not be read
    uint32_t auidValue;
    bool auid; // auidValue was read
    bool exe;  // the calling program's file was read into exeText
};

// What the rules are checked against, and what they read.
struct RuleCheck {
    const Options& options;
    const ExecEvent& event;
    Held& held;
    Known known;
};

// Checks the rules of the kinds in `pending` that can be decided now, reading only what they
// need, and takes each kind that does not match out of `pending`; true as soon as one
// matches, and the execution is then left out. A kind stays pending when its path does not
// fit the room (none at all: the rules on paths wait), or when the program is a name that
// only a PATH search will find: `found` is what the search settled on ("" for nothing), or
// null before the search. The calling program's file, once read, stays at the start of the
// room, and the rule on the program uses what follows it.
bool leftOut(RuleCheck& check, const char* found, PathRoom room, unsigned& pending);

} // namespace ombrex

#endif
