#include "libombrex/record.h"

#include "libombrex/deliver.h"
#include "libombrex/options.h"
#include "libombrex/sys.h"
#include "libombrex/vdso.h"
#include "libombrex/writer.h"

#include <limits.h>
#include <time.h>

namespace ombrex {

namespace {

struct CivilTime {
    int64_t year;
    unsigned month; // 1 to 12
    unsigned day;
    unsigned hour;
    unsigned minute;
    unsigned second;
};

// Calendar date from days since 1970-01-01 in the proleptic Gregorian calendar; localtime()
// is off limits here (it locks and reads files), and records are in UTC anyway.
CivilTime civilTime(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    CivilTime t;
    t.hour = static_cast<unsigned>(rest / 3600);
    t.minute = static_cast<unsigned>(rest / 60 % 60);
    t.second = static_cast<unsigned>(rest % 60);
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    t.day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    t.month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    t.year = static_cast<int64_t>(yearOfEra) + era * 400 + (t.month <= 2 ? 1 : 0);
    return t;
}

constexpr char monthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

// RFC 3164 header: "<PRI>Mmm dd hh:mm:ss TAG[PID]: ", severity info.
void putSyslogHeader(Writer& w, const SyslogHeader& header, const ProcessFacts& facts) {
    const CivilTime t = civilTime(facts.seconds);
    w.put('<');
    w.putUnsigned(static_cast<uint64_t>(header.facility) * 8 + 6);
    w.put('>');
    w.put(monthNames + 3 * (t.month - 1), 3);
    w.put(t.day < 10 ? "  " : " ");
    w.putUnsigned(t.day);
    w.put(' ');
    w.putUnsigned(t.hour, 2);
    w.put(':');
    w.putUnsigned(t.minute, 2);
    w.put(':');
    w.putUnsigned(t.second, 2);
    w.put(' ');
    w.put(header.tag);
    w.put('[');
    w.putSigned(facts.pid);
    w.put("]: ");
}

void putTime(Writer& w, const ProcessFacts& facts) {
    const CivilTime t = civilTime(facts.seconds);
    w.put(" time=");
    w.putSigned(t.year);
    w.put('-');
    w.putUnsigned(t.month, 2);
    w.put('-');
    w.putUnsigned(t.day, 2);
    w.put('T');
    w.putUnsigned(t.hour, 2);
    w.put(':');
    w.putUnsigned(t.minute, 2);
    w.put(':');
    w.putUnsigned(t.second, 2);
    w.put('.');
    w.putUnsigned(static_cast<uint64_t>(facts.nanoseconds / 1000), 6);
    w.put('Z');
}

// Name and number in one append, so that a record cut here never ends in a bare name.
void putNumberField(Writer& w, const char* prefix, int64_t value) {
    char field[48];
    Writer f(field, sizeof field);
    f.put(prefix);
    f.putSigned(value);
    if (!f.full()) {
        w.put(field, f.size());
    }
}

size_t countArguments(char* const* argv) {
    size_t count = 0;
    if (argv != nullptr) {
        while (argv[count] != nullptr) {
            ++count;
        }
    }
    return count;
}

// Writes prefix and the decimal number, NUL-terminated; out holds at least 21 bytes more
// than the prefix.
void textWithNumber(char* out, const char* prefix, uint64_t value, const char* suffix) {
    char* p = out;
    for (const char* s = prefix; *s != 0; ++s) {
        *p++ = *s;
    }
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) {
        *p++ = digits[--n];
    }
    for (const char* s = suffix; *s != 0; ++s) {
        *p++ = *s;
    }
    *p = 0;
}

// " argN=", the field name of argument N.
void argumentPrefix(char (&out)[32], size_t index) {
    textWithNumber(out, " arg", index, "=");
}

void descriptorPath(char (&out)[40], int fd) {
    textWithNumber(out, "/proc/self/fd/", static_cast<unsigned>(fd), "");
}

// Everything the record path needs beyond a few words, in one anonymous mapping per record:
// the caller's stack may be a thread's 16 KiB, a signal handler's alternate stack or a vfork
// child's borrowed one, and no static buffer could be shared by threads and signal handlers.
// The mapping is gone before the call goes on, so even a vfork child leaves its parent's
// address space as it found it.
struct Workspace {
    char configText[configTextCapacity + 1];
    Options options;
    Target target;
    ProcessFacts facts;
    char cwd[PATH_MAX];
    char resolved[PATH_MAX];
    char record[recordCapacity];
};

void gatherFacts(Workspace& w, const ExecEvent& event) {
    ProcessFacts& facts = w.facts;
    struct timespec now = {0, 0};
    if (realtimeClock(&now) != 0) {
        now.tv_sec = 0;
        now.tv_nsec = 0;
    }
    facts.seconds = now.tv_sec;
    facts.nanoseconds = now.tv_nsec;
    facts.pid = sys::getpid();
    facts.ppid = sys::getppid();
    uint32_t saved = 0;
    if (sys::failed(sys::getresuid(&facts.uid, &facts.euid, &saved))) {
        facts.uid = facts.euid = ~uint32_t{0};
    }
    if (sys::failed(sys::getresgid(&facts.gid, &facts.egid, &saved))) {
        facts.gid = facts.egid = ~uint32_t{0};
    }
    facts.cwd = sys::getcwd(w.cwd, sizeof w.cwd) > 0 ? w.cwd : nullptr;

    facts.file = event.file;
    if (event.fd >= 0 && (event.file == nullptr || event.file[0] == 0)) {
        char link[40];
        descriptorPath(link, event.fd);
        const long length = sys::readlink(link, w.resolved, sizeof w.resolved - 1);
        if (length > 0) {
            w.resolved[length] = 0;
            facts.file = w.resolved;
        }
    }
}

// Reads the configuration and opens the destination; false when nothing is to be written.
// `lost` tells whether that is a record lost rather than one not wanted.
bool prepareTarget(Workspace& w, bool sandboxed, bool& lost) {
    loadOptions(configPath(), w.configText, w.options);
    if ((sandboxed && w.options.sandboxed == Sandboxed::skip) ||
        w.options.destination == Destination::none) {
        return false;
    }
    lost = !openTarget(w.options, w.target);
    return !lost;
}

// Returns whether the record was delivered.
bool writeRecord(Workspace& w, const ExecEvent& event) {
    gatherFacts(w, event);
    const SyslogHeader header{w.target.facility, w.target.tag};
    const size_t length =
        formatRecord(w.record, sizeof w.record, event, w.facts,
                     w.target.destination == Destination::syslog ? &header : nullptr);
    return sendRecord(w.target, w.record, length);
}

} // namespace

size_t formatRecord(char* buffer, size_t capacity, const ExecEvent& event,
                    const ProcessFacts& facts, const SyslogHeader* header) {
    Writer w(buffer, capacity);
    if (header != nullptr) {
        putSyslogHeader(w, *header, facts);
    }
    w.put("call=");
    w.put(event.call);
    putTime(w, facts);
    putNumberField(w, " pid=", facts.pid);
    putNumberField(w, " ppid=", facts.ppid);
    putNumberField(w, " uid=", facts.uid);
    putNumberField(w, " euid=", facts.euid);
    putNumberField(w, " gid=", facts.gid);
    putNumberField(w, " egid=", facts.egid);
    w.putQuoted(" cwd=", facts.cwd);
    if (event.fd >= 0) {
        putNumberField(w, " fd=", event.fd);
    }
    w.putQuoted(" file=", facts.file);
    const size_t argc = countArguments(event.argv);
    putNumberField(w, " argc=", static_cast<int64_t>(argc));
    for (size_t i = 0; i < argc && !w.full(); ++i) {
        char prefix[32];
        argumentPrefix(prefix, i);
        w.putQuoted(prefix, event.argv[i]);
    }
    w.finish(header == nullptr);
    return w.size();
}

void recordExecution(const ExecEvent& event) {
    // First, before anything else a filter could forbid: a process under a seccomp filter
    // makes this one call and no other unless the library is built to record it.
    const bool sandboxed = sys::seccompMode() == sys::seccompFilterMode;
    if (sandboxed && builtInSandboxed == Sandboxed::skip) {
        return;
    }
    void* const memory = sys::mapAnonymous(sizeof(Workspace));
    if (memory == nullptr) {
        countLostRecord();
        return;
    }
    auto* const w = static_cast<Workspace*>(memory);
    bool lost = false;
    if (prepareTarget(*w, sandboxed, lost)) {
        lost = !writeRecord(*w, event);
        closeTarget(w->target);
    }
    sys::unmap(memory, sizeof(Workspace));
    if (lost) {
        countLostRecord();
    }
}

} // namespace ombrex
