// The library's options: their defaults, the INI parser and the loader.
//
// The loader runs on the record path, so it reads the file with plain system calls into a
// buffer that the caller provides and keeps nothing between calls: a vfork child shares its
// parent's memory, and the file may change between two executions.
#ifndef OMBREX_LIBOMBREX_OPTIONS_H
#define OMBREX_LIBOMBREX_OPTIONS_H

#include <stddef.h>

namespace ombrex {

enum class Destination { syslog, file, none };

inline constexpr char defaultConfigPath[] = "/etc/ombrex.ini";
inline constexpr char configPathVariable[] = "OMBREX_CONFIG_FILE";

// At most this much of the configuration file is read; a line cut by the limit is ignored.
inline constexpr size_t configTextCapacity = 4096;

// A tag must fit the syslog header: letters, digits, '.', '_' and '-', at most 32 of them.
inline constexpr size_t maxTagLength = 32;

// Plain data: every field is set by setDefaults(), so no constructor ever runs.
struct Options {
    Destination destination;
    const char* file;         // absolute path of an existing regular file
    const char* syslogSocket; // absolute path of a datagram socket
    int facility;             // syslog facility code
    const char* tag;
};

void setDefaults(Options& options);

// Parses INI text in place (values are NUL-terminated inside it, and options point into it);
// text[length] must be writable.
// Only the [ombrex] section counts; an unknown key is ignored, an invalid value leaves the
// option at its default, and a later line overrides an earlier one.
void parseOptions(char* text, size_t length, Options& options);

// The configuration file in use: the environment override for unprivileged processes,
// otherwise the built-in path.
const char* configPath();

// Sets the defaults, then reads and parses the file at path. `text` must hold
// configTextCapacity + 1 bytes and outlive `options`. True if the file was read; a missing,
// unreadable or non-regular file leaves the defaults.
bool loadOptions(const char* path, char* text, Options& options);

// Option names in listing order, terminated by an empty name.
inline constexpr char optionNames[][16] = {
    "destination", "file", "syslog_socket", "syslog_facility", "syslog_tag", "",
};
inline constexpr size_t optionCount = sizeof optionNames / sizeof optionNames[0] - 1;

// The value of a named option as text (static or inside the loaded text), or null for an
// unknown name.
const char* optionValue(const Options& options, const char* name);
const char* optionDefault(const char* name);
const char* optionDescription(const char* name);

const char* facilityName(int facility);

} // namespace ombrex

#endif
