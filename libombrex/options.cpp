#include "libombrex/options.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "libombrex/bytes.h"
#include "libombrex/rules.h"
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
    static_assert(maxSyslogWaitMs < 10'000'000, "the text holds 7 digits");
    options.syslogWaitMs = milliseconds;
    options.syslogWaitText[decimalText(options.syslogWaitText, milliseconds)] = 0;
}

int facilityCode(const char* name) {
    for (size_t i = 0; i < sizeof facilityCodes / sizeof facilityCodes[0]; ++i) {
        if (equalsIgnoringCase(name, facilityNames[i])) {
            return facilityCodes[i];
        }
    }
    return -1;
}

const char* facilityName(int facility) {
    for (size_t i = 0; i < sizeof facilityCodes / sizeof facilityCodes[0]; ++i) {
        if (facilityCodes[i] == facility) {
            return facilityNames[i];
        }
    }
    return "";
}

// The words of the options that take one of a few, in the order of their enumerators.
constexpr char destinationWords[][8] = {"syslog", "file", "none"};
constexpr char formatWords[][8] = {"kv", "json"};
constexpr char sandboxedWords[][8] = {"skip", "record"};

// Sets choice to the enumerator whose word the value is, in any case; leaves it otherwise.
template <typename Choice, size_t count>
void choose(Choice& choice, const char (&words)[count][8], const char* value) {
    for (size_t i = 0; i < count; ++i) {
        if (equalsIgnoringCase(value, words[i])) {
            choice = static_cast<Choice>(i);
            return;
        }
    }
}

template <typename Choice, size_t count>
const char* wordOf(Choice choice, const char (&words)[count][8]) {
    const auto i = static_cast<size_t>(choice);
    return i < count ? words[i] : "";
}

// An invalid value leaves the option as it was.
void applyOption(Options& options, Option option, char* value) {
    switch (option) {
    case Option::Destination:
        choose(options.destination, destinationWords, value);
        break;
    case Option::Format:
        choose(options.format, formatWords, value);
        break;
    case Option::File:
        options.file = isAbsolutePath(value) ? value : options.file;
        break;
    case Option::SyslogSocket:
        if (isAbsolutePath(value) && textLength(value) < sizeof(sockaddr_un::sun_path)) {
            options.syslogSocket = value;
        }
        break;
    case Option::SyslogFacility: {
        const int code = facilityCode(value);
        options.facility = code >= 0 ? code : options.facility;
        break;
    }
    case Option::SyslogTag:
        options.tag = isValidTag(value) ? value : options.tag;
        break;
    case Option::SyslogWaitMs: {
        const long milliseconds = waitMilliseconds(value);
        if (milliseconds >= 0) {
            setWait(options, static_cast<unsigned>(milliseconds));
        }
        break;
    }
    case Option::Sandboxed:
        choose(options.sandboxed, sandboxedWords, value);
        break;
    // The lists as written: keepValidLists checks the one each option ends with.
    case Option::SkipProgram:
        options.skipProgram = value;
        break;
    case Option::SkipExe:
        options.skipExe = value;
        break;
    case Option::SkipUid:
        options.skipUid = value;
        break;
    case Option::SkipAuid:
        options.skipAuid = value;
        break;
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
    options.destination = Destination::Syslog;
    options.format = Format::Kv;
    options.file = defaultFile;
    options.syslogSocket = defaultSocket;
    options.facility = defaultFacility;
    options.tag = defaultTag;
    setWait(options, defaultSyslogWaitMs);
    options.sandboxed = builtInSandboxed;
    options.skipProgram = "";
    options.skipExe = "";
    options.skipUid = "";
    options.skipAuid = "";
}

namespace {

// Out of line, apart from keepValidLists: the scan for line ends keeps more values alive than
// a frame on the deepest chain of the stack has room for.
__attribute__((noinline)) void readLines(char* text, size_t length, Options& options) {
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
                Option option;
                if (findOption(trim(content, equals), option)) {
                    applyOption(options, option, value);
                }
            }
        }
        line = next;
    }
}

// A list as its last line gave it, without the values the library cannot read. Only a list
// from the text is checked: the defaults are empty, and the text is the caller's to change.
void keepValidList(const char*& list, ListKind kind) {
    if (list[0] != 0) {
        list = keepValidValues(const_cast<char*>(list), kind);
    }
}

// Out of line, away from the scan's frame: the check of a value lies on the deepest chain of
// the stack.
__attribute__((noinline)) void keepValidLists(Options& options) {
    keepValidList(options.skipProgram, ListKind::Paths);
    keepValidList(options.skipExe, ListKind::Paths);
    keepValidList(options.skipUid, ListKind::Uids);
    keepValidList(options.skipAuid, ListKind::Auids);
}

} // namespace

void parseOptions(char* text, size_t length, Options& options) {
    readLines(text, length, options);
    keepValidLists(options);
}

const char* configPath() {
    return OMBREX_CONFIG_PATH;
}

ConfigFileUse judgeConfig(const struct stat& status) {
    if (!S_ISREG(status.st_mode)) {
        return ConfigFileNotRegular;
    }
    if (status.st_uid != 0) {
        return ConfigFileNotRootOwned;
    }
    return (status.st_mode & (S_IWGRP | S_IWOTH)) == 0 ? ConfigFileUsed
                                                       : ConfigFileWritableByOthers;
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

int openConfig(const char* path, size_t& size, ConfigFileUse* use, int* error) {
    // Non-blocking, so that a FIFO in place of the file cannot stall the program.
    const int fd = sys::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (sys::failed(fd)) {
        if (use != nullptr) {
            *use = fd == -ENOENT ? ConfigFileMissing : ConfigFileUnreadable;
            *error = -fd;
        }
        return -1;
    }
    struct stat status;
    const ConfigFileUse verdict =
        sys::failed(sys::fstat(fd, &status)) ? ConfigFileUnreadable : judgeConfig(status);
    if (use != nullptr) {
        *use = verdict;
    }
    if (verdict != ConfigFileUsed) {
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

bool findOption(const char* name, Option& option) {
    for (const OptionEntry& entry : optionTable) {
        if (sameText(name, entry.name)) {
            option = entry.option;
            return true;
        }
    }
    return false;
}

const char* optionValue(const Options& options, Option option) {
    switch (option) {
    case Option::Destination:
        return wordOf(options.destination, destinationWords);
    case Option::Format:
        return wordOf(options.format, formatWords);
    case Option::File:
        return options.file;
    case Option::SyslogSocket:
        return options.syslogSocket;
    case Option::SyslogFacility:
        return facilityName(options.facility);
    case Option::SyslogTag:
        return options.tag;
    case Option::SyslogWaitMs:
        return options.syslogWaitText;
    case Option::Sandboxed:
        return wordOf(options.sandboxed, sandboxedWords);
    case Option::SkipProgram:
        return options.skipProgram;
    case Option::SkipExe:
        return options.skipExe;
    case Option::SkipUid:
        return options.skipUid;
    case Option::SkipAuid:
        return options.skipAuid;
    }
    return "";
}

const char* optionDefault(Option option) {
    // The one value that lives in the options themselves, which are gone on return.
    if (option == Option::SyslogWaitMs) {
        return defaultSyslogWaitText;
    }
    Options defaults;
    setDefaults(defaults);
    return optionValue(defaults, option);
}

const char* optionValue(const Options& options, const char* name) {
    Option option;
    return findOption(name, option) ? optionValue(options, option) : nullptr;
}

} // namespace ombrex
