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

// Appended once to a record that had to be cut, in the key=value and in the JSON format.
inline constexpr char truncationMarker[] = " truncated=yes";
inline constexpr char jsonTruncationMarker[] = ",\"truncated\":true";

// Room for a closing quote, the marker and a line end; in JSON also the closing brace.
inline constexpr size_t writerReserve = 1 + sizeof truncationMarker - 1 + 1;
inline constexpr size_t jsonWriterReserve = 1 + sizeof jsonTruncationMarker - 1 + 1 + 1;

class Writer {
  public:
    Writer(char* buffer, size_t capacity, size_t reserve = writerReserve);

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
    //
    // With `json`, the same escaped text becomes the content of a JSON string: each backslash
    // and quote of it gets a backslash of its own, so that decoding the JSON string gives back
    // exactly the escaped text, which decodes to the original bytes.
    void putQuoted(const char* prefix, const char* value, bool json = false);

    // The same with the prefix in three parts, lead, name and tail (`,"` `cwd` `":`).
    void putQuoted(const char* lead, const char* name, const char* tail, const char* value,
                   bool json);

    // True when count more bytes fit; otherwise false, and the writer is full from then on.
    bool room(size_t count);

    // Ends the text: the marker if something did not fit, then the line end if wanted.
    void finish(bool lineEnd);

    // Ends the text with `marker` if something did not fit, then `end` (both from the reserve).
    void finish(const char* marker, const char* end);

    bool full() const {
        return full_;
    }
    size_t size() const {
        return length_;
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
