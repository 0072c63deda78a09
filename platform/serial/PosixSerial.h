#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "platform/portmap/PortMap.h"
#include "platform/serial/SerialPort.h"

namespace platform {

// Serial ports of a POSIX machine: "\\.\COMn" is resolved to a device node through the port map
// and opened exclusively (advisory lock plus exclusive tty mode, so that also a root process is
// refused). Close() always gives the descriptor back to the system, also when close() reports an
// error: on Linux the descriptor is released either way, and closing it again could close a
// descriptor that meanwhile belongs to someone else. The error is still returned.
class PosixSerialBackend : public SerialBackend {
  public:
    explicit PosixSerialBackend(PortMap& map);
    OpenResult Open(const std::string& path) override;

  private:
    PortMap& map_;
};

// Undoes the tty's marking of received bytes (PARMRK), so that bytes with a parity or framing
// error are delivered as they came: 0xFF 0xFF is a 0xFF byte, 0xFF 0x00 X is the byte X received
// with an error. Marks may be split across reads; the state carries over.
class ParityMarkDecoder {
  public:
    // Takes one byte as the tty delivered it and appends the data bytes it completes to out.
    void Feed(uint8_t in, std::deque<uint8_t>& out);
    void Reset() { state_ = State::kPlain; }

  private:
    enum class State { kPlain, kAfterMark, kAfterMarkZero };
    State state_ = State::kPlain;
};

}  // namespace platform
