// The descriptors that a record is done with: each is opened with O_CLOEXEC, so that the exec
// call that follows a record made before it closes them all in the kernel, without a system
// call of the library's. They are kept in the entry point's frame, and the entry point closes
// them as soon as the call returns (it failed then), and after a record made after the call.
//
// What the host may notice: the descriptors stay open for the time of the exec system call
// too. A thread that forks meanwhile gives its child copies of them (closed when that child
// executes anything, as during the record itself), and descriptors opened by other threads
// meanwhile get higher numbers. None is left behind: the exec closes them or the entry point
// does. A process near its limit of descriptors needs no more free ones than if each were
// closed at once: an open that fails for want of a descriptor closes those held and is tried
// again.
#ifndef OMBREX_LIBOMBREX_HELD_H
#define OMBREX_LIBOMBREX_HELD_H

#include <errno.h>
#include <stdint.h>

#include "libombrex/sys.h"

namespace ombrex {

class Held {
  public:
    Held() : count_(0) {}

    // The most that one record lets go of before the call: the configuration, the program
    // opened for its name, the three files of /proc/self and the destination.
    static constexpr unsigned capacity = 6;

    // A descriptor the record is done with.
    void letGo(int fd) {
        if (fd < 0) {
            return;
        }
        if (count_ < capacity && fd <= largest) {
            fds_[count_++] = static_cast<uint16_t>(fd);
            return;
        }
        sys::close(fd);
    }

    // The result of `open` (an open, socket or similar call that returns a descriptor or a
    // negative error), made again once those held are closed when it found no descriptor free.
    template <typename Open> int open(Open open) {
        int fd = open();
        if ((fd == -EMFILE || fd == -ENFILE) && count_ > 0) {
            closeAll();
            fd = open();
        }
        return fd;
    }

    void closeAll() {
        while (count_ > 0) {
            sys::close(fds_[--count_]);
        }
    }

  private:
    // Kept in 16 bits, since they stand on the caller's stack; a descriptor numbered higher
    // (a process with tens of thousands open) is closed at once.
    static constexpr int largest = 0xFFFF;

    uint16_t count_;
    uint16_t fds_[capacity];
};

} // namespace ombrex

#endif
