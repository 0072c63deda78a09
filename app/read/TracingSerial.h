#pragma once

#include <chrono>
#include <memory>
#include <ostream>
#include <string>

#include "platform/serial/ForwardingSerial.h"

namespace read_tool {

// Writes every byte that crosses a port to a stream, one line per transfer, with the seconds
// since the backend was made and the direction, as the simulator traces its side:
//   "   1.004213 PC> 30 33"   "   1.006871 <DEV 34"
// Opens, purges and closes get a line of their own, so that the pauses between bytes read
// plainly. A read that times out writes nothing: no byte crossed.
class TracingSerialBackend : public platform::ForwardingSerialBackend {
  public:
    TracingSerialBackend(platform::SerialBackend& inner, std::ostream& trace);
    platform::OpenResult Open(const std::string& path) override;

    // One trace line: the time stamp, then the text.
    void Line(const std::string& text);

  protected:
    std::unique_ptr<platform::SerialPort> Wrap(std::unique_ptr<platform::SerialPort> port) override;

  private:
    std::ostream& trace_;
    std::chrono::steady_clock::time_point start_;
};

// "89 30 33": the bytes in upper-case hexadecimal, blank-separated.
std::string HexBytes(const uint8_t* bytes, size_t count);

}  // namespace read_tool
