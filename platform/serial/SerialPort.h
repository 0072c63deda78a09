#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/errors/WinError.h"

namespace platform {

// Line settings of a serial port, field for field as the system's device-control block holds
// them. Bit fields are plain integers here (0 or 1, or the small enumerations noted).
struct Dcb {
    uint32_t DCBlength = 0;
    uint32_t BaudRate = 0;
    uint32_t fBinary = 0;
    uint32_t fParity = 0;  // 1: parity is checked on reception
    uint32_t fOutxCtsFlow = 0;
    uint32_t fOutxDsrFlow = 0;
    uint32_t fDtrControl = 0;  // kDtrControl*
    uint32_t fDsrSensitivity = 0;
    uint32_t fTXContinueOnXoff = 0;
    uint32_t fOutX = 0;
    uint32_t fInX = 0;
    uint32_t fErrorChar = 0;
    uint32_t fNull = 0;
    uint32_t fRtsControl = 0;  // kRtsControl*
    uint32_t fAbortOnError = 0;
    uint32_t fDummy2 = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;    // kParity*
    uint8_t StopBits = 0;  // kStopBits*
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;

    bool operator==(const Dcb&) const = default;
};

inline constexpr uint32_t kDtrControlDisable = 0;
inline constexpr uint32_t kDtrControlEnable = 1;
inline constexpr uint32_t kRtsControlDisable = 0;
inline constexpr uint32_t kRtsControlEnable = 1;
inline constexpr uint8_t kParityNone = 0;
inline constexpr uint8_t kParityOdd = 1;
inline constexpr uint8_t kParityEven = 2;
inline constexpr uint8_t kStopBitsOne = 0;
inline constexpr uint8_t kStopBitsTwo = 2;

// Read and write time-outs of a port, in milliseconds, with the system's meaning:
// a read of n bytes ends at the latest after ReadTotalTimeoutMultiplier * n +
// ReadTotalTimeoutConstant, or when ReadIntervalTimeout passes between two bytes; it then
// succeeds with the bytes it has, possibly none. A write of n bytes ends at the latest after
// WriteTotalTimeoutMultiplier * n + WriteTotalTimeoutConstant and succeeds with the count
// written so far. A zero field disables that time-out.
struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;

    bool operator==(const CommTimeouts&) const = default;
};

// Purge flags: abandon pending transfers and empty the buffers.
inline constexpr uint32_t kPurgeTxAbort = 0x01;
inline constexpr uint32_t kPurgeRxAbort = 0x02;
inline constexpr uint32_t kPurgeTxClear = 0x04;
inline constexpr uint32_t kPurgeRxClear = 0x08;

// One open serial port. Every operation returns kErrorSuccess or the code of the failure;
// transfers are synchronous and bounded by the port's time-outs. Destroying an open port
// closes it.
class SerialPort {
  public:
    virtual ~SerialPort() = default;
    virtual WinError GetState(Dcb& out) = 0;
    virtual WinError SetState(const Dcb& dcb) = 0;
    virtual WinError GetTimeouts(CommTimeouts& out) = 0;
    virtual WinError SetTimeouts(const CommTimeouts& timeouts) = 0;
    virtual WinError Purge(uint32_t flags) = 0;
    // Success also when the write time-out ran out first; written then tells how far it got.
    virtual WinError Write(const uint8_t* data, size_t count, size_t& written) = 0;
    // Success with received == 0 when the read time-out ran out without a byte.
    virtual WinError Read(uint8_t* buffer, size_t count, size_t& received) = 0;
    // Releases the port. On failure the port stays open and usable for another Close.
    virtual WinError Close() = 0;
};

struct OpenResult {
    std::unique_ptr<SerialPort> port;  // null when the open failed
    WinError error = kErrorSuccess;
};

// Opens ports by the system's path for them, "\\.\COMn". The open is exclusive: a second
// opener of the same port gets kErrorAccessDenied; a port that does not exist
// kErrorFileNotFound.
class SerialBackend {
  public:
    virtual ~SerialBackend() = default;
    virtual OpenResult Open(const std::string& path) = 0;
};

// The machine's serial ports, COM numbers resolved through the serial port map.
SerialBackend& RealSerialBackend();

// "\\.\COM12" -> 12; 0 when the path does not name a COM port this way.
int ComNumberFromPath(const std::string& path);

}  // namespace platform
