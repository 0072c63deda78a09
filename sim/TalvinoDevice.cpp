#include "sim/TalvinoDevice.h"

#include <utility>

namespace sim {
namespace {

constexpr size_t kParameterLength = 4;  // a 16-bit parameter travels as 4 hex characters
constexpr size_t kTypeCodeLength = 3;   // characters of the type code
constexpr char kTypePad = ' ';          // sent in place of a missing type code character

struct SpeedCode {
    uint16_t Code;
    uint32_t Rate;  // bit/s
};

// The speed codes the device understands.
constexpr SpeedCode kSpeedCodes[] = {
    {1665, 4800}, {832, 9600},  {554, 14400}, {416, 19200}, {207, 38400},
    {142, 56000}, {138, 57600}, {68, 115200}, {61, 128000}, {30, 256000},
};

// Value of one hexadecimal character, either case; -1 for anything else.
int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

TalvinoConfig::TalvinoConfig() : Memory(kMemorySize, 0) {
    SetSerialNumber(kDefaultSerialNumber);
    SetSoftwareVersion(kDefaultSoftwareMajor, kDefaultSoftwareMinor);
}

void TalvinoConfig::SetSerialNumber(uint32_t serialNumber) {
    for (size_t i = 0; i < 4; ++i) {
        Memory[kSerialNumberAddress + i] = static_cast<uint8_t>(serialNumber >> (8 * i));
    }
}

uint32_t TalvinoConfig::SerialNumber() const {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(Memory[kSerialNumberAddress + i]) << (8 * i);
    }
    return value;
}

void TalvinoConfig::SetSoftwareVersion(uint8_t major, uint8_t minor) {
    Memory[kSoftwareMajorAddress] = major;
    Memory[kSoftwareMinorAddress] = minor;
}

TalvinoDevice::TalvinoDevice(TalvinoConfig config, TalvinoFaults faults)
    : config_(std::move(config)), faults_(faults) {
    config_.Memory.resize(TalvinoConfig::kMemorySize, 0);
}

uint32_t TalvinoDevice::RateOfSpeedCode(uint16_t code) {
    for (const SpeedCode& entry : kSpeedCodes) {
        if (entry.Code == code) {
            return entry.Rate;
        }
    }
    return 0;
}

std::vector<uint8_t> TalvinoDevice::Receive(uint8_t byteFromPc) {
    std::vector<uint8_t> out;
    if (faults_.HangUpAfter && bytesSent_ >= *faults_.HangUpAfter) {
        hungUp_ = true;
    }
    if (hungUp_ || faults_.Silent) {
        return out;
    }
    switch (state_) {
        case State::AwaitAck:
            if (byteFromPc == kAck) {
                SendNextCharacter(out);
                return out;
            }
            // The PC gave up on the answer: what it sends now is a new command.
            pending_.clear();
            state_ = State::Command;
            Command(byteFromPc, out);
            return out;
        case State::Parameter:
            parameter_.push_back(static_cast<char>(byteFromPc));
            if (parameter_.size() == kParameterLength) {
                state_ = State::Command;
                Execute(out);
            }
            return out;
        case State::Command:
            Command(byteFromPc, out);
            return out;
    }
    return out;
}

void TalvinoDevice::Command(uint8_t byte, std::vector<uint8_t>& out) {
    if (byte == kCmdConnect) {
        if (faults_.RefuseConnection) {
            Emit(kRepRefused, out);
            return;
        }
        connected_ = true;
        Emit(kRepAccepted, out);
        return;
    }
    if (!connected_) {
        return;  // a device that is not connected listens for the connection request only
    }
    switch (byte) {
        case kCmdReadType:
            for (size_t i = 0; i < kTypeCodeLength; ++i) {
                QueueHex(static_cast<uint8_t>(i < config_.TypeCode.size() ? config_.TypeCode[i]
                                                                          : kTypePad));
            }
            SendNextCharacter(out);
            return;
        case kCmdReadCircuitVersion:
            QueueHex(config_.CircuitVersion);
            SendNextCharacter(out);
            return;
        case kCmdReadMemory:
        case kCmdSetSpeed:
            command_ = byte;
            parameter_.clear();
            state_ = State::Parameter;
            return;
        case kCmdEnd:
            Emit(kEndAnswer, out);
            connected_ = false;
            return;
        default:
            return;  // unknown commands are ignored
    }
}

void TalvinoDevice::Execute(std::vector<uint8_t>& out) {
    uint32_t value = 0;
    for (char c : parameter_) {
        const int digit = HexValue(c);
        if (digit < 0) {
            return;  // a garbled parameter: the command is dropped without an answer
        }
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    if (command_ == kCmdReadMemory) {
        // Memory shorter than the address space reads as zero there.
        QueueHex(value < config_.Memory.size() ? config_.Memory[value] : 0);
        SendNextCharacter(out);
        return;
    }
    // Speed change.
    const uint32_t rate = RateOfSpeedCode(static_cast<uint16_t>(value));
    if (faults_.RefuseSpeedChange || rate == 0) {
        Emit(kRepRefused, out);
        return;
    }
    Emit(kAck, out);
    Emit(kAfterSpeedAck, out);
    lineRate_ = rate;
}

void TalvinoDevice::QueueHex(uint8_t value) {
    const char* digits = faults_.LowerCaseHex ? "0123456789abcdef" : "0123456789ABCDEF";
    pending_.push_back(static_cast<uint8_t>(digits[value >> 4]));
    pending_.push_back(static_cast<uint8_t>(digits[value & 0x0F]));
}

void TalvinoDevice::SendNextCharacter(std::vector<uint8_t>& out) {
    if (pending_.empty()) {
        state_ = State::Command;  // the Ack of the last character ends the answer
        return;
    }
    Emit(pending_.front(), out);
    pending_.pop_front();
    state_ = State::AwaitAck;
}

void TalvinoDevice::Emit(uint8_t byte, std::vector<uint8_t>& out) {
    if (hungUp_) {
        return;
    }
    if (faults_.StopAnsweringAfter && bytesSent_ >= *faults_.StopAnsweringAfter) {
        return;
    }
    out.push_back(byte);
    ++bytesSent_;
    if (faults_.HangUpAfter && bytesSent_ >= *faults_.HangUpAfter) {
        hungUp_ = true;
    }
}

}  // namespace sim
