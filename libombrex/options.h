// The library's options: their defaults, the INI parser and the loader.
//
// The loader runs on the record path, so it reads the file with plain system calls into a
// buffer that the caller provides and keeps nothing between calls: a vfork child shares its
// parent's memory, and the file may change between two executions.
//
// Where the file is comes from the build alone, never from the environment: every process on
// the machine runs this code, root's processes too, with whatever environment a user gave
// them.
#ifndef OMBREX_LIBOMBREX_OPTIONS_H
#define OMBREX_LIBOMBREX_OPTIONS_H

#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

#include "library/ombrex.h"

#ifndef OMBREX_CONFIG_PATH
#error "OMBREX_CONFIG_PATH must name the configuration file (set by the build)"
#endif
#ifndef OMBREX_SANDBOXED_RECORD
#error "OMBREX_SANDBOXED_RECORD must be 0 or 1 (set by the build)"
#endif

namespace ombrex {

enum class Destination : uint8_t { Syslog, File, None };

// How a record is written: key=value fields, or one JSON object.
enum class Format : uint8_t { Kv, Json };

// Whether a process under a seccomp filter is recorded.
enum class Sandboxed : uint8_t { Skip, Record };

// The built-in value of the sandboxed option: what a process under a filter does before it
// could read the file (see record.cpp).
inline constexpr Sandboxed builtInSandboxed =
    OMBREX_SANDBOXED_RECORD ? Sandboxed::Record : Sandboxed::Skip;

// At most this much of the configuration file is read; a line cut by the limit is ignored.
inline constexpr size_t configTextCapacity = 4096;

// A tag must fit the syslog header: letters, digits, '.', '_' and '-', at most 32 of them.
inline constexpr size_t maxTagLength = 32;

// The longest that a record may wait for room in the system log's queue, in milliseconds:
// the kernel's audit backlog waits 60 s at most by default, and so may a record.
inline constexpr unsigned maxSyslogWaitMs = 60000;
inline constexpr unsigned defaultSyslogWaitMs = 1000;

// Plain data: every field is set by setDefaults(), so no constructor ever runs. The pointers
// first and the small fields together: the record path keeps one on the stack.
struct Options {
    const char* file;         // absolute path of an existing regular file
    const char* syslogSocket; // absolute path of a datagram socket
    const char* tag;
    // The rules that leave executions out (rules.h): lists of valid values, one blank between
    // each two; empty when there are none.
    const char* skipProgram;
    const char* skipExe;
    const char* skipUid;
    const char* skipAuid;
    int facility;           // syslog facility code
    unsigned syslogWaitMs;  // 0: never wait for room in the queue
    char syslogWaitText[8]; // syslogWaitMs in decimal, for the conf report
    Destination destination;
    Format format;
    Sandboxed sandboxed;
};

void setDefaults(Options& options);

// Parses INI text in place (values are NUL-terminated inside it, and options point into it);
// text[length] must be writable.
// Only the [ombrex] section counts; an unknown key is ignored, an invalid value leaves the
// option at its default, and a later line overrides an earlier one. The lists of the rules
// keep their valid values only (rules.h).
void parseOptions(char* text, size_t length, Options& options);

// The configuration file, fixed when the library is built.
const char* configPath();

// Whether a file with this status may configure the library: ConfigFileUsed for a regular
// file owned by root that neither its group nor others may write, else why not. Anything
// else could be a user's choice.
ConfigFileUse judgeConfig(const struct stat& status);

// Reads at most configTextCapacity bytes of fd, from its start, into text and NUL-terminates
// them; when the file is longer, the line that the limit cuts is left out. Returns the length
// kept. `size`, the file's size when known (else 0), spares the read that would only find the
// end.
size_t readConfigText(int fd, char* text, size_t size = 0);

// Opens the configuration file at path for reading when it is trusted, and sets size to its
// size; -1 when it is missing, unreadable or untrusted (the defaults apply then). `use`, when
// given, is set to the reason and `error` to the errno of a failed open.
int openConfig(const char* path, size_t& size, ConfigFileUse* use = nullptr, int* error = nullptr);

// Sets the defaults, then reads (readConfigText) and parses the file open as fd. Returns the
// length of the text kept, which options point into.
size_t loadOptionsFrom(int fd, size_t size, char* text, Options& options);

// Sets the defaults, then reads and parses the file at path if it is trusted. `text` must
// hold configTextCapacity + 1 bytes and outlive `options`; `length`, when given, is set to
// the length of the text kept there. True if the file was read; a missing, unreadable,
// non-regular or untrusted file leaves the defaults.
bool loadOptions(const char* path, char* text, Options& options, size_t* length = nullptr);

// The options that the file can set.
enum class Option {
    Destination,
    Format,
    File,
    SyslogSocket,
    SyslogFacility,
    SyslogTag,
    SyslogWaitMs,
    Sandboxed,
    SkipProgram,
    SkipExe,
    SkipUid,
    SkipAuid
};

// An option's name in the file and what conf says of it, in the order that conf lists them.
// Plain characters, not pointers: a table of pointers would cost relocations at every load
// of the library.
struct OptionEntry {
    Option option;
    char name[16];
    char description[80];
};

inline constexpr OptionEntry optionTable[] = {
    {Option::Destination, "destination", "where records go: syslog, file or none"},
    {Option::Format, "format",
     "how a record is written: kv (key=value fields) or json (one JSON object)"},
    {Option::File, "file",
     "existing regular file that records are appended to when destination is file"},
    {Option::SyslogSocket, "syslog_socket", "datagram socket of the system log"},
    {Option::SyslogFacility, "syslog_facility", "syslog facility of the records"},
    {Option::SyslogTag, "syslog_tag", "syslog tag of the records"},
    {Option::SyslogWaitMs, "syslog_wait_ms",
     "longest wait in milliseconds for room in the system log's queue; 0: no wait"},
    {Option::Sandboxed, "sandboxed",
     "whether a process under a seccomp filter is recorded: skip or record"},
    {Option::SkipProgram, "skip_program",
     "programs whose executions are not recorded: resolved paths or patterns"},
    {Option::SkipExe, "skip_exe",
     "calling programs whose executions are not recorded: paths or patterns"},
    {Option::SkipUid, "skip_uid", "real user ids whose executions are not recorded"},
    {Option::SkipAuid, "skip_auid", "login user ids whose executions are not recorded, or unset"},
};
inline constexpr size_t optionCount = sizeof optionTable / sizeof optionTable[0];

// The option of that name; false for an unknown name.
bool findOption(const char* name, Option& option);

// An option's value as text (static or inside the loaded text), and its default.
const char* optionValue(const Options& options, Option option);
const char* optionDefault(Option option);

// The value of the option of that name, or null for an unknown name.
const char* optionValue(const Options& options, const char* name);

} // namespace ombrex

#endif
