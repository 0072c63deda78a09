#pragma once

#include <cstdint>

// The bit rate a tty runs at, read with the kernel's own termios call (the C library's cannot
// show rates without a B<rate> constant); 0 when the call fails.
uint32_t TtyRate(int fd);
