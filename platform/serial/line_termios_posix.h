#pragma once

#include <termios.h>

#include "platform/serial/SerialPort.h"

namespace platform::detail {

// Turns the tty's current settings into those the line settings ask for: raw, the framing, no
// flow control, reads that never block in the kernel, and the rate when it has a B<rate>
// constant (rateInFlags). kErrorSuccess, or why the settings cannot be had.
WinError MakeLineTermios(const Dcb& dcb, termios& tio, bool& rateInFlags);

}  // namespace platform::detail
