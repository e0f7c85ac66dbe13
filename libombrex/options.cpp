#include "libombrex/options.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "libombrex/bytes.h"
#include "libombrex/sys.h"

namespace ombrex {

namespace {

constexpr char defaultFile[] = "/var/log/ombrex.log";
constexpr char defaultSocket[] = "/dev/log";
constexpr char defaultTag[] = "ombrex";
constexpr char defaultSyslogWaitText[] = "1000";
static_assert(defaultSyslogWaitMs == 1000);
// Command lines can carry secrets, so by default they go where only administrators read.
constexpr int defaultFacility = 10; // authpriv

// Names and codes side by side as plain arrays: a table of pointers would cost relocations at
// every load of the library.
constexpr char facilityNames[][10] = {
    "user",   "mail",   "daemon",   "auth",   "syslog", "lpr",    "news",
    "uucp",   "cron",   "authpriv", "ftp",    "local0", "local1", "local2",
    "local3", "local4", "local5",   "local6", "local7",
};
constexpr int facilityCodes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16, 17, 18, 19, 20, 21, 22, 23};
static_assert(sizeof facilityNames / sizeof facilityNames[0] ==
              sizeof facilityCodes / sizeof facilityCodes[0]);

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(const char* a, const char* b) {
    while (*a != 0 && lower(*a) == lower(*b)) {
        ++a;
        ++b;
    }
    return lower(*a) == lower(*b);
}

// Trims blanks on both ends of [begin, end) and NUL-terminates; returns the new begin.
char* trim(char* begin, char* end) {
    while (begin < end && isBlank(*begin)) {
        ++begin;
    }
    while (end > begin && isBlank(end[-1])) {
        --end;
    }
    *end = 0;
    return begin;
}

bool isAbsolutePath(const char* value) {
    return value[0] == '/';
}

bool isValidTag(const char* value) {
    size_t length = 0;
    for (; value[length] != 0; ++length) {
        const char c = value[length];
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!allowed || length == maxTagLength) {
            return false;
        }
    }
    return length > 0;
}

// A decimal number from 0 to maxSyslogWaitMs, digits only; -1 for anything else.
long waitMilliseconds(const char* value) {
    long number = 0;
    size_t digits = 0;
    for (; value[digits] != 0; ++digits) {
        const char c = value[digits];
        if (c < '0' || c > '9' || digits == 5) {
            return -1;
        }
        number = number * 10 + (c - '0');
    }
    return digits > 0 && number <= static_cast<long>(maxSyslogWaitMs) ? number : -1;
}

void setWait(Options& options, unsigned milliseconds) {
    options.syslogWaitMs = milliseconds;
    char digits[8];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + milliseconds % 10);
        milliseconds /= 10;
    } while (milliseconds != 0);
    size_t at = 0;
    while (n > 0) {
        options.syslogWaitText[at++] = digits[--n];
    }
    options.syslogWaitText[at] = 0;
}

int facilityCode(const char* name) {
    for (size_t i = 0; i < sizeof facilityCodes / sizeof facilityCodes[0]; ++i) {
        if (equalsIgnoringCase(name, facilityNames[i])) {
            return facilityCodes[i];
        }
    }
    return -1;
}

// The options whose value is one of a few words, in any case; false for any other key.
bool applyChoice(Options& options, const char* key, const char* value) {
    if (sameText(key, "destination")) {
        if (equalsIgnoringCase(value, "syslog")) {
            options.destination = Destination::syslog;
        } else if (equalsIgnoringCase(value, "file")) {
            options.destination = Destination::file;
        } else if (equalsIgnoringCase(value, "none")) {
            options.destination = Destination::none;
        }
        return true;
    }
    if (sameText(key, "format")) {
        if (equalsIgnoringCase(value, "kv")) {
            options.format = Format::kv;
        } else if (equalsIgnoringCase(value, "json")) {
            options.format = Format::json;
        }
        return true;
    }
    if (sameText(key, "sandboxed")) {
        if (equalsIgnoringCase(value, "skip")) {
            options.sandboxed = Sandboxed::skip;
        } else if (equalsIgnoringCase(value, "record")) {
            options.sandboxed = Sandboxed::record;
        }
        return true;
    }
    return false;
}

void applyOption(Options& options, const char* key, char* value) {
    if (applyChoice(options, key, value)) {
        return;
    }
    if (sameText(key, "file")) {
        if (isAbsolutePath(value)) {
            options.file = value;
        }
    } else if (sameText(key, "syslog_socket")) {
        if (isAbsolutePath(value) && textLength(value) < sizeof(sockaddr_un::sun_path)) {
            options.syslogSocket = value;
        }
    } else if (sameText(key, "syslog_facility")) {
        const int code = facilityCode(value);
        if (code >= 0) {
            options.facility = code;
        }
    } else if (sameText(key, "syslog_tag")) {
        if (isValidTag(value)) {
            options.tag = value;
        }
    } else if (sameText(key, "syslog_wait_ms")) {
        const long milliseconds = waitMilliseconds(value);
        if (milliseconds >= 0) {
            setWait(options, static_cast<unsigned>(milliseconds));
        }
    }
}

// Cuts a comment that starts after a blank (`file = /x ; note`); a ';' or '#' inside a word
// belongs to the value.
char* stripTrailingComment(char* begin, char* end) {
    for (char* p = begin; p < end; ++p) {
        if ((*p == ';' || *p == '#') && p > begin && isBlank(p[-1])) {
            return p;
        }
    }
    return end;
}

} // namespace

void setDefaults(Options& options) {
    options.destination = Destination::syslog;
    options.format = Format::kv;
    options.file = defaultFile;
    options.syslogSocket = defaultSocket;
    options.facility = defaultFacility;
    options.tag = defaultTag;
    setWait(options, defaultSyslogWaitMs);
    options.sandboxed = builtInSandboxed;
}

void parseOptions(char* text, size_t length, Options& options) {
    char* const end = text + length;
    bool inSection = false;
    char* line = text;
    while (line < end) {
        char* lineEnd = findByte(line, end, '\n');
        if (lineEnd == nullptr) {
            lineEnd = end;
        }
        char* const next = lineEnd < end ? lineEnd + 1 : end;
        // A NUL in the file would end a value early; the line is not trusted at all.
        if (findByte(line, lineEnd, 0) != nullptr) {
            line = next;
            continue;
        }
        char* const content = trim(line, lineEnd);
        if (content[0] == '[') {
            char* const close = findByte(content, content + textLength(content), ']');
            if (close != nullptr) {
                char* const name = trim(content + 1, close);
                inSection = sameText(name, "ombrex");
            }
        } else if (inSection && content[0] != ';' && content[0] != '#') {
            char* const equals = findByte(content, content + textLength(content), '=');
            if (equals != nullptr) {
                // The value first: trimming the key writes its terminator over the '='.
                char* const valueBegin = equals + 1;
                char* const valueEnd =
                    stripTrailingComment(valueBegin, valueBegin + textLength(valueBegin));
                char* const value = trim(valueBegin, valueEnd);
                char* const key = trim(content, equals);
                applyOption(options, key, value);
            }
        }
        line = next;
    }
}

const char* configPath() {
    return OMBREX_CONFIG_PATH;
}

bool isTrustedConfig(const struct stat& status) {
    return S_ISREG(status.st_mode) && status.st_uid == 0 &&
           (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

size_t readConfigText(int fd, char* text, size_t size) {
    size_t length = 0;
    bool cut = false;
    while (size == 0 || length < size || size > configTextCapacity) {
        const long got =
            sys::pread(fd, text + length, configTextCapacity - length, static_cast<long>(length));
        if (got == -EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        length += static_cast<size_t>(got);
        if (length == configTextCapacity) {
            char probe;
            cut = sys::pread(fd, &probe, 1, static_cast<long>(length)) > 0;
            break;
        }
    }
    if (cut) {
        // The last line may be incomplete: half a path is worse than the default.
        char* const lastNewline = findLastByte(text, text + length, '\n');
        length = lastNewline != nullptr ? static_cast<size_t>(lastNewline - text) : 0;
    }
    text[length] = 0;
    return length;
}

int openConfig(const char* path, size_t& size) {
    // Non-blocking, so that a FIFO in place of the file cannot stall the program.
    const int fd = sys::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (sys::failed(fd)) {
        return -1;
    }
    struct stat status;
    if (sys::failed(sys::fstat(fd, &status)) || !isTrustedConfig(status)) {
        sys::close(fd);
        return -1;
    }
    size = static_cast<size_t>(status.st_size);
    return fd;
}

size_t loadOptionsFrom(int fd, size_t size, char* text, Options& options) {
    setDefaults(options);
    const size_t length = readConfigText(fd, text, size);
    parseOptions(text, length, options);
    return length;
}

bool loadOptions(const char* path, char* text, Options& options, size_t* kept) {
    setDefaults(options);
    if (kept != nullptr) {
        *kept = 0;
    }
    size_t size = 0;
    const int fd = openConfig(path, size);
    if (fd < 0) {
        return false;
    }
    const size_t length = loadOptionsFrom(fd, size, text, options);
    sys::close(fd);
    if (kept != nullptr) {
        *kept = length;
    }
    return true;
}

const char* facilityName(int facility) {
    for (size_t i = 0; i < sizeof facilityCodes / sizeof facilityCodes[0]; ++i) {
        if (facilityCodes[i] == facility) {
            return facilityNames[i];
        }
    }
    return "";
}

const char* optionValue(const Options& options, const char* name) {
    if (sameText(name, "destination")) {
        switch (options.destination) {
        case Destination::syslog:
            return "syslog";
        case Destination::file:
            return "file";
        case Destination::none:
            return "none";
        }
        return "";
    }
    if (sameText(name, "format")) {
        return options.format == Format::json ? "json" : "kv";
    }
    if (sameText(name, "file")) {
        return options.file;
    }
    if (sameText(name, "syslog_socket")) {
        return options.syslogSocket;
    }
    if (sameText(name, "syslog_facility")) {
        return facilityName(options.facility);
    }
    if (sameText(name, "syslog_tag")) {
        return options.tag;
    }
    if (sameText(name, "syslog_wait_ms")) {
        return options.syslogWaitText;
    }
    if (sameText(name, "sandboxed")) {
        return options.sandboxed == Sandboxed::record ? "record" : "skip";
    }
    return nullptr;
}

const char* optionDefault(const char* name) {
    // The one value that lives in the options themselves, which are gone on return.
    if (sameText(name, "syslog_wait_ms")) {
        return defaultSyslogWaitText;
    }
    Options defaults;
    setDefaults(defaults);
    return optionValue(defaults, name);
}

const char* optionDescription(const char* name) {
    if (sameText(name, "destination")) {
        return "where records go: syslog, file or none";
    }
    if (sameText(name, "format")) {
        return "how a record is written: kv (key=value fields) or json (one JSON object)";
    }
    if (sameText(name, "file")) {
        return "existing regular file that records are appended to when destination is file";
    }
    if (sameText(name, "syslog_socket")) {
        return "datagram socket of the system log";
    }
    if (sameText(name, "syslog_facility")) {
        return "syslog facility of the records";
    }
    if (sameText(name, "syslog_tag")) {
        return "syslog tag of the records";
    }
    if (sameText(name, "syslog_wait_ms")) {
        return "longest wait in milliseconds for room in the system log's queue; 0: no wait";
    }
    if (sameText(name, "sandboxed")) {
        return "whether a process under a seccomp filter is recorded: skip or record";
    }
    return nullptr;
}

} // namespace ombrex
