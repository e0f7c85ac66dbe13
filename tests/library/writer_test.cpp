// The bounded writer: escaping of one quoted value, and cutting records that do not fit; and
// the word-at-a-time byte search of the library's text scans.
#include "libombrex/writer.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "libombrex/bytes.h"

namespace {

std::string quoted(const char* value) {
    std::vector<char> buffer(4096);
    ombrex::Writer w(buffer.data(), buffer.size());
    w.putQuoted(" v=", value);
    EXPECT_FALSE(w.full());
    return std::string(buffer.data(), w.size());
}

struct EscapeCase {
    const char* what;
    const char* input;
    const char* expected; // the value between the quotes
};

const EscapeCase escapeCases[] = {
    {"plain", "plain text", "plain text"},
    {"null", nullptr, ""},
    {"newline", "a\nb", "a\\nb"},
    {"carriage return and tab", "a\rb\tc", "a\\rb\\tc"},
    {"escape and delete", "\x1b[0m\x7f", "\\x1b[0m\\x7f"},
    {"other control", "\x01\x1f", "\\x01\\x1f"},
    {"quote and backslash", "say \"hi\" \\ bye", "say \\\"hi\\\" \\\\ bye"},
    {"two-byte UTF-8", "gr\303\274\303\237e", "gr\303\274\303\237e"},
    {"three-byte UTF-8", "\xe2\x82\xac", "\xe2\x82\xac"},
    {"four-byte UTF-8", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
    {"highest code point", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
    {"stray continuation", "\200a", "\\x80a"},
    {"invalid lead bytes", "\xff\xfe\xc0\xc1\xf5", "\\xff\\xfe\\xc0\\xc1\\xf5"},
    {"overlong slash", "\xc0\xaf", "\\xc0\\xaf"},
    {"overlong three-byte", "\xe0\x80\xaf", "\\xe0\\x80\\xaf"},
    {"overlong four-byte", "\xf0\x80\x80\xaf", "\\xf0\\x80\\x80\\xaf"},
    {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
    {"past U+10FFFF", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
    {"sequence cut by the end", "ab\xe2\x82", "ab\\xe2\\x82"},
    {"sequence cut by ASCII", "\342\202x", "\\xe2\\x82x"},
    {"C1 next line", "\xc2\x85", "\\u0085"},
    {"line separator", "\xe2\x80\xa8", "\\u2028"},
    {"paragraph separator", "\xe2\x80\xa9", "\\u2029"},
    {"right-to-left override", "\xe2\x80\xae", "\\u202e"},
    {"isolate", "\xe2\x81\xa6", "\\u2066"},
    {"byte order mark", "\xef\xbb\xbf", "\\ufeff"},
};

TEST(Writer, EscapesEachKindOfCharacter) {
    for (const auto& c : escapeCases) {
        EXPECT_EQ(quoted(c.input), std::string(" v=\"") + c.expected + "\"") << c.what;
    }
}

// Reverses the escaping of one value; false if an escape is malformed.
bool unescape(const std::string& value, std::string& out) {
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            out += value[i];
            continue;
        }
        if (i + 1 >= value.size()) {
            return false;
        }
        const char kind = value[++i];
        if (kind == 'n') {
            out += '\n';
        } else if (kind == 'r') {
            out += '\r';
        } else if (kind == 't') {
            out += '\t';
        } else if (kind == '"' || kind == '\\') {
            out += kind;
        } else if (kind == 'x') {
            if (i + 2 >= value.size()) {
                return false;
            }
            out += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (kind == 'u') {
            if (i + 4 >= value.size()) {
                return false;
            }
            out += "\\u" + value.substr(i + 1, 4); // kept as text on both sides
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

// Whatever the capacity, the writer stays inside it, never splits an escape, closes the quote
// and ends with the marker; what it kept is the start of the value.
TEST(Writer, CutsAtEscapeBoundariesWithinAnyCapacity) {
    std::string value;
    for (int i = 0; i < 40; ++i) {
        value += "ab\n\"\xe2\x82\xac\xff";
    }
    const std::string whole = quoted(value.c_str()); // ` v="...."`
    std::string expectedPlain;
    ASSERT_TRUE(unescape(whole.substr(4, whole.size() - 5), expectedPlain));
    for (size_t capacity = ombrex::writerReserve; capacity < 400; ++capacity) {
        std::vector<char> buffer(capacity + 16, '#');
        ombrex::Writer w(buffer.data(), capacity);
        w.put("call=x");
        w.putQuoted(" v=", value.c_str());
        w.finish(true);
        ASSERT_LE(w.size(), capacity) << capacity;
        for (size_t i = capacity; i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], '#') << "written past the capacity " << capacity;
        }
        const std::string text(buffer.data(), w.size());
        ASSERT_TRUE(w.full()) << capacity;
        const std::string tail = std::string(ombrex::truncationMarker) + "\n";
        ASSERT_GE(text.size(), tail.size()) << capacity;
        ASSERT_EQ(text.substr(text.size() - tail.size()), tail) << capacity;
        const std::string body = text.substr(0, text.size() - tail.size());
        if (body.size() <= std::strlen("call=x")) {
            continue; // not even the field's name fitted
        }
        ASSERT_EQ(body.substr(0, 10), "call=x v=\"") << capacity;
        ASSERT_EQ(body.back(), '"') << capacity;
        std::string kept;
        ASSERT_TRUE(unescape(body.substr(10, body.size() - 11), kept)) << capacity << ": " << body;
        ASSERT_EQ(expectedPlain.compare(0, kept.size(), kept), 0) << capacity;
    }
}

TEST(Writer, ValueThatFillsTheBufferExactlyIsStillClosed) {
    // Content limit = capacity - reserve; make prefix + value + quote one byte too long.
    const size_t capacity = 64;
    const size_t limit = capacity - ombrex::writerReserve;
    const std::string value(limit - 4, 'x'); // ` v="` is 4 bytes: the value fills the limit
    std::vector<char> buffer(capacity);
    ombrex::Writer w(buffer.data(), capacity);
    w.putQuoted(" v=", value.c_str());
    w.finish(true);
    const std::string text(buffer.data(), w.size());
    EXPECT_EQ(text, " v=\"" + value + "\"" + ombrex::truncationMarker + "\n");
}

TEST(Writer, NumbersAreWholeOrAbsent) {
    char buffer[ombrex::writerReserve + 5];
    ombrex::Writer w(buffer, sizeof buffer);
    EXPECT_TRUE(w.putSigned(-1234));
    EXPECT_FALSE(w.putUnsigned(99)); // 5 + 2 > 5: not a single digit of it
    w.finish(false);
    EXPECT_EQ(std::string(buffer, w.size()), std::string("-1234") + ombrex::truncationMarker);
}

TEST(Writer, ExtremeNumbers) {
    char buffer[128];
    ombrex::Writer w(buffer, sizeof buffer);
    w.putSigned(INT64_MIN);
    w.put(' ');
    w.putUnsigned(UINT64_MAX);
    w.put(' ');
    w.putUnsigned(7, 3);
    EXPECT_EQ(std::string(buffer, w.size()), "-9223372036854775808 18446744073709551615 007");
}

// A number is measured before it is written: every length, at both ends, as the C++ library
// writes it.
TEST(Writer, NumbersOfEveryLength) {
    std::vector<uint64_t> values = {0};
    for (uint64_t power = 10; power <= 10'000'000'000'000'000'000u; power *= 10) {
        values.push_back(power - 1);
        values.push_back(power);
        if (power > UINT64_MAX / 10) {
            break;
        }
    }
    for (const uint64_t value : values) {
        char buffer[64];
        ombrex::Writer w(buffer, sizeof buffer, 0);
        w.putUnsigned(value);
        EXPECT_EQ(std::string(buffer, w.size()), std::to_string(value));
        if (value <= uint64_t{INT64_MAX}) {
            const auto negative = -static_cast<int64_t>(value);
            ombrex::Writer s(buffer, sizeof buffer, 0);
            s.putSigned(negative);
            EXPECT_EQ(std::string(buffer, s.size()), std::to_string(negative));
        }
    }
}

// The byte search reads a word at a time: every start and end within a few words, at every
// alignment, with the byte sought at each place, absent, and repeated, against a plain search.
// A byte that differs from the one sought by one bit, or by the carry of the test, stands
// beside it.
TEST(Bytes, FindByteAgreesWithAPlainSearchAtEveryAlignment) {
    char text[40];
    for (const char sought : {'\n', '\0', '=', '\x80'}) {
        for (size_t place = 0; place <= sizeof text; ++place) {
            for (size_t i = 0; i < sizeof text; ++i) {
                text[i] = static_cast<char>(i % 3 == 0 ? sought ^ 1 : sought + 1);
            }
            if (place < sizeof text) {
                text[place] = sought;
                if (place + 5 < sizeof text) {
                    text[place + 5] = sought;
                }
            }
            for (size_t begin = 0; begin <= sizeof text; ++begin) {
                for (size_t end = begin; end <= sizeof text; ++end) {
                    char* expected = nullptr;
                    for (size_t i = begin; i < end && expected == nullptr; ++i) {
                        expected = text[i] == sought ? text + i : nullptr;
                    }
                    ASSERT_EQ(ombrex::findByte(text + begin, text + end, sought), expected)
                        << "byte " << int{sought} << " at " << place << " in [" << begin << ", "
                        << end << ")";
                }
            }
        }
    }
}

} // namespace
