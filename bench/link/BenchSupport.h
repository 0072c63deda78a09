#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial/ForwardingSerial.h"

namespace bench {

inline constexpr double kPurgePauseMs = 1000.0;  // Connect's pause before it purges the port
inline constexpr double kEndPauseMs = 500.0;     // Disconnect's pause before the end command
inline constexpr double kBitsPerByte = 11.0;     // 8E1 framing: start, 8 data, parity, stop
inline constexpr double kLineRate = 9600.0;      // bit/s the whole reading runs at

// Time the line needs to carry bytes at the reading's rate, in ms.
double LineMs(size_t bytes);

double Median(std::vector<double> values);

// Counts every byte that crosses the port, each way.
class CountingSerialBackend : public platform::ForwardingSerialBackend {
  public:
    using ForwardingSerialBackend::ForwardingSerialBackend;

    size_t Written = 0;
    size_t Received = 0;

  protected:
    std::unique_ptr<platform::SerialPort> Wrap(std::unique_ptr<platform::SerialPort> port) override;
};

// A port map of the benchmark's own, named to the simulator and readers it starts through
// TALVINO_PORT_MAP, so that it neither sees nor disturbs anyone else's ports. Removed at the end.
class PrivatePortMap {
  public:
    explicit PrivatePortMap(const std::string& prefix);
    ~PrivatePortMap();
    PrivatePortMap(const PrivatePortMap&) = delete;
    PrivatePortMap& operator=(const PrivatePortMap&) = delete;

    // False when the directory could not be made (the reason is on stderr).
    bool Ready() const { return !root_.empty(); }

  private:
    std::filesystem::path root_;
};

}  // namespace bench
