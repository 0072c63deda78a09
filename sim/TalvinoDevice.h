#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// What a Talvino device is: its identity and the memory the PC reads from.
struct TalvinoConfig {
    static constexpr size_t kMemorySize = 65536;  // bytes addressable with a 16-bit address

    TalvinoConfig();

    std::string TypeCode = "W38";  // sent character by character; exactly 3 characters are sent
    uint8_t CircuitVersion = 3;
    std::vector<uint8_t> Memory;  // kMemorySize bytes

    // Serial number, little-endian at 1016..1019.
    void SetSerialNumber(uint32_t serialNumber);
    uint32_t SerialNumber() const;
    // Software version, major at 1021, minor at 1022.
    void SetSoftwareVersion(uint8_t major, uint8_t minor);
};

inline constexpr uint32_t kDefaultSerialNumber = 12345678;
inline constexpr uint16_t kSerialNumberAddress = 1016;   // least significant byte first
inline constexpr uint16_t kSoftwareMajorAddress = 1021;  // software version, major number
inline constexpr uint16_t kSoftwareMinorAddress = 1022;  // software version, minor number
inline constexpr uint8_t kDefaultSoftwareMajor = 1;
inline constexpr uint8_t kDefaultSoftwareMinor = 2;

// Misbehaviours a test or the simulator can switch on.
struct TalvinoFaults {
    bool Silent = false;                       // never answers anything
    bool RefuseConnection = false;             // answers the connection request with a refusal
    std::optional<size_t> StopAnsweringAfter;  // goes silent once it has sent this many bytes
    bool RefuseSpeedChange = false;     // answers a speed change with a refusal instead of the Ack
    bool LowerCaseHex = false;          // sends its hexadecimal answers in lower case
    std::optional<size_t> HangUpAfter;  // drops the line once it has sent this many bytes
};

// A Talvino device as a pure state machine: one byte from the PC in, the bytes the device
// sends back out. No time, no I/O; deterministic.
//
// The device leads nothing: it answers commands. A hexadecimal answer goes out one character
// at a time, and the device waits for the PC's Ack after each character before the next.
// While not connected it ignores every byte except the connection request. A byte other than
// Ack while it waits for an Ack abandons the rest of the answer and counts as a new command,
// which is how the device falls back in step after the PC gave up on an answer.
class TalvinoDevice {
  public:
    static constexpr uint8_t kCmdConnect = 0x80;             // connection request
    static constexpr uint8_t kRepAccepted = 0x81;            // the connection is open
    static constexpr uint8_t kAck = 0x84;                    // character received / speed accepted
    static constexpr uint8_t kRepRefused = 0x85;             // request refused
    static constexpr uint8_t kCmdEnd = 0x04;                 // end of the connection
    static constexpr uint8_t kCmdReadType = 0x86;            // send the type code
    static constexpr uint8_t kCmdReadCircuitVersion = 0x87;  // send the circuit version
    static constexpr uint8_t kCmdReadMemory = 0x89;     // send a memory byte; 4 hex chars follow
    static constexpr uint8_t kCmdSetSpeed = 0x9E;       // change speed; 4 hex chars follow
    static constexpr uint8_t kEndAnswer = 0x00;         // the byte answering kCmdEnd
    static constexpr uint8_t kAfterSpeedAck = 0x00;     // the byte following the speed Ack
    static constexpr uint32_t kInitialLineRate = 9600;  // bit/s after power-on

    explicit TalvinoDevice(TalvinoConfig config = {}, TalvinoFaults faults = {});

    // Feeds one byte sent by the PC; returns what the device sends in reply (often nothing).
    std::vector<uint8_t> Receive(uint8_t byteFromPc);

    bool Connected() const { return connected_; }
    // The rate the device's side of the line runs at, bit/s; a speed change sets it.
    uint32_t LineRate() const { return lineRate_; }
    // True once the device dropped the line (HangUpAfter); its transport should then fail.
    bool HungUp() const { return hungUp_; }
    // Bytes the device has sent so far (those swallowed by a fault not counted).
    size_t BytesSent() const { return bytesSent_; }

    TalvinoConfig& Config() { return config_; }
    const TalvinoConfig& Config() const { return config_; }
    TalvinoFaults& Faults() { return faults_; }

    // The rate of a speed code, or 0 for a code the device does not know.
    static uint32_t RateOfSpeedCode(uint16_t code);

  private:
    enum class State { Command, Parameter, AwaitAck };

    void Command(uint8_t byte, std::vector<uint8_t>& out);
    void Execute(std::vector<uint8_t>& out);
    void QueueHex(uint8_t value);
    void SendNextCharacter(std::vector<uint8_t>& out);
    void Emit(uint8_t byte, std::vector<uint8_t>& out);

    TalvinoConfig config_;
    TalvinoFaults faults_;
    State state_ = State::Command;
    bool connected_ = false;
    bool hungUp_ = false;
    uint32_t lineRate_ = kInitialLineRate;
    size_t bytesSent_ = 0;
    uint8_t command_ = 0;          // the command whose parameter is being received
    std::string parameter_;        // hexadecimal characters of the parameter so far
    std::deque<uint8_t> pending_;  // characters of the answer not yet sent
};

}  // namespace sim
