// The texts of one record (the configuration, the file found along PATH, the program's file,
// the working directory, the record itself), one after another in one buffer, each taking
// only the room it uses. A page that a record touches for the first time costs a page fault,
// the largest cost of a record on some machines; packed like this, a typical record touches
// one or two pages instead of one per text.
#ifndef OMBREX_LIBOMBREX_TEXTS_H
#define OMBREX_LIBOMBREX_TEXTS_H

#include <stddef.h>

namespace ombrex {

class TextArea {
  public:
    TextArea(char* begin, size_t capacity) : begin_(begin), capacity_(capacity), used_(0) {}

    // Where the next text goes, and how much room is left for it.
    char* next() const {
        return begin_ + used_;
    }
    size_t room() const {
        return capacity_ - used_;
    }

    // Keeps the text of this length at next() (and its terminator); returns it.
    const char* keep(size_t length) {
        char* const text = begin_ + used_;
        used_ += length + 1 <= room() ? length + 1 : room();
        return text;
    }

  private:
    char* begin_;
    size_t capacity_;
    size_t used_;
};

} // namespace ombrex

#endif
