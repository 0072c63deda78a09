#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "sim/TalvinoDevice.h"

namespace {

using Bytes = std::vector<uint8_t>;

// What the device sends back for a run of bytes from the PC, starting from power-on.
Bytes Replies(sim::TalvinoDevice& device, const Bytes& fromPc) {
    Bytes out;
    for (uint8_t byte : fromPc) {
        const Bytes reply = device.Receive(byte);
        out.insert(out.end(), reply.begin(), reply.end());
    }
    return out;
}

// Behaviour the link tests do not reach: a device that is not connected, and a PC that gives
// up in the middle of an answer.
TEST(TalvinoDeviceModel, AnswersOnlyWhatItShould) {
    struct Case {
        const char* name;
        Bytes fromPc;
        Bytes replies;
        bool connected;
    };
    const Case cases[] = {
        {"not connected: commands ignored",
         {0x86, 0x87, 0x89, '0', '3', 'F', '8', 0x04},
         {},
         false},
        // The PC stops acknowledging after the first character and asks for something else.
        {"abandoned answer", {0x80, 0x87, 0x86, 0x84}, {0x81, '0', '5', '7'}, true},
        {"unknown speed code refused", {0x80, 0x9E, '1', '2', '3', '4'}, {0x81, 0x85}, true},
        {"garbled address dropped", {0x80, 0x89, '0', 'G', 'F', '8', 0x87}, {0x81, '0'}, true},
        {"end answers one byte", {0x80, 0x04, 0x86}, {0x81, 0x00}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::TalvinoDevice device;
        EXPECT_EQ(Replies(device, c.fromPc), c.replies);
        EXPECT_EQ(device.Connected(), c.connected);
    }
}

TEST(TalvinoDeviceModel, SerialNumberLivesLittleEndianInMemory) {
    sim::TalvinoConfig config;
    config.SetSerialNumber(0xA1B2C3D4);
    EXPECT_EQ(config.Memory[1016], 0xD4);
    EXPECT_EQ(config.Memory[1019], 0xA1);
    EXPECT_EQ(config.SerialNumber(), 0xA1B2C3D4U);
}

}  // namespace
