#include "link/Com_w38_v1_2.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

constexpr int32_t kDefaultComNumber = 2;                 // COMn used when no valid number was given
constexpr const char* kPortPathFormat = "\\\\.\\COM%i";  // the system's path of port COMn
constexpr size_t kPortPathSize = 32;                     // ample for any 32-bit number

constexpr uint32_t kDcbLength = 28;     // size of the system's line settings structure
constexpr int32_t kDefaultRate = 9600;  // bit/s the line starts at and falls back to
constexpr uint16_t kFlowLimit = 100;    // XonLim and XoffLim, bytes
constexpr uint8_t kDataBits = 8;        // data bits per character
constexpr char kXonChar = 0x01;         // XON character (flow control itself is off)
constexpr char kXoffChar = 0x02;        // XOFF character (flow control itself is off)
constexpr char kErrorChar = 0x04;       // replacement character (replacement itself is off)
constexpr char kEvtChar = 0x03;         // event character

constexpr uint32_t kReadIntervalMs = 500;    // longest gap between two received bytes, ms
constexpr uint32_t kReadPerByteMs = 100;     // read time-out per byte asked for, ms
constexpr uint32_t kReadConstantMs = 1000;   // read time-out on top of the per-byte part, ms
constexpr uint32_t kWritePerByteMs = 100;    // write time-out per byte, ms
constexpr uint32_t kWriteConstantMs = 1000;  // write time-out on top of the per-byte part, ms

// Abandon both directions' transfers and empty both buffers.
constexpr uint32_t kPurgeAll = platform::kPurgeTxAbort | platform::kPurgeRxAbort |
                               platform::kPurgeTxClear | platform::kPurgeRxClear;
constexpr uint32_t kPurgePauseMs = 1000;  // lets the device finish what it was sending, ms
constexpr uint32_t kEndPauseMs = 500;     // lets the device settle at 9600 before the end, ms
constexpr int64_t kMsPerSecond = 1000;    // Connect's deadline is given in seconds

constexpr int32_t kNoReply = -1;  // Connect's last reply before any byte came

constexpr uint32_t kSerialNumberAddress = 1016;   // 4 bytes, least significant first
constexpr uint32_t kSoftwareMajorAddress = 1021;  // software version, major number
constexpr uint32_t kSoftwareMinorAddress = 1022;  // software version, minor number
constexpr char kExpectedType[] = "W38";           // the only type code this program reads
constexpr size_t kTypeLength = 3;                 // characters of a type code

// Rates the port accepts as they are; any other becomes kDefaultRate.
constexpr int32_t kPortRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                  19200, 38400, 56000, 57600, 115200, 128000, 256000};

struct SpeedCode {
    int32_t Rate;   // bit/s
    uint16_t Code;  // what the device is told for it
};

// Speed codes of the device; a rate not listed is taken as 9600.
constexpr SpeedCode kSpeedCodes[] = {
    {4800, 1665}, {9600, 832},  {14400, 554}, {19200, 416}, {38400, 207},
    {56000, 142}, {57600, 138}, {115200, 68}, {128000, 61}, {256000, 30},
};
constexpr SpeedCode kDefaultSpeed = {9600, 832};  // for every rate the table lacks

platform::Dcb InitialLineSettings() {
    platform::Dcb dcb;
    dcb.DCBlength = kDcbLength;
    dcb.BaudRate = kDefaultRate;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fDtrControl = platform::kDtrControlDisable;
    dcb.fRtsControl = platform::kRtsControlEnable;
    dcb.XonLim = kFlowLimit;
    dcb.XoffLim = kFlowLimit;
    dcb.ByteSize = kDataBits;
    dcb.Parity = platform::kParityEven;
    dcb.StopBits = platform::kStopBitsOne;
    dcb.XonChar = kXonChar;
    dcb.XoffChar = kXoffChar;
    dcb.ErrorChar = kErrorChar;
    dcb.EvtChar = kEvtChar;
    return dcb;
}

platform::CommTimeouts InitialTimeouts() {
    return {kReadIntervalMs, kReadPerByteMs, kReadConstantMs, kWritePerByteMs, kWriteConstantMs};
}

}  // namespace

const char* DeviceName() {
    return "Talvino";
}

CW38::CW38(LinkPlatform platform)
    : LineSettings(InitialLineSettings()),
      Timeouts(InitialTimeouts()),
      ComNumber(kDefaultComNumber),
      ReservedSlots{596, 597, 598, 599},
      serial_(platform.Serial),
      clock_(platform.Clock),
      consoleKeyPressed_(std::move(platform.ConsoleKeyPressed)) {
    for (uint32_t i = 0; i < kSlotCount; ++i) {
        Slots[i].Index = static_cast<int32_t>(i);
        Slots[i].Flags =
            i == 0 ? std::array<uint8_t, 4>{1, 0, 0, 0} : std::array<uint8_t, 4>{1, 1, 1, 0};
    }
}

CW38::~CW38() {
    Disconnect();
    ClosePort();
    for (int32_t i = 1; i < static_cast<int32_t>(kSlotCount); ++i) {
        FreeSlotBuffer(i);
    }
    SlotList.clear();
    SlotList.shrink_to_fit();
}

LinkResult CW38::Done(LinkResult result) {
    LastResult = result;
    return result;
}

LinkResult CW38::PortError(platform::WinError error) {
    return Done(static_cast<LinkResult>(error));
}

// ---- Serial port half ----

void CW38::SetPortNumber(int32_t number) {
    ComNumber = number > 0 ? number : kDefaultComNumber;
}

LinkResult CW38::OpenPort() {
    if (const LinkResult closed = ClosePort(); closed != 0) {
        return Done(closed);
    }
    char path[kPortPathSize];
    std::snprintf(path, sizeof path, kPortPathFormat, ComNumber);
    platform::OpenResult opened = serial_.Open(path);
    if (!opened.port) {
        return PortError(opened.error);
    }
    PortHandle = std::move(opened.port);
    openComNumber_ = ComNumber;
    // A step that fails leaves the port open, configured as far as the steps before got.
    if (const auto error = PortHandle->GetState(SavedLineSettings)) {
        return PortError(error);
    }
    SetBaudRate(kDefaultRate);
    if (const auto error = PortHandle->SetState(LineSettings)) {
        return PortError(error);
    }
    if (const auto error = PortHandle->GetTimeouts(SavedTimeouts)) {
        return PortError(error);
    }
    if (const auto error = PortHandle->SetTimeouts(Timeouts)) {
        return PortError(error);
    }
    return Done(0);
}

LinkResult CW38::ClosePort() {
    LinkResult result = 0;
    if (PortHandle) {
        Disconnect();
        if (const auto error = PortHandle->Close()) {
            result = static_cast<LinkResult>(error);
        } else {
            PortHandle.reset();
        }
    }
    Connected = 0;
    return Done(result);
}

LinkResult CW38::SetBaudRate(int32_t rate) {
    LastResult = 0;
    int32_t chosen = kDefaultRate;
    for (const int32_t known : kPortRates) {
        if (known == rate) {
            chosen = rate;
        }
    }
    LineSettings.BaudRate = static_cast<uint32_t>(chosen);
    if (PortHandle) {
        if (const auto error = PortHandle->SetState(LineSettings)) {
            return PortError(error);
        }
    }
    return Done(0);
}

LinkResult CW38::PurgePort() {
    if (!PortHandle) {
        return Done(ErrPortNotOpen);
    }
    clock_.Sleep(kPurgePauseMs);
    return PortError(PortHandle->Purge(kPurgeAll));
}

LinkResult CW38::WriteRawByte(uint8_t byte) {
    return WriteBytes(&byte, 1);
}

LinkResult CW38::WriteBytes(const uint8_t* bytes, int32_t count) {
    if (!PortHandle) {
        return Done(ErrPortNotOpen);
    }
    // A negative count writes nothing rather than reading far past the caller's bytes.
    size_t written = 0;
    const size_t size = count > 0 ? static_cast<size_t>(count) : 0;
    // The count written is not looked at: a write cut short by its time-out still succeeds.
    return PortError(PortHandle->Write(bytes, size, written));
}

LinkResult CW38::ReadRawByte(int32_t& value) {
    if (!PortHandle) {
        return Done(ErrPortNotOpen);
    }
    uint8_t byte = 0;
    size_t received = 0;
    if (const auto error = PortHandle->Read(&byte, 1, received)) {
        return PortError(error);
    }
    if (received == 0) {
        return Done(ErrNoReply);
    }
    value = byte;
    return Done(0);
}

bool CW38::CheckSlotIndex(uint32_t index) {
    if (index < SlotCount()) {
        Done(0);
        return true;
    }
    Done(ErrSlotRange);
    return false;
}

LinkResult CW38::FreeSlotBuffer(int32_t index) {
    // A negative index is far out of range once taken as unsigned.
    if (!CheckSlotIndex(static_cast<uint32_t>(index))) {
        return Done(ErrSlotRange);
    }
    Slots[static_cast<size_t>(index)].Buffer.reset();
    return Done(0);
}

// ---- Device protocol ----

LinkResult CW38::Connect(int32_t seconds) {
    // A port left open on another number than the one now chosen is reopened on the new one.
    if (!PortHandle || openComNumber_ != ComNumber) {
        if (const LinkResult opened = OpenPort(); opened != 0) {
            return opened;
        }
    }
    // The deadline is kept as a start tick and a span, and expiry tested on the ticks elapsed,
    // so that the tick count wrapping around 2^32 neither ends the wait early nor late.
    const bool hasDeadline = seconds != 0;
    const uint32_t start = clock_.GetTickCount();
    const int64_t spanMs = static_cast<int64_t>(seconds) * kMsPerSecond;
    bool expired = false;

    PurgePort();
    LastResult = 0;
    int32_t lastReply = kNoReply;
    while (true) {
        if (const LinkResult written = WriteRawByte(CmdConnect); written != 0) {
            if (written != ErrPortNotOpen) {
                // The port itself failed (an adapter unplugged): let it go, so that the next
                // Connect opens it afresh instead of failing on a dead handle for ever. There is
                // no device to say goodbye to.
                Connected = 0;
                ClosePort();
                LastResult = written;
            }
            break;
        }
        int32_t reply = 0;
        const LinkResult read = ReadRawByte(reply);
        if (read == 0) {
            lastReply = reply;
            if (reply == RepRefused) {
                // The device turned us away: give the port up.
                PurgePort();
                Disconnect();
                ClosePort();
            }
        } else if (read == ErrNoReply) {
            LastResult = 0;
        } else {
            PurgePort();
            Disconnect();
            ClosePort();
        }
        if (hasDeadline) {
            const uint32_t elapsed = clock_.GetTickCount() - start;
            expired = static_cast<int64_t>(elapsed) >= spanMs;
        }
        if (expired || LastResult != 0 || lastReply == RepAccepted) {
            break;
        }
        if (consoleKeyPressed_ && consoleKeyPressed_()) {
            break;
        }
    }
    if (lastReply == RepAccepted) {
        Connected = 1;
        return Done(0);
    }
    Connected = 0;
    return Done(expired ? ErrNoReply : LastResult);
}

LinkResult CW38::Disconnect() {
    if (!PortHandle) {
        return Done(ErrPortNotOpen);
    }
    if (Connected == 0) {
        return Done(0);
    }
    ChangeLinkSpeed(kDefaultRate);
    clock_.Sleep(kEndPauseMs);
    if (const LinkResult written = WriteRawByte(CmdEnd); written != 0) {
        return written;
    }
    int32_t answer = 0;  // any value ends the connection
    if (const LinkResult read = ReadRawByte(answer); read != 0) {
        return read;
    }
    Connected = 0;
    return Done(0);
}

LinkResult CW38::ChangeLinkSpeed(int32_t rate) {
    if (Connected == 0) {
        return Done(ErrNotConnected);
    }
    LastResult = 0;
    SpeedCode speed = kDefaultSpeed;
    for (const SpeedCode& entry : kSpeedCodes) {
        if (entry.Rate == rate) {
            speed = entry;
        }
    }
    int32_t reply = 0;
    if (const LinkResult r = WriteRawByte(CmdSetSpeed); r != 0) {
        return r;
    }
    if (const LinkResult r = WriteHexByte(static_cast<uint8_t>(speed.Code >> 8)); r != 0) {
        return r;
    }
    if (const LinkResult r = WriteHexByte(static_cast<uint8_t>(speed.Code & 0xFF)); r != 0) {
        return r;
    }
    if (const LinkResult r = ReadRawByte(reply); r != 0) {
        return r;
    }
    if (reply != Ack) {
        return Done(ErrSpeedRefused);
    }
    int32_t following = 0;  // the device sends one more byte after its Ack; its value is unused
    ReadRawByte(following);
    LineSettings.BaudRate = static_cast<uint32_t>(speed.Rate);
    PortHandle->SetState(LineSettings);
    return Done(0);
}

LinkResult CW38::ReadDeviceType(char (&buffer)[4]) {
    lastTypeCode_.clear();
    if (Connected == 0) {
        return Done(ErrNotConnected);
    }
    if (const LinkResult r = WriteRawByte(CmdReadType); r != 0) {
        return r;
    }
    LastResult = 0;
    for (size_t i = 0; i < kTypeLength && LastResult == 0; ++i) {
        int32_t character = 0;
        if (ReadHexByte(character) == 0) {
            buffer[i] = static_cast<char>(character & 0xFF);
        }
    }
    buffer[kTypeLength] = '\0';
    if (LastResult == 0) {
        lastTypeCode_.assign(buffer, kTypeLength);
    }
    return Done(LastResult);
}

LinkResult CW38::CheckDeviceType() {
    if (Connected == 0) {
        return Done(ErrNotConnected);
    }
    char type[kTypeLength + 1] = {};
    if (const LinkResult r = ReadDeviceType(type); r != 0) {
        return r;
    }
    return Done(std::memcmp(type, kExpectedType, kTypeLength) == 0 ? 0 : ErrWrongDevice);
}

LinkResult CW38::ReadByte(uint32_t address, int32_t& value) {
    if (Connected == 0) {
        return Done(ErrNotConnected);
    }
    if (const LinkResult r = WriteRawByte(CmdReadMemory); r != 0) {
        return r;
    }
    // Only the low 16 bits of the address travel.
    if (const LinkResult r = WriteHexByte(static_cast<uint8_t>(address >> 8)); r != 0) {
        return r;
    }
    if (const LinkResult r = WriteHexByte(static_cast<uint8_t>(address)); r != 0) {
        return r;
    }
    return ReadHexByte(value);
}

LinkResult CW38::ReadWord(uint32_t address, int32_t& value) {
    if (Connected == 0) {
        return Done(ErrNotConnected);
    }
    if (const LinkResult r = ReadByte(address, value); r != 0) {
        return r;
    }
    int32_t high = 0;
    if (const LinkResult r = ReadByte(address + 1, high); r != 0) {
        return r;
    }
    value += 256 * high;
    return Done(0);
}

LinkResult CW38::ReadSerialNumber(uint32_t& value) {
    if (Connected == 0) {
        return Done(ErrNotConnected);
    }
    // The first word lands in the out value as ReadWord fills it: its first byte alone when
    // the second read fails, nothing when the first does.
    int32_t low = static_cast<int32_t>(value);
    const LinkResult first = ReadWord(kSerialNumberAddress, low);
    value = static_cast<uint32_t>(low);
    if (first != 0) {
        return first;
    }
    int32_t high = 0;
    if (const LinkResult r = ReadWord(kSerialNumberAddress + 2, high); r != 0) {
        return r;
    }
    value += 65536U * static_cast<uint32_t>(high);
    return Done(0);
}

LinkResult CW38::ReadCircuitVersion(int32_t& value) {
    if (Connected == 0) {
        return Done(ErrNotConnected);
    }
    if (const LinkResult r = WriteRawByte(CmdReadCircuitVersion); r != 0) {
        return r;
    }
    return ReadHexByte(value);
}

LinkResult CW38::ReadSoftwareVersion(int32_t& major, int32_t& minor) {
    if (Connected == 0) {
        return Done(ErrNotConnected);
    }
    if (const LinkResult r = ReadByte(kSoftwareMajorAddress, major); r != 0) {
        return r;
    }
    return ReadByte(kSoftwareMinorAddress, minor);
}

LinkResult CW38::WriteHexByte(uint8_t byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return WriteBytes(reinterpret_cast<const uint8_t*>(text), 2);
}

LinkResult CW38::ReadHexByte(int32_t& value) {
    if (Connected == 0) {
        return Done(ErrNotConnected);
    }
    int32_t first = 0;
    int32_t second = 0;
    // The device sends the next character only after our Ack of the one before.
    if (const LinkResult r = ReadRawByte(first); r != 0) {
        return r;
    }
    if (const LinkResult r = WriteRawByte(Ack); r != 0) {
        return r;
    }
    if (const LinkResult r = ReadRawByte(second); r != 0) {
        return r;
    }
    if (const LinkResult r = WriteRawByte(Ack); r != 0) {
        return r;
    }
    value = HexPairToByte(first, second);
    return Done(0);
}

int32_t CW38::HexPairToByte(int32_t first, int32_t second) {
    const auto digit = [](int32_t c) -> uint32_t {
        return static_cast<uint32_t>(c) - (c <= '9' ? 0x30U : 0x37U);
    };
    // Unsigned arithmetic: any pair of inputs wraps instead of overflowing.
    return static_cast<int32_t>(16U * digit(first) + digit(second));
}
