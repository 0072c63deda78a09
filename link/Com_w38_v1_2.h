#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock/Clock.h"
#include "platform/serial/SerialPort.h"

// Result of every device link operation: 0 for success, a Windows error code after a failed
// port call, or one of the link's own codes below.
using LinkResult = int32_t;

inline constexpr LinkResult ErrNotConnected = 100001;  // no device connection is open
inline constexpr LinkResult ErrNoReply = 100002;       // nothing came within the time allowed
inline constexpr LinkResult ErrSpeedRefused = 100003;  // the device did not accept a speed change
inline constexpr LinkResult ErrSlotRange = 100012;     // slot index not below the slot count
inline constexpr LinkResult ErrPortNotOpen = 100020;   // the serial port is closed
inline constexpr LinkResult ErrWrongDevice = 100024;   // the device's type code is not ours

// The device family name the windows show.
const char* DeviceName();

// What the link needs from the machine. The program has no console, so the real platform
// never sees a key press.
struct LinkPlatform {
    platform::SerialBackend& Serial;
    platform::Clock& Clock;
    std::function<bool()> ConsoleKeyPressed;  // a key press waits at the console; empty: never

    static LinkPlatform Real();
};

// One entry of the slot table the link carries from construction to destruction.
struct Slot {
    int32_t Index = 0;
    std::array<int32_t, 5> Fields{};
    std::array<uint8_t, 4> Flags{};
    std::unique_ptr<uint8_t[]> Buffer;  // owned; none at construction
};

// The link to a Talvino device: the serial port COMn and the byte protocol spoken on it.
// Every operation returns its outcome and keeps it in LastResult; none throws; out values are
// written only when the read that fills them succeeds. Blocks for the pauses and time-outs.
class CW38 {
  public:
    static constexpr uint8_t CmdConnect = 0x80;             // connection request
    static constexpr uint8_t RepAccepted = 0x81;            // the device accepts the connection
    static constexpr uint8_t RepRefused = 0x85;             // the device refuses the connection
    static constexpr uint8_t Ack = 0x84;                    // character received / speed accepted
    static constexpr uint8_t CmdEnd = 0x04;                 // end of the connection
    static constexpr uint8_t CmdReadType = 0x86;            // send the 3-character type code
    static constexpr uint8_t CmdReadCircuitVersion = 0x87;  // send the circuit version
    static constexpr uint8_t CmdReadMemory = 0x89;  // send the byte at the address that follows
    static constexpr uint8_t CmdSetSpeed = 0x9E;    // change to the speed code that follows

    static constexpr uint32_t kSlotCount = 600;  // entries in the slot table

    explicit CW38(LinkPlatform platform = LinkPlatform::Real());
    ~CW38();
    CW38(const CW38&) = delete;
    CW38& operator=(const CW38&) = delete;

    // Serial port half.
    void SetPortNumber(int32_t number);
    LinkResult OpenPort();
    LinkResult ClosePort();
    LinkResult SetBaudRate(int32_t rate);
    LinkResult PurgePort();
    LinkResult WriteRawByte(uint8_t byte);
    LinkResult WriteBytes(const uint8_t* bytes, int32_t count);
    LinkResult ReadRawByte(int32_t& value);
    uint32_t SlotCount() const { return kSlotCount; }
    bool CheckSlotIndex(uint32_t index);
    LinkResult FreeSlotBuffer(int32_t index);

    // Device protocol.
    LinkResult Connect(int32_t seconds);
    LinkResult Disconnect();
    LinkResult ChangeLinkSpeed(int32_t rate);
    LinkResult ReadDeviceType(char (&buffer)[4]);
    LinkResult CheckDeviceType();
    LinkResult ReadByte(uint32_t address, int32_t& value);
    LinkResult ReadWord(uint32_t address, int32_t& value);
    LinkResult ReadSerialNumber(uint32_t& value);
    LinkResult ReadCircuitVersion(int32_t& value);
    LinkResult ReadSoftwareVersion(int32_t& major, int32_t& minor);
    LinkResult WriteHexByte(uint8_t byte);
    LinkResult ReadHexByte(int32_t& value);
    // The value of two received hexadecimal characters, unvalidated: 'f','f' gives 799.
    static int32_t HexPairToByte(int32_t first, int32_t second);

    // The COM number of the open port; 0 when the port is closed.
    int32_t OpenComNumber() const { return PortHandle ? openComNumber_ : 0; }
    // The type code the last ReadDeviceType received whole; empty when it failed or none ran.
    const std::string& LastTypeCode() const { return lastTypeCode_; }

    std::unique_ptr<platform::SerialPort> PortHandle;  // the open port; null when closed
    platform::Dcb LineSettings;                        // what the port is given
    platform::Dcb SavedLineSettings;                   // as the last open found them
    platform::CommTimeouts Timeouts;                   // what the port is given
    platform::CommTimeouts SavedTimeouts;              // as the last open found them
    int32_t ComNumber;                                 // COMn the next open opens
    int32_t Connected = 0;                             // 1 while a device connection is open
    LinkResult LastResult = 0;                         // outcome of the last operation
    std::array<Slot, kSlotCount> Slots;
    std::array<int32_t, 4> ReservedSlots;  // the last four slot indexes
    std::vector<int32_t> SlotList;

  private:
    LinkResult Done(LinkResult result);
    LinkResult PortError(platform::WinError error);

    platform::SerialBackend& serial_;
    platform::Clock& clock_;
    std::function<bool()> consoleKeyPressed_;
    int32_t openComNumber_ = 0;  // the number PortHandle was opened with
    std::string lastTypeCode_;   // kept for callers that report the device they met
};
