#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock/Clock.h"
#include "platform/serial/SerialPort.h"
#include "sim/TalvinoDevice.h"

namespace sim {

// The port calls a test can make fail.
enum class SimCall { GetState, SetState, GetTimeouts, SetTimeouts, Purge, Write, Read, Close };

enum class Direction { PcToDevice, DeviceToPc };

// One event on a line: one write of the PC (all its bytes), or one byte the PC read.
struct TranscriptEvent {
    uint32_t Time = 0;  // virtual ms when it happened
    Direction Dir = Direction::PcToDevice;
    std::vector<uint8_t> Bytes;

    bool operator==(const TranscriptEvent&) const = default;
};

// Everything about one simulated COM port: the device on it, what the PC configured, what
// travelled, and the failures a test injected.
struct SimLine {
    explicit SimLine(TalvinoDevice device) : Device(std::move(device)) {}

    TalvinoDevice Device;
    bool Open = false;
    bool HungUp = false;
    platform::Dcb State;               // what the port runs with; GetState reads it
    platform::CommTimeouts Timeouts;   // what reads and writes obey
    std::deque<uint8_t> DeviceOutput;  // sent by the device, not yet read by the PC
    std::vector<TranscriptEvent> Transcript;
    std::vector<platform::Dcb> StatesSet;                    // every SetState, in order
    int OpenCount = 0;                                       // successful opens
    int PurgeCount = 0;                                      // successful purges
    platform::WinError OpenError = platform::kErrorSuccess;  // forced open failure
    std::map<SimCall, platform::WinError> Failures;          // calls that fail, with the code
};

// A serial backend on virtual time serving Talvino devices in-process. Ports are exclusive
// (a second open gets kErrorAccessDenied, an unknown number kErrorFileNotFound). A read with
// nothing to deliver costs the read time-out (multiplier x count + constant) on the clock and
// returns empty; a read with bytes waiting returns them at once. With pacing on, every byte on
// the line also costs its line time at the port's rate (11 bits: start, 8 data, parity, stop).
// A read returns at most the bytes already waiting; it does not wait for more.
// The backend must outlive the ports it opened.
class SimPort : public platform::SerialBackend {
  public:
    static constexpr uint32_t kBitsPerByte = 11;  // 8E1 framing: start, 8 data, parity, stop

    explicit SimPort(platform::VirtualClock& clock);
    ~SimPort() override;

    // Puts a device on COMn; returns its line, which stays valid for the backend's life.
    SimLine& AddDevice(int comNumber, TalvinoDevice device = TalvinoDevice());
    SimLine& Line(int comNumber);

    // Bytes the device sent earlier and nobody read: they wait for the PC's next read.
    void InjectDeviceOutput(int comNumber, const std::vector<uint8_t>& bytes);
    // Drops the line: reads and writes then fail with kErrorDeviceNotConnected.
    void HangUp(int comNumber);
    void SetPacing(bool on) { pacing_ = on; }

    platform::OpenResult Open(const std::string& path) override;

    platform::VirtualClock& Clock() { return clock_; }

  private:
    class Port;

    void ChargeLineTime(const SimLine& line, size_t bytes);

    platform::VirtualClock& clock_;
    std::map<int, std::unique_ptr<SimLine>> lines_;
    bool pacing_ = false;
    uint64_t lineTimeMicros_ = 0;  // line time charged but not yet a whole ms on the clock
};

}  // namespace sim
