// The record format: fields in both formats, syslog header, dates, records cut for length, and
// the decoding that takes any value back to its bytes.
#include "libombrex/record.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <vector>

#include "libombrex/error_names.h"
#include "libombrex/facts.h"
#include "libombrex/writer.h"

namespace {

ombrex::ProcessFacts facts(int64_t seconds = 1796858637, const char* file = "/bin/ls") {
    ombrex::ProcessFacts f{};
    f.seconds = seconds;
    f.nanoseconds = 123456789;
    f.sender = 4242;
    f.sequence = 1;
    f.pid = 4242;
    f.ppid = 1;
    f.auid = 1000;
    f.ses = 7;
    f.uid = 1000;
    f.euid = 0;
    f.gid = 100;
    f.egid = 101;
    f.tty = "pts/3";
    f.cwd = "/home/user";
    f.exe = "/usr/bin/sudo";
    f.file = file;
    return f;
}

ombrex::ExecEvent event(const char* call, const char* file, char* const* argv, int fd = -1) {
    return ombrex::ExecEvent{call, file, argv, fd, -100, 0, ombrex::Search::None, false};
}

// The record in one buffer. Every test checks on the way that the record path's form, in
// pieces that leave the longer values where they are, has the very same bytes: with room for
// many pieces, and with room for few.
std::string format(const ombrex::ExecEvent& e, const ombrex::ProcessFacts& f,
                   const ombrex::SyslogHeader* header = nullptr,
                   ombrex::Format form = ombrex::Format::Kv) {
    std::vector<char> buffer(ombrex::recordCapacity);
    const size_t length = ombrex::formatRecord(buffer.data(), buffer.size(), e, f,
                                               ombrex::RecordStyle{header, form, nullptr});
    const std::string whole(buffer.data(), length);
    for (const unsigned capacity : {32u, 4u}) {
        std::vector<char> built(ombrex::recordCapacity);
        std::vector<iovec> iov(capacity);
        ombrex::Pieces pieces{iov.data(), capacity, 0};
        const size_t total = ombrex::formatRecord(built.data(), built.size(), e, f,
                                                  ombrex::RecordStyle{header, form, &pieces});
        std::string joined;
        for (unsigned i = 0; i < pieces.count; ++i) {
            joined.append(static_cast<const char*>(iov[i].iov_base), iov[i].iov_len);
        }
        EXPECT_EQ(total, joined.size());
        EXPECT_EQ(joined, whole) << "in at most " << capacity << " pieces";
    }
    return whole;
}

char* const lsArguments[] = {const_cast<char*>("ls"), const_cast<char*>("-l"), nullptr};

// ---- a strict JSON reader, enough to check the records and decode their strings ----

// A code point of the Basic Multilingual Plane in UTF-8, for the decoders below.
void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

struct JsonValue {
    enum Kind { null, boolean, number, string, object } kind = null;
    std::string text; // the decoded string, or the number's digits, or "true"/"false"
    // The members of an object, in order (two vectors: a pair may not hold an incomplete type).
    std::vector<std::string> names;
    std::vector<JsonValue> values;
};

class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : s_(text) {}

    // The one object the text holds, or an error message in `error`.
    bool object(JsonValue& out, std::string& error) {
        if (!value(out) || out.kind != JsonValue::object || at_ != s_.size()) {
            error = error_.empty() ? "not one object at byte " + std::to_string(at_) : error_;
            return false;
        }
        return true;
    }

  private:
    bool fail(const std::string& why) {
        if (error_.empty()) {
            error_ = why + " at byte " + std::to_string(at_);
        }
        return false;
    }

    bool literal(const char* word) {
        const size_t n = std::strlen(word);
        if (s_.compare(at_, n, word) != 0) {
            return fail("bad literal");
        }
        at_ += n;
        return true;
    }

    bool value(JsonValue& out) {
        if (at_ >= s_.size()) {
            return fail("end of text");
        }
        const char c = s_[at_];
        if (c == '{') {
            out.kind = JsonValue::object;
            ++at_;
            if (at_ < s_.size() && s_[at_] == '}') {
                ++at_;
                return true;
            }
            for (;;) {
                std::string name;
                JsonValue member;
                if (!string(name) || at_ >= s_.size() || s_[at_++] != ':' || !value(member)) {
                    return fail("bad member");
                }
                out.names.push_back(name);
                out.values.push_back(member);
                if (at_ < s_.size() && s_[at_] == ',') {
                    ++at_;
                    continue;
                }
                if (at_ < s_.size() && s_[at_] == '}') {
                    ++at_;
                    return true;
                }
                return fail("expected , or }");
            }
        }
        if (c == '"') {
            out.kind = JsonValue::string;
            return string(out.text);
        }
        if (c == 't' || c == 'f') {
            out.kind = JsonValue::boolean;
            out.text = c == 't' ? "true" : "false";
            return literal(out.text.c_str());
        }
        if (c == 'n') {
            out.kind = JsonValue::null;
            return literal("null");
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            out.kind = JsonValue::number;
            const size_t start = at_;
            if (s_[at_] == '-') {
                ++at_;
            }
            if (at_ >= s_.size() || s_[at_] < '0' || s_[at_] > '9' ||
                (s_[at_] == '0' && at_ + 1 < s_.size() && s_[at_ + 1] >= '0' &&
                 s_[at_ + 1] <= '9')) {
                return fail("bad number");
            }
            while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') {
                ++at_;
            }
            out.text = s_.substr(start, at_ - start);
            return true;
        }
        return fail("unexpected character");
    }

    bool string(std::string& out) {
        if (at_ >= s_.size() || s_[at_] != '"') {
            return fail("expected a string");
        }
        ++at_;
        while (at_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[at_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return fail("raw control character in a string");
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= s_.size()) {
                break;
            }
            const char e = s_[at_++];
            const std::string simple = "\"\\/bfnrt";
            const std::string meaning = "\"\\/\b\f\n\r\t";
            if (const size_t i = simple.find(e); i != std::string::npos) {
                out += meaning[i];
            } else if (e == 'u' && at_ + 4 <= s_.size()) {
                const uint32_t cp =
                    static_cast<uint32_t>(std::stoul(s_.substr(at_, 4), nullptr, 16));
                if (cp >= 0xD800 && cp <= 0xDFFF) {
                    return fail("surrogate escape");
                }
                appendUtf8(out, cp);
                at_ += 4;
            } else {
                return fail("bad escape");
            }
        }
        return fail("unclosed string");
    }

    const std::string& s_;
    size_t at_ = 0;
    std::string error_;
};

JsonValue parseObject(const std::string& line) {
    JsonValue v;
    std::string error;
    EXPECT_TRUE(JsonReader(line).object(v, error)) << error << ": " << line;
    return v;
}

// The members of an object as NAME=VALUE texts in order, strings in quotes as decoded.
std::vector<std::string> members(const JsonValue& object) {
    std::vector<std::string> out;
    for (size_t i = 0; i < object.names.size(); ++i) {
        const std::string& name = object.names[i];
        const JsonValue& value = object.values[i];
        switch (value.kind) {
        case JsonValue::string:
            out.push_back(name + "=\"" + value.text + "\"");
            break;
        case JsonValue::null:
            out.push_back(name + "=null");
            break;
        default:
            out.push_back(name + "=" + value.text);
        }
    }
    return out;
}

// The fields of a key=value record as NAME=VALUE texts in order, quoted values as written.
std::vector<std::string> kvFields(const std::string& line) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < line.size() && line[at] != '\n') {
        const size_t equals = line.find('=', at);
        std::string field = line.substr(at, equals + 1 - at);
        at = equals + 1;
        if (line[at] == '"') {
            size_t end = at + 1;
            while (line[end] != '"') {
                end += line[end] == '\\' ? 2 : 1;
            }
            field += line.substr(at, end + 1 - at);
            at = end + 1;
        } else {
            const size_t end = line.find_first_of(" \n", at);
            field += line.substr(at, end - at);
            at = end;
        }
        out.push_back(field);
        if (at < line.size() && line[at] == ' ') {
            ++at;
        }
    }
    return out;
}

// The documented decoding of an escaped value: the bytes it stands for.
std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        const char e = text[++i];
        if (e == 'n' || e == 'r' || e == 't') {
            out += e == 'n' ? '\n' : (e == 'r' ? '\r' : '\t');
        } else if (e == 'x') {
            out += static_cast<char>(std::stoul(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (e == 'u') {
            appendUtf8(out, static_cast<uint32_t>(std::stoul(text.substr(i + 1, 4), nullptr, 16)));
            i += 4;
        } else {
            out += e; // \" and \\ .
        }
    }
    return out;
}

bool validUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t n = c < 0x80
                       ? 1
                       : (c >= 0xC2 && c <= 0xDF
                              ? 2
                              : (c >= 0xE0 && c <= 0xEF ? 3 : (c >= 0xF0 && c <= 0xF4 ? 4 : 0)));
        if (n == 0 || i + n > text.size()) {
            return false;
        }
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += n;
    }
    return true;
}

// ---- the formats ----

// The documented format, as a log parser sees it.
TEST(Record, FileLine) {
    EXPECT_EQ(format(event("execve", "/bin/ls", lsArguments), facts()),
              "call=execve time=2026-12-09T23:23:57.123456Z id=1796858637.123456789-4242-1 "
              "pid=4242 ppid=1 auid=1000 ses=7 "
              "uid=1000 euid=0 gid=100 egid=101 tty=pts/3 cwd=\"/home/user\" "
              "exe=\"/usr/bin/sudo\" file=\"/bin/ls\" argc=2 arg0=\"ls\" arg1=\"-l\"\n");
}

// A long value that needs no escape is not copied: the record path hands it to the kernel
// where the program keeps it, as a piece of its own; one with an escape is built whole.
TEST(Record, LongPlainValuesStayWhereTheyAre) {
    std::string plain(100, 'a');
    std::string quoted = std::string(50, 'b') + "\"" + std::string(50, 'c');
    char* const argv[] = {const_cast<char*>("tool"), plain.data(), quoted.data(), nullptr};
    const ombrex::ProcessFacts f = facts();
    std::vector<char> built(ombrex::recordCapacity);
    iovec iov[32];
    ombrex::Pieces pieces{iov, 32, 0};
    ombrex::formatRecord(built.data(), built.size(), event("execve", "/bin/tool", argv), f,
                         ombrex::RecordStyle{nullptr, ombrex::Format::Kv, &pieces});
    std::vector<const void*> outside;
    for (unsigned i = 0; i < pieces.count; ++i) {
        const char* base = static_cast<const char*>(iov[i].iov_base);
        if (base < built.data() || base >= built.data() + built.size()) {
            outside.push_back(iov[i].iov_base);
            EXPECT_GE(iov[i].iov_len, ombrex::shortestPiece);
        }
    }
    // The plain argument, and the other's parts before and after its quote; the escape is
    // built.
    EXPECT_EQ(outside, (std::vector<const void*>{plain.data(), quoted.data(), quoted.data() + 51}));
    const std::string expected =
        " arg2=\"" + std::string(50, 'b') + "\\\"" + std::string(50, 'c') + "\"";
    EXPECT_NE(format(event("execve", "/bin/tool", argv), f).find(expected), std::string::npos);
}

TEST(Record, JsonLine) {
    EXPECT_EQ(
        format(event("execve", "/bin/ls", lsArguments), facts(), nullptr, ombrex::Format::Json),
        "{\"call\":\"execve\",\"time\":\"2026-12-09T23:23:57.123456Z\","
        "\"id\":\"1796858637.123456789-4242-1\",\"pid\":4242,"
        "\"ppid\":1,\"auid\":1000,\"ses\":7,\"uid\":1000,\"euid\":0,\"gid\":100,"
        "\"egid\":101,\"tty\":\"pts/3\",\"cwd\":\"/home/user\",\"exe\":\"/usr/bin/sudo\","
        "\"file\":\"/bin/ls\",\"argc\":2,\"arg0\":\"ls\",\"arg1\":\"-l\"}\n");
}

TEST(Record, SyslogDatagram) {
    const ombrex::SyslogHeader header{19, "ombrex"}; // local3
    ombrex::ProcessFacts f = facts(1796858637, "ls");
    f.path = "/usr/bin/ls";
    auto e = event("execvp", "ls", lsArguments);
    EXPECT_EQ(format(e, f, &header),
              "<158>Dec  9 23:23:57 ombrex[4242]: call=execvp time=2026-12-09T23:23:57.123456Z "
              "id=1796858637.123456789-4242-1 pid=4242 ppid=1 auid=1000 ses=7 uid=1000 euid=0 "
              "gid=100 egid=101 tty=pts/3 "
              "cwd=\"/home/user\" exe=\"/usr/bin/sudo\" file=\"ls\" path=\"/usr/bin/ls\" "
              "argc=2 arg0=\"ls\" arg1=\"-l\"");
    // The JSON object is the message after the same header, without a line end.
    const std::string datagram = format(e, f, &header, ombrex::Format::Json);
    const std::string prefix = "<158>Dec  9 23:23:57 ombrex[4242]: {";
    ASSERT_EQ(datagram.substr(0, prefix.size()), prefix);
    parseObject(datagram.substr(prefix.size() - 1));
}

TEST(Record, DescriptorAndMissingValues) {
    ombrex::ProcessFacts f = facts(0, nullptr);
    f.cwd = nullptr;
    f.exe = nullptr;
    f.auid = ombrex::unsetId;
    f.ses = ombrex::unsetId;
    f.tty = "none";
    const auto e = event("fexecve", nullptr, nullptr, 7);
    EXPECT_EQ(format(e, f),
              "call=fexecve time=1970-01-01T00:00:00.123456Z id=0.123456789-4242-1 pid=4242 "
              "ppid=1 auid=unset "
              "ses=unset uid=1000 euid=0 gid=100 egid=101 tty=none cwd=\"\" exe=\"\" fd=7 "
              "file=\"\" argc=0\n");
    EXPECT_EQ(format(e, f, nullptr, ombrex::Format::Json),
              "{\"call\":\"fexecve\",\"time\":\"1970-01-01T00:00:00.123456Z\","
              "\"id\":\"0.123456789-4242-1\",\"pid\":4242,"
              "\"ppid\":1,\"auid\":null,\"ses\":null,\"uid\":1000,\"euid\":0,\"gid\":100,"
              "\"egid\":101,\"tty\":\"none\",\"cwd\":\"\",\"exe\":\"\",\"fd\":7,\"file\":\"\","
              "\"argc\":0}\n");
}

// The fields that only some records have, each in its place, in both formats alike.
TEST(Record, OptionalFieldsInTheirPlace) {
    struct Case {
        const char* what;
        void (*change)(ombrex::ProcessFacts&);
        std::vector<std::string> expected; // the fields between id and argc
    };
    const std::vector<std::string> usual = {"pid=4242",
                                            "ppid=1",
                                            "auid=1000",
                                            "ses=7",
                                            "uid=1000",
                                            "euid=0",
                                            "gid=100",
                                            "egid=101",
                                            "tty=pts/3",
                                            "cwd=\"/home/user\"",
                                            "exe=\"/usr/bin/sudo\"",
                                            "file=\"/bin/ls\""};
    auto with = [&](std::vector<std::string> before, std::vector<std::string> after) {
        before.insert(before.end(), usual.begin(), usual.end());
        before.insert(before.end(), after.begin(), after.end());
        return before;
    };
    const Case cases[] = {
        {"execution", [](ombrex::ProcessFacts&) {}, usual},
        {"refused", [](ombrex::ProcessFacts& f) { f.error = EACCES; }, with({"result=EACCES"}, {})},
        {"error without a name", [](ombrex::ProcessFacts& f) { f.error = 517; },
         with({"result=517"}, {})},
        {"lost before", [](ombrex::ProcessFacts& f) { f.lost = 184; }, with({"lost=184"}, {})},
        {"refused and lost",
         [](ombrex::ProcessFacts& f) {
             f.error = ENOEXEC;
             f.lost = 2;
         },
         with({"result=ENOEXEC", "lost=2"}, {})},
        {"found along PATH", [](ombrex::ProcessFacts& f) { f.path = "/usr/bin/ls"; },
         with({}, {"path=\"/usr/bin/ls\""})},
    };
    for (const auto& c : cases) {
        ombrex::ProcessFacts f = facts();
        c.change(f);
        const auto e = event("execve", "/bin/ls", lsArguments);
        std::vector<std::string> kv = kvFields(format(e, f));
        ASSERT_GE(kv.size(), 4u) << c.what;
        EXPECT_EQ(std::vector<std::string>(kv.begin() + 3, kv.end() - 3), c.expected) << c.what;

        std::string line = format(e, f, nullptr, ombrex::Format::Json);
        ASSERT_EQ(line.back(), '\n');
        line.pop_back();
        const std::vector<std::string> json = members(parseObject(line));
        ASSERT_EQ(json.size(), kv.size()) << c.what;
        const std::vector<std::string> numbers = {"lost", "pid", "ppid", "auid", "ses", "uid",
                                                  "euid", "gid", "egid", "fd",   "argc"};
        for (size_t i = 0; i < kv.size(); ++i) {
            // Same fields, same order; numbers bare, every other value a string in JSON.
            std::string expected = kv[i];
            const size_t equals = expected.find('=');
            const std::string name = expected.substr(0, equals);
            const std::string value = expected.substr(equals + 1);
            const bool number = std::find(numbers.begin(), numbers.end(), name) != numbers.end();
            if (value[0] != '"' && !number) {
                expected = name + "=\"" + value + "\"";
            }
            EXPECT_EQ(json[i], expected) << c.what;
        }
    }
}

// posix_spawn records the new process, which the caller's records name as its parent; a spawn
// that started none has no pid.
TEST(Record, SpawnWithoutAProcess) {
    ombrex::ProcessFacts f = facts();
    f.pid = -1;
    f.ppid = 4242;
    f.error = EACCES;
    auto e = event("posix_spawn", "/bin/ls", lsArguments);
    e.spawn = true;
    const std::string line = format(e, f);
    const std::string start = "call=posix_spawn time=2026-12-09T23:23:57.123456Z "
                              "id=1796858637.123456789-4242-1 result=EACCES ppid=4242 ";
    EXPECT_EQ(line.substr(0, start.size()), start);
}

// The id: the clock reading of `time` to the nanosecond, the process that writes the record
// (for posix_spawn the caller, not the new process) and the record's number; a string in JSON.
TEST(Record, Id) {
    struct Case {
        int64_t seconds;
        int64_t nanoseconds;
        int64_t pid;
        uint64_t sequence;
        const char* id;
    };
    const Case cases[] = {
        {1796858637, 123456789, 4242, 1, "1796858637.123456789-4242-1"},
        {1796858637, 5, 4242, 2, "1796858637.000000005-4242-2"},
        {1796858637, 999999999, 5000, 18446744073709551615u,
         "1796858637.999999999-4242-18446744073709551615"},
        {0, 0, 4242, 7, "0.000000000-4242-7"},
    };
    for (const auto& c : cases) {
        ombrex::ProcessFacts f = facts(c.seconds);
        f.nanoseconds = c.nanoseconds;
        f.pid = c.pid;
        f.sequence = c.sequence;
        auto e = event(c.pid == f.sender ? "execve" : "posix_spawn", "/bin/ls", lsArguments);
        e.spawn = c.pid != f.sender;
        const std::vector<std::string> kv = kvFields(format(e, f));
        ASSERT_GE(kv.size(), 3u);
        EXPECT_EQ(kv[2], std::string("id=") + c.id);
        std::string line = format(e, f, nullptr, ombrex::Format::Json);
        line.pop_back();
        const JsonValue object = parseObject(line);
        ASSERT_GE(object.names.size(), 3u);
        EXPECT_EQ(object.names[2], "id");
        EXPECT_EQ(object.values[2].kind, JsonValue::string);
        EXPECT_EQ(object.values[2].text, c.id);
    }
}

// The executed file as the kernel's audit names it, between tty and cwd, before every value
// of variable length: dev in hexadecimal major:minor, mode in octal with the file type bits;
// in JSON dev and mode are strings, the numbers numbers. No fields when the file is unknown.
TEST(Record, FileIdentity) {
    auto device = [](uint64_t major, uint64_t minor) {
        return ((major & 0xfff) << 8) | ((major & ~uint64_t{0xfff}) << 32) | (minor & 0xff) |
               ((minor & ~uint64_t{0xff}) << 12);
    };
    struct Case {
        ombrex::FileIdentity identity;
        const char* kv;
        const char* json;
    };
    const Case cases[] = {
        {{true, device(253, 1), 1234, S_IFREG | 0755, 0, 0},
         "dev=fd:01 inode=1234 mode=0100755 ouid=0 ogid=0",
         R"("dev":"fd:01","inode":1234,"mode":"0100755","ouid":0,"ogid":0)"},
        {{true, device(8, 17), 42, S_IFREG | S_ISUID | 0755, 65534, 65534},
         "dev=08:11 inode=42 mode=0104755 ouid=65534 ogid=65534",
         R"("dev":"08:11","inode":42,"mode":"0104755","ouid":65534,"ogid":65534)"},
        {{true, device(0, 0), 7, S_IFREG | S_ISGID | 0711, 0, 100},
         "dev=00:00 inode=7 mode=0102711 ouid=0 ogid=100",
         R"("dev":"00:00","inode":7,"mode":"0102711","ouid":0,"ogid":100)"},
        {{true, device(259, 1048575), 18446744073709551615u, S_IFLNK | 0777, 1000, 1000},
         "dev=103:fffff inode=18446744073709551615 mode=0120777 ouid=1000 ogid=1000",
         R"("dev":"103:fffff","inode":18446744073709551615,"mode":"0120777","ouid":1000,)"
         R"("ogid":1000)"},
        {{true, device(4095, 255), 1, 0, 4294967295u, 4294967295u},
         "dev=fff:ff inode=1 mode=0 ouid=4294967295 ogid=4294967295",
         R"("dev":"fff:ff","inode":1,"mode":"0","ouid":4294967295,"ogid":4294967295)"},
        {{false, device(253, 1), 1234, S_IFREG | 0755, 0, 0}, "", ""},
    };
    for (const auto& c : cases) {
        ombrex::ProcessFacts f = facts();
        f.identity = c.identity;
        const auto e = event("execve", "/bin/ls", lsArguments);
        const std::string kv = format(e, f);
        const std::string kvMiddle = std::string(c.kv) + (c.kv[0] != 0 ? " " : "");
        EXPECT_NE(kv.find(" tty=pts/3 " + kvMiddle + "cwd=\"/home/user\" "), std::string::npos)
            << kv;
        const std::string json = format(e, f, nullptr, ombrex::Format::Json);
        const std::string jsonMiddle = std::string(c.json) + (c.json[0] != 0 ? "," : "");
        EXPECT_NE(json.find(R"("tty":"pts/3",)" + jsonMiddle + R"("cwd":"/home/user",)"),
                  std::string::npos)
            << json;
        parseObject(json.substr(0, json.size() - 1));
    }
}

TEST(Record, CalendarDates) {
    struct Case {
        int64_t seconds;
        const char* iso;
        const char* syslog;
    };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00", "Jan  1 00:00:00"},
        {951782400, "2000-02-29T00:00:00", "Feb 29 00:00:00"},
        {951868799, "2000-02-29T23:59:59", "Feb 29 23:59:59"},
        {1709251199, "2024-02-29T23:59:59", "Feb 29 23:59:59"},
        {4107542400, "2100-03-01T00:00:00", "Mar  1 00:00:00"},
        {1798761599, "2026-12-31T23:59:59", "Dec 31 23:59:59"},
        {-1, "1969-12-31T23:59:59", "Dec 31 23:59:59"},
    };
    char* const none[] = {nullptr};
    const auto e = event("execve", "/x", none);
    const ombrex::SyslogHeader header{1, "t"};
    for (const auto& c : cases) {
        const std::string line = format(e, facts(c.seconds));
        EXPECT_NE(line.find(std::string(" time=") + c.iso + ".123456Z "), std::string::npos)
            << c.seconds << ": " << line;
        const std::string datagram = format(e, facts(c.seconds), &header);
        EXPECT_EQ(datagram.substr(0, 20), std::string("<14>") + c.syslog + " ") << c.seconds;
    }
}

TEST(Record, ManyArgumentsAreCutWithTheMarker) {
    std::vector<std::string> texts(20000, "argument");
    std::vector<char*> argv;
    for (auto& t : texts) {
        argv.push_back(t.data());
    }
    argv.push_back(nullptr);
    const auto e = event("execve", "/bin/x", argv.data());
    const ombrex::SyslogHeader header{10, "ombrex"};
    for (const auto* h : {static_cast<const ombrex::SyslogHeader*>(nullptr), &header}) {
        const std::string record = format(e, facts(), h);
        EXPECT_LE(record.size(), ombrex::recordCapacity);
        EXPECT_GT(record.size(), ombrex::recordCapacity - 40);
        EXPECT_NE(record.find(" argc=20000 "), std::string::npos);
        const std::string tail =
            std::string("\"") + ombrex::truncationMarker + (h == nullptr ? "\n" : "");
        ASSERT_GE(record.size(), tail.size());
        EXPECT_EQ(record.substr(record.size() - tail.size()), tail);
        EXPECT_EQ(record.find('\n'), h == nullptr ? record.size() - 1 : std::string::npos);
    }
}

// A JSON record cut for length is still one valid object, ends with "truncated":true, and
// keeps within the bound, whatever the cut value is made of.
TEST(Record, JsonCutForLengthIsOneObject) {
    const std::vector<std::string> fillers = {
        std::string(20000, 'a'),                  // plain
        std::string(20000, '"'),                  // two bytes each in kv, four in JSON
        std::string(20000, '\x01'),               // \x01, then \\x01
        std::string(20000, '\xff'),               // invalid UTF-8
        "\xe2\x80\xa8" + std::string(9000, '\\'), // \u2028, then backslashes
    };
    const ombrex::SyslogHeader header{10, "ombrex"};
    for (const auto& filler : fillers) {
        for (size_t shift = 0; shift < 8; ++shift) {
            const std::string value = std::string(shift, 'x') + filler;
            char* const argv[] = {const_cast<char*>("prog"), const_cast<char*>(value.c_str()),
                                  nullptr};
            const auto e = event("execve", "/bin/x", argv);
            for (const auto* h : {static_cast<const ombrex::SyslogHeader*>(nullptr), &header}) {
                std::string record = format(e, facts(), h, ombrex::Format::Json);
                EXPECT_LE(record.size(), ombrex::recordCapacity);
                if (h != nullptr) {
                    record = record.substr(record.find('{'));
                } else {
                    ASSERT_EQ(record.back(), '\n');
                    record.pop_back();
                }
                const JsonValue object = parseObject(record);
                ASSERT_FALSE(object.names.empty());
                EXPECT_EQ(object.names.back(), "truncated");
                EXPECT_EQ(object.values.back().text, "true");
                EXPECT_TRUE(validUtf8(record));
                // The part of the value that was kept decodes to a prefix of it.
                for (size_t i = 0; i < object.names.size(); ++i) {
                    if (object.names[i] == "arg1") {
                        const std::string kept = unescape(object.values[i].text);
                        EXPECT_EQ(value.compare(0, kept.size(), kept), 0) << shift;
                    }
                }
            }
        }
    }
}

// Any bytes at all come back from both formats by the documented decoding: JSON string, then
// the escapes of the key=value format. Both formats are valid UTF-8 throughout.
TEST(Record, EveryValueDecodesToItsBytes) {
    std::mt19937 random(20261209);
    std::vector<std::string> values = {
        "plain",
        "a\"b\\c",
        "\n\r\t\x01\x1f\x7f",
        "\xc2\x80\xc2\x9f",
        "\xe2\x80\xa8\xe2\x80\xae",
        "\xef\xbb\xbf",
        "\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80",
        "\\x41",
        "\\u2028",
        "gr\xc3\xbc\xc3\x9f",
        "\xf0\x9f\x98\x80",
        "\xe2\x82",
        "\xff\xfe",
    };
    for (int i = 0; i < 300; ++i) {
        std::string bytes(1 + random() % 40, ' ');
        for (char& b : bytes) {
            b = static_cast<char>(1 + random() % 255); // no NUL: it would end the text
        }
        values.push_back(bytes);
    }
    for (const auto& value : values) {
        char* const argv[] = {const_cast<char*>(value.c_str()), nullptr};
        ombrex::ProcessFacts f = facts(0, value.c_str());
        f.cwd = value.c_str();
        const auto e = event("execve", value.c_str(), argv);

        const std::string kv = format(e, f);
        EXPECT_TRUE(validUtf8(kv));
        for (const auto& field : kvFields(kv)) {
            if (field.rfind("arg0=", 0) == 0 || field.rfind("cwd=", 0) == 0) {
                const std::string quoted = field.substr(field.find('=') + 1);
                EXPECT_EQ(unescape(quoted.substr(1, quoted.size() - 2)), value);
            }
        }

        const std::string json = format(e, f, nullptr, ombrex::Format::Json);
        EXPECT_TRUE(validUtf8(json));
        const JsonValue object = parseObject(json.substr(0, json.size() - 1));
        std::map<std::string, std::string> strings;
        for (size_t i = 0; i < object.names.size(); ++i) {
            strings[object.names[i]] = object.values[i].text;
        }
        EXPECT_EQ(unescape(strings["arg0"]), value);
        EXPECT_EQ(unescape(strings["cwd"]), value);
        EXPECT_EQ(unescape(strings["file"]), value);
    }
}

// ---- who runs it ----

TEST(Terminal, NamesFromTheDeviceNumber) {
    auto device = [](uint32_t major, uint32_t minor) {
        return (minor & 0xFF) | (major << 8) | ((minor & ~0xFFu) << 12);
    };
    struct Case {
        uint32_t device;
        const char* name;
    };
    const Case cases[] = {
        {0, "none"},
        {device(136, 0), "pts/0"},
        {device(136, 255), "pts/255"},
        {device(136, 256), "pts/256"}, // minor above 255: the upper bits of the encoding
        {device(137, 3), "pts/259"},   // the next major of the pseudo-terminals
        {device(143, 255), "pts/2047"},
        {device(4, 1), "tty1"},
        {device(4, 63), "tty63"},
        {device(4, 64), "ttyS0"},
        {device(4, 65), "ttyS1"},
        {device(5, 1), "console"},
        {device(5, 0), "5:0"},
        {device(188, 0), "188:0"}, // a USB serial adapter: not named here
        {device(204, 64), "204:64"},
        {device(4095, 1048575), "4095:1048575"},
    };
    for (const auto& c : cases) {
        char out[ombrex::ttyNameCapacity];
        EXPECT_STREQ(ombrex::ttyName(c.device, out), c.name) << c.device;
    }
}

TEST(Terminal, FromAProcStatLine) {
    struct Case {
        const char* what;
        std::string line;
        bool found;
        uint32_t device;
    };
    const Case cases[] = {
        {"plain", "4242 (bash) S 4200 4242 4242 34816 4242 4194304 1 2 3", true, 34816},
        {"no terminal", "1 (init) S 0 1 1 0 -1 4194560", true, 0},
        {"blanks and parentheses in the name", "77 (a) b (c)) R 1 77 77 1025 77 0", true, 1025},
        {"negative", "5 (x) S 1 5 5 -1 5", true, 4294967295u},
        {"cut before the field", "4242 (bash) S 4200 4242 4242", false, 0},
        {"no name", "4242 bash S 4200 4242 4242 34816", false, 0},
        {"not a number", "4242 (bash) S 4200 4242 4242 3x816 1", false, 0},
    };
    for (const auto& c : cases) {
        uint32_t device = 0;
        EXPECT_EQ(ombrex::statTerminal(c.line.data(), c.line.size(), device), c.found) << c.what;
        if (c.found) {
            EXPECT_EQ(device, c.device) << c.what;
        }
    }
}

// The names are the C library's own, number by number.
TEST(ErrorNames, SameAsTheCLibrary) {
    for (int error = -1; error < 140; ++error) {
        const char* expected = error > 0 ? strerrorname_np(error) : nullptr;
        EXPECT_STREQ(ombrex::errorName(error), expected != nullptr ? expected : "") << error;
    }
}

} // namespace
