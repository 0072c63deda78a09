#pragma once

#include <cstdint>

namespace platform {

// Error codes as the system's own API reports them (GetLastError). 0 is success.
using WinError = uint32_t;

inline constexpr WinError kErrorSuccess = 0;
inline constexpr WinError kErrorFileNotFound = 2;  // no such port
inline constexpr WinError kErrorAccessDenied = 5;  // port held by another program, or no permission
inline constexpr WinError kErrorInvalidHandle = 6;  // the port is no longer usable
inline constexpr WinError kErrorNotEnoughMemory = 8;
inline constexpr WinError kErrorWriteFault = 29;
inline constexpr WinError kErrorReadFault = 30;
inline constexpr WinError kErrorGenFailure =
    31;  // a device attached to the system is not functioning
inline constexpr WinError kErrorNotSupported = 50;
inline constexpr WinError kErrorInvalidParameter = 87;
inline constexpr WinError kErrorBadPathname = 161;
inline constexpr WinError kErrorOperationAborted = 995;
inline constexpr WinError kErrorIoDevice =
    1117;  // the request could not be performed: I/O device error
inline constexpr WinError kErrorDeviceNotConnected = 1167;  // the device is gone
inline constexpr WinError kErrorTimeout = 1460;

// The one place where an errno value becomes the code the system understands.
WinError WinErrorFromErrno(int err);

}  // namespace platform
