#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "platform/serial/termios2_posix.h"

namespace platform::detail {

int ApplyTtyFlags(int fd, const TtyFlags& flags, uint32_t rate, bool rateInFlags) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return errno;
    }
    tio.c_iflag = flags.iflag;
    tio.c_oflag = flags.oflag;
    tio.c_cflag = flags.cflag;
    tio.c_lflag = flags.lflag;
    tio.c_cc[VMIN] = flags.vmin;
    tio.c_cc[VTIME] = flags.vtime;
    if (!rateInFlags) {
        // BOTHER in both the output and the input field: the rate comes from c_ospeed/c_ispeed.
        tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
        tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
        tio.c_ospeed = rate;
        tio.c_ispeed = rate;
    }
    if (ioctl(fd, TCSETS2, &tio) != 0) {
        return errno;
    }
    return 0;
}

int GetActualRate(int fd, uint32_t& rate) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return errno;
    }
    // The kernel fills c_ospeed from a B<rate> constant as well, so this is always the rate.
    rate = tio.c_ospeed;
    return 0;
}

}  // namespace platform::detail
