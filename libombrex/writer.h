// A bounded text builder for the record path: no allocation, no locale, async-signal-safe.
//
// Every append is all-or-nothing, so an escape sequence or a number is never cut in half. The
// last `reserve` bytes of the buffer are kept back for what must close a record that did not
// fit: the closing quote of the value being written and the truncation marker.
#ifndef OMBREX_LIBOMBREX_WRITER_H
#define OMBREX_LIBOMBREX_WRITER_H

#include <stddef.h>
#include <stdint.h>
#include <sys/uio.h>

namespace ombrex {

// Appended once to a record that had to be cut, in the key=value and in the JSON format.
inline constexpr char truncationMarker[] = " truncated=yes";
inline constexpr char jsonTruncationMarker[] = ",\"truncated\":true";

// Room for a closing quote, the marker and a line end; in JSON also the closing brace.
inline constexpr size_t writerReserve = 1 + sizeof truncationMarker - 1 + 1;
inline constexpr size_t jsonWriterReserve = 1 + sizeof jsonTruncationMarker - 1 + 1 + 1;

// The pieces of a text whose longer values are not copied: the bytes that the writer built,
// and between them values of the caller's that need no escape, where they lie in memory. The
// whole text is the pieces one after another, for writev(2) or sendmsg(2).
struct Pieces {
    struct iovec* iov;
    unsigned capacity; // at least 1
    unsigned count;
};

// A value (or the part of it that needs no escape) at least this long is a piece of its own
// rather than a copy: the pieces cost the kernel a little, the copy a page of its own for a
// long record and every byte of it.
inline constexpr size_t shortestPiece = 32;

class Writer {
  public:
    // Without `pieces`, the text is the buffer's first size() bytes; with them, the pieces,
    // which finish() completes.
    Writer(char* buffer, size_t capacity, size_t reserve = writerReserve, Pieces* pieces = nullptr);

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
    // The length of the whole text, pieces included.
    size_t size() const {
        return length_;
    }

  private:
    void putReserved(const char* bytes, size_t count);
    // Appends bytes to the buffer that were checked to fit.
    void append(const char* bytes, size_t count);
    // The longest start of the run (whole characters that need no escape) that fits; false
    // when that is not all of it, and the writer is full from then on.
    bool putRun(const char* run, size_t count);
    // The bytes built since the last piece, as a piece.
    void closePiece();

    // Sizes in 32 bits: a record is at most a few KiB, and the writer stands on the stack.
    char* buffer_;
    Pieces* pieces_;
    uint32_t capacity_;
    uint32_t limit_;
    uint32_t length_; // of the whole text
    uint32_t used_;   // of the buffer
    uint32_t built_;  // where the bytes built since the last piece start
    bool full_;
};

} // namespace ombrex

#endif
