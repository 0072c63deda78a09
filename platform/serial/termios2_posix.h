#pragma once

#include <cstdint>

// The kernel's own termios interface. It sets rates that have no B<rate> constant, and it does
// not second-guess the result the way the C library's tcsetattr() does (which fails when a
// pseudo-terminal drops the parity bits, although everything else was applied). It lives in a
// translation unit of its own because its headers and the C library's <termios.h> clash.
namespace platform::detail {

// The mode words of a tty, as the C library's termios holds them (the flag values are the
// kernel's in both interfaces).
struct TtyFlags {
    uint32_t iflag = 0;
    uint32_t oflag = 0;
    uint32_t cflag = 0;
    uint32_t lflag = 0;
    uint8_t vmin = 0;
    uint8_t vtime = 0;
};

// Applies the flags in one call. rateInFlags: cflag already holds the rate's B<rate> constant;
// otherwise the rate is set as an arbitrary one. 0 or the errno of the failure.
int ApplyTtyFlags(int fd, const TtyFlags& flags, uint32_t rate, bool rateInFlags);

// The tty's current output rate in bit/s, whatever way it was set; 0 or the errno.
int GetActualRate(int fd, uint32_t& rate);

}  // namespace platform::detail
