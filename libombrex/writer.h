// A bounded text builder for the record path: no allocation, no locale, async-signal-safe.
//
// Every append is all-or-nothing, so an escape sequence or a number is never cut in half. The
// last `reserve` bytes of the buffer are kept back for what must close a record that did not
// fit: the closing quote of the value being written and the truncation marker.
#ifndef OMBREX_LIBOMBREX_WRITER_H
#define OMBREX_LIBOMBREX_WRITER_H

#include <stddef.h>
#include <stdint.h>

namespace ombrex {

// Appended once to a record that had to be cut.
inline constexpr char truncationMarker[] = " truncated=yes";

// Room for a closing quote, the marker and a line end.
inline constexpr size_t writerReserve = 1 + sizeof truncationMarker - 1 + 1;

class Writer {
  public:
    Writer(char* buffer, size_t capacity);

    // False (and the writer is full from then on) when the bytes do not fit.
    bool put(const char* bytes, size_t count);
    bool put(const char* text);
    bool put(char c);
    bool putUnsigned(uint64_t value, unsigned minDigits = 1);
    bool putSigned(int64_t value);

    // Appends prefix (e.g. ` cwd=`) and the value in double quotes, escaped so that it stays one
    // field of one line: quote, backslash, control characters, invalid UTF-8 and Unicode line or
    // direction controls are written as escapes. A value that does not fit is cut at an escape
    // boundary and still closed with its quote; nothing is written if even the prefix does not
    // fit. A null value is written as empty text.
    void putQuoted(const char* prefix, const char* value);

    // Ends the text: the marker if something did not fit, then the line end if wanted.
    void finish(bool lineEnd);

    bool full() const {
        return full_;
    }
    size_t size() const {
        return length_;
    }
    const char* data() const {
        return buffer_;
    }

  private:
    void putReserved(const char* bytes, size_t count);

    char* buffer_;
    size_t capacity_;
    size_t limit_;
    size_t length_;
    bool full_;
};

} // namespace ombrex

#endif
