#include "libombrex/record.h"

#include <errno.h>
#include <limits.h>
#include <time.h>

#include "libombrex/bytes.h"
#include "libombrex/deliver.h"
#include "libombrex/error_names.h"
#include "libombrex/facts.h"
#include "libombrex/options.h"
#include "libombrex/peek.h"
#include "libombrex/predict.h"
#include "libombrex/rules.h"
#include "libombrex/sys.h"
#include "libombrex/texts.h"
#include "libombrex/workspace.h"
#include "libombrex/writer.h"

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
constexpr char hexDigits[] = "0123456789abcdef";

// "hh:mm:ss", as both the syslog header and the record's time write it.
void putClock(Writer& w, const CivilTime& t) {
    w.putUnsigned(t.hour, 2);
    w.put(':');
    w.putUnsigned(t.minute, 2);
    w.put(':');
    w.putUnsigned(t.second, 2);
}

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
    putClock(w, t);
    w.put(' ');
    w.put(header.tag);
    w.put('[');
    w.putSigned(facts.sender);
    w.put("]: ");
}

// "2026-12-09T23:23:57.123456Z"
void timeText(char (&out)[32], const ProcessFacts& facts) {
    const CivilTime t = civilTime(facts.seconds);
    Writer w(out, sizeof out, 0);
    w.putSigned(t.year);
    w.put('-');
    w.putUnsigned(t.month, 2);
    w.put('-');
    w.putUnsigned(t.day, 2);
    w.put('T');
    putClock(w, t);
    w.put('.');
    w.putUnsigned(static_cast<uint64_t>(facts.nanoseconds / 1000), 6);
    w.put('Z');
    w.put('\0');
}

// The fields of one record in either format: `name=value` separated by blanks, or the members
// of a JSON object. Each short field is appended whole or not at all, so that a record cut
// here never ends in a bare name.
class Fields {
  public:
    Fields(Writer& w, bool json) : w_(w), json_(json), first_(true) {}

    // A value that needs no quoting in the key=value format: a word of the library's own.
    void word(const char* name, const char* value) {
        const size_t quotes = json_ ? 2 : 0;
        if (opening(name, textLength(value) + quotes)) {
            w_.put(json_ ? "\"" : "");
            w_.put(value);
            w_.put(json_ ? "\"" : "");
        }
    }

    void number(const char* name, int64_t value) {
        if (opening(name, signedDecimalLength(value))) {
            w_.putSigned(value);
        }
    }

    void unsignedNumber(const char* name, uint64_t value) {
        if (opening(name, decimalLength(value))) {
            w_.putUnsigned(value);
        }
    }

    // SECONDS.NANOSECONDS-SENDER-N: the clock reading of `time` in full, the writing process
    // and its record number. Unique on one host: n within a program image, the sender among
    // processes at one moment, the clock among the images of one process id.
    void recordId(const ProcessFacts& facts) {
        const size_t quotes = json_ ? 2 : 0;
        const size_t length = signedDecimalLength(facts.seconds) + 1 + nanosecondDigits + 1 +
                              signedDecimalLength(facts.sender) + 1 + decimalLength(facts.sequence);
        if (opening("id", length + quotes)) {
            w_.put(json_ ? "\"" : "");
            w_.putSigned(facts.seconds);
            w_.put('.');
            w_.putUnsigned(static_cast<uint64_t>(facts.nanoseconds), nanosecondDigits);
            w_.put('-');
            w_.putSigned(facts.sender);
            w_.put('-');
            w_.putUnsigned(facts.sequence);
            w_.put(json_ ? "\"" : "");
        }
    }

    // A login uid or session id: `unset` (null in JSON) when the kernel holds none.
    void id(const char* name, uint32_t value) {
        if (value != unsetId) {
            number(name, value);
            return;
        }
        const char* const unset = json_ ? "null" : "unset";
        if (opening(name, textLength(unset))) {
            w_.put(unset);
        }
    }

    // Text of the program's, quoted and escaped (see Writer::putQuoted).
    void text(const char* name, const char* value) {
        w_.putQuoted(lead(), name, json_ ? "\":" : "=", value, json_);
    }

  private:
    static constexpr unsigned nanosecondDigits = 9;

    const char* lead() {
        const bool first = first_;
        first_ = false;
        return first ? (json_ ? "\"" : "") : (json_ ? ",\"" : " ");
    }

    // The field's name and what follows it, when that and `valueLength` bytes more fit.
    bool opening(const char* name, size_t valueLength) {
        const char* const separator = lead();
        const char* const tail = json_ ? "\":" : "=";
        if (!w_.room(textLength(separator) + textLength(name) + textLength(tail) + valueLength)) {
            return false;
        }
        w_.put(separator);
        w_.put(name);
        w_.put(tail);
        return true;
    }

    Writer& w_;
    bool json_;
    bool first_;
};

// value in hexadecimal, two digits at least.
void putHex(Writer& w, uint64_t value) {
    unsigned digits = 2;
    while (digits < 16 && (value >> (4 * digits)) != 0) {
        ++digits;
    }
    for (unsigned i = digits; i > 0; --i) {
        w.put(hexDigits[(value >> (4 * (i - 1))) & 0xf]);
    }
}

// "MAJOR:MINOR" in hexadecimal, as the kernel's audit writes a device: "fd:01". The numbers
// are taken apart as the C library's major() and minor() do.
const char* deviceText(char (&out)[32], uint64_t device) {
    Writer w(out, sizeof out, 0);
    putHex(w, ((device >> 8) & 0xfff) | ((device >> 32) & ~uint64_t{0xfff}));
    w.put(':');
    putHex(w, (device & 0xff) | ((device >> 12) & ~uint64_t{0xff}));
    w.put('\0');
    return out;
}

// A mode in octal with a leading 0, file type bits included, as the kernel's audit writes it:
// 0100755, 0104755 for a set-user-id program.
const char* modeText(char (&out)[32], uint32_t mode) {
    unsigned digits = 0; // the leading 0 alone for 0, as printf's "%#o" writes it
    while (digits < 11 && (mode >> (3 * digits)) != 0) {
        ++digits;
    }
    Writer w(out, sizeof out, 0);
    w.put('0');
    for (unsigned i = digits; i > 0; --i) {
        w.put(static_cast<char>('0' + ((mode >> (3 * (i - 1))) & 7)));
    }
    w.put('\0');
    return out;
}

// The executed file's identity, named as in the kernel's audit records.
void putIdentity(Fields& f, const FileIdentity& identity, char (&scratch)[32]) {
    f.word("dev", deviceText(scratch, identity.device));
    f.unsignedNumber("inode", identity.inode);
    f.word("mode", modeText(scratch, identity.mode));
    f.number("ouid", identity.owner);
    f.number("ogid", identity.group);
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

// The prefix and the decimal value as one text: the name of an argument, or the number of an
// error without a name.
const char* numbered(char (&out)[32], const char* prefix, uint64_t value) {
    Writer w(out, sizeof out, 0);
    w.put(prefix);
    w.putUnsigned(value);
    w.put('\0');
    return out;
}

// The file a PATH search found, absolute: joined to the working directory when relative.
const char* absolutePath(const char* found, const char* cwd, TextArea& texts) {
    if (found[0] == 0 || found[0] == '/' || cwd == nullptr) {
        return found[0] != 0 ? found : nullptr;
    }
    const char* const asFound = found;
    while (found[0] == '.' && found[1] == '/') {
        found += 2;
        while (found[0] == '/') {
            ++found;
        }
    }
    const size_t cwdLength = textLength(cwd);
    const size_t slash = cwdLength > 0 && cwd[cwdLength - 1] == '/' ? 0 : 1;
    const size_t foundLength = textLength(found);
    if (cwdLength + slash + foundLength >= 2 * PATH_MAX) {
        return asFound;
    }
    char* const path = texts.next();
    copyBytes(path, cwd, cwdLength);
    path[cwdLength] = '/';
    copyBytes(path + cwdLength + slash, found, foundLength + 1);
    return texts.keep(cwdLength + slash + foundLength);
}

enum class Stage { Before, After };

// The record to be made: before the call, or after it with its error and, for posix_spawn,
// the new process.
struct Outcome {
    Stage stage;
    int error;
    int64_t child;
};

// The facts of the record: the time, its number, the process (for posix_spawn the new one, whose
// parent is the caller), who runs it and where, and the file. facts.sender is set already. A
// frame of its own, beside the formatting rather than under it.
__attribute__((noinline)) void gatherFacts(Workspace& w, TextArea& texts, const ExecEvent& event,
                                           const Outcome& outcome, Held& held) {
    ProcessFacts& facts = w.facts;
    struct timespec now = {0, 0};
    if (sys::failed(sys::clockTime(CLOCK_REALTIME, &now))) {
        now.tv_sec = 0;
        now.tv_nsec = 0;
    }
    facts.seconds = now.tv_sec;
    facts.nanoseconds = now.tv_nsec;
    facts.sequence = nextSequence();
    facts.pid = event.spawn ? outcome.child : facts.sender;
    facts.ppid = event.spawn ? facts.sender : sys::getppid();
    uint32_t saved = 0;
    if (sys::failed(sys::getresuid(&facts.uid, &facts.euid, &saved))) {
        facts.uid = facts.euid = ~uint32_t{0};
    }
    if (sys::failed(sys::getresgid(&facts.gid, &facts.egid, &saved))) {
        facts.gid = facts.egid = ~uint32_t{0};
    }
    readWho(facts, w.tty, texts, w.known, held);
    const long cwdLength = sys::getcwd(texts.next(), PATH_MAX);
    facts.cwd = cwdLength > 0 ? texts.keep(static_cast<size_t>(cwdLength - 1)) : nullptr;

    facts.file = event.file;
    if (event.fd >= 0 && (event.file == nullptr || event.file[0] == 0)) {
        DescriptorPath link;
        const char* const resolved = keepLinkTarget(descriptorPath(link, event.fd), texts);
        facts.file = resolved != nullptr ? resolved : facts.file;
    }
    facts.path =
        event.search != Search::None ? absolutePath(w.search.found, facts.cwd, texts) : nullptr;
    const struct stat& status = w.search.status;
    facts.identity = FileIdentity{w.search.identified, status.st_dev, status.st_ino,
                                  status.st_mode,      status.st_uid, status.st_gid};
}

// Writes the record to the configured destination; a record that does not get there is
// counted, and one that does carries the count of those before it, which it settles.
//
// A frame of its own, and what the record is laid out by in the workspace: the frames of the
// formatting stand on it.
__attribute__((noinline)) void deliver(Workspace& w, TextArea& texts, const ExecEvent& event,
                                       const Outcome& outcome, Held& held) {
    const auto self = static_cast<uint32_t>(sys::getpid());
    if (!openTarget(w.options, w.target, held)) {
        countLostRecord(self);
        return;
    }
    w.facts.sender = self;
    gatherFacts(w, texts, event, outcome, held);
    w.facts.error = outcome.error;
    w.facts.lost = pendingLost(self);
    Layout& l = w.layout;
    l.header = SyslogHeader{w.target.facility, w.target.tag};
    l.pieces = Pieces{l.iov, sizeof l.iov / sizeof l.iov[0], 0};
    l.style = RecordStyle{w.target.destination == Destination::Syslog ? &l.header : nullptr,
                          w.target.format, &l.pieces};
    char* const record = texts.next();
    const size_t length = formatRecord(record, recordCapacity, event, w.facts, l.style);
    l.bytes = RecordBytes{l.iov, l.pieces.count, length, record};
    if (sendRecord(w.target, l.bytes, self)) {
        settleLost(self, w.facts.lost);
    } else {
        countLostRecord(self);
    }
    closeTarget(w.target, held);
}

// Whether a rule that the peek left undecided leaves the execution out, with the workspace's
// room for the paths; the program of a PATH search is decided once `found` holds its result.
// The calling program's file, when a rule read it, is kept for the record.
bool leftOutHere(TextArea& texts, RuleCheck& check, const char* found, unsigned& pending) {
    if (pending == 0) {
        return false;
    }
    char* const room = texts.next();
    const bool out = leftOut(check, found, PathRoom{room, PATH_MAX}, pending);
    if (!out && check.known.exeText == room) {
        texts.keep(textLength(room));
    }
    return out;
}

enum class When { Now, Later, Never };

// Whether the record is written now. Before the call: when the call is expected to run the
// program, else later, after it. After the call: unless a PATH search finds that there was
// nothing to run (a failed call that ran nothing may leave any errno, 0 included). The file
// is looked at for the record in any case: judged before the call, searched for again after
// it (only the name of the file found, and its status, are still wanted then), or else
// looked up.
When settle(Workspace& w, TextArea& texts, const ExecEvent& event, const Outcome& outcome) {
    w.search.found = texts.next();
    w.search.found[0] = 0;
    const bool before = outcome.stage == Stage::Before;
    Prediction prediction = Prediction::Runs;
    if (before || event.search != Search::None) {
        prediction = predictExec(event, w.search);
    } else {
        identifyFile(event, w.search);
    }
    texts.keep(textLength(w.search.found));
    if (before) {
        return prediction == Prediction::Runs ? When::Now : When::Later;
    }
    return outcome.error != 0 && prediction == Prediction::Absent ? When::Never : When::Now;
}

// The workspace with the options in effect: those the peek parsed, or the file read in full
// now (the defaults without one); null when there is no memory for it.
Workspace* loadWorkspace(ConfigPeek& peek, TextArea& texts, Held& held) {
    Workspace* const w = peek.read ? peek.workspace : claimWorkspace();
    if (w == nullptr) {
        held.letGo(peek.fd);
        return nullptr;
    }
    texts = TextArea(w->texts, sizeof w->texts);
    if (peek.read) {
        texts.keep(peekTextSize - 1);
        return w;
    }
    w->known = Known{nullptr, 0, false, false};
    if (peek.fd >= 0) {
        texts.keep(loadOptionsFrom(peek.fd, peek.size, texts.next(), w->options));
        held.letGo(peek.fd);
    } else {
        setDefaults(w->options);
    }
    return w;
}

// The record path from the workspace to its release. Before the call, the record is written
// only when the call is expected to run the program; the result says whether one is to be
// made after it instead.
__attribute__((noinline)) bool recordPath(const ExecEvent& event, Outcome outcome, bool sandboxed,
                                          ConfigPeek& peek, Held& held) {
    TextArea texts(nullptr, 0);
    Workspace* const w = loadWorkspace(peek, texts, held);
    if (w == nullptr) {
        countLostRecord(static_cast<uint32_t>(sys::getpid()));
        return false;
    }
    bool later = false;
    const bool wanted = !(sandboxed && w->options.sandboxed == Sandboxed::Skip) &&
                        w->options.destination != Destination::None;
    unsigned pending = peek.pending & rulesOf(w->options);
    RuleCheck check{w->options, event, held, w->known};
    if (wanted && !leftOutHere(texts, check, nullptr, pending)) {
        const When when = settle(*w, texts, event, outcome);
        later = when == When::Later;
        if (when == When::Now && !leftOutHere(texts, check, w->search.found, pending)) {
            w->known = check.known;
            deliver(*w, texts, event, outcome, held);
        }
    }
    releaseWorkspace(w);
    return later;
}

} // namespace

size_t formatRecord(char* buffer, size_t capacity, const ExecEvent& event,
                    const ProcessFacts& facts, const RecordStyle& style) {
    const bool json = style.format == Format::Json;
    const SyslogHeader* const header = style.header;
    Writer w(buffer, capacity, json ? jsonWriterReserve : writerReserve, style.pieces);
    if (header != nullptr) {
        putSyslogHeader(w, *header, facts);
    }
    if (json) {
        w.put('{');
    }
    Fields f(w, json);
    f.word("call", event.call);
    char scratch[32]; // the time, an error's number, the name of an argument
    timeText(scratch, facts);
    f.word("time", scratch);
    f.recordId(facts);
    if (facts.error != 0) {
        const char* const name = errorName(facts.error);
        f.word("result",
               name[0] != 0 ? name : numbered(scratch, "", static_cast<unsigned>(facts.error)));
    }
    if (facts.lost != 0) {
        f.number("lost", facts.lost);
    }
    if (facts.pid >= 0) {
        f.number("pid", facts.pid);
    }
    f.number("ppid", facts.ppid);
    f.id("auid", facts.auid);
    f.id("ses", facts.ses);
    f.number("uid", facts.uid);
    f.number("euid", facts.euid);
    f.number("gid", facts.gid);
    f.number("egid", facts.egid);
    f.word("tty", facts.tty != nullptr ? facts.tty : "unknown");
    if (facts.identity.known) {
        putIdentity(f, facts.identity, scratch);
    }
    f.text("cwd", facts.cwd);
    f.text("exe", facts.exe);
    if (event.fd >= 0) {
        f.number("fd", event.fd);
    }
    f.text("file", facts.file);
    if (facts.path != nullptr) {
        f.text("path", facts.path);
    }
    const size_t argc = countArguments(event.argv);
    f.number("argc", static_cast<int64_t>(argc));
    for (size_t i = 0; i < argc && !w.full(); ++i) {
        f.text(numbered(scratch, "arg", i), event.argv[i]);
    }
    if (json) {
        w.finish(jsonTruncationMarker, header == nullptr ? "}\n" : "}");
    } else {
        w.finish(header == nullptr);
    }
    return w.size();
}

bool nothingToRun(int error) {
    return error == ENOENT || error == ENOTDIR || error == EBADF || error == EFAULT;
}

namespace {

// The record path from its first system call to its last.
__attribute__((always_inline)) inline bool record(const ExecEvent& event, Outcome outcome,
                                                  Held& held) {
    // First, before anything else a filter could forbid: a process under a seccomp filter
    // makes this one call and no other unless the library is built to record it.
    const bool sandboxed = sys::seccompMode() == sys::seccompFilterMode;
    if (sandboxed && builtInSandboxed == Sandboxed::Skip) {
        return false;
    }
    ConfigPeek peek = peekConfig(sandboxed, event, held);
    if (peek.off) {
        return false;
    }
    return recordPath(event, outcome, sandboxed, peek, held);
}

} // namespace

bool recordBeforeExec(const ExecEvent& event, Held& held) {
    return record(event, Outcome{Stage::Before, 0, -1}, held);
}

void recordRefusedExec(const ExecEvent& event, int error, Held& held) {
    // An exec call that returned ran nothing, whatever errno it left.
    if (error != 0 && !nothingToRun(error)) {
        record(event, Outcome{Stage::After, error, -1}, held);
    }
}

void recordSpawn(const ExecEvent& event, int error, int64_t child, Held& held) {
    if (error == 0 || !nothingToRun(error)) {
        record(event, Outcome{Stage::After, error, error == 0 ? child : -1}, held);
    }
}

} // namespace ombrex
