#include <cstdint>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "tests/link/LinkRig.h"

namespace linktest {
namespace {

using Rows = std::vector<std::string>;

TEST(LinkPort, SetPortNumberChoosesThePortTheNextOpenOpens) {
    struct Case {
        int32_t number;
        int opened;
    };
    for (const Case c : {Case{0, kCom}, Case{-5, kCom}, Case{7, kOtherCom}}) {
        SCOPED_TRACE(c.number);
        Rig rig;
        rig.link.SetPortNumber(c.number);
        EXPECT_EQ(rig.link.OpenPort(), 0);
        EXPECT_EQ(rig.link.OpenComNumber(), c.opened);
        EXPECT_TRUE(rig.port.Line(c.opened).Open);
    }
}

TEST(LinkPort, OpenPortFailures) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> inject;
        platform::WinError error;
        bool staysOpen;  // a failure after the port was opened leaves it open
    };
    using platform::kErrorGenFailure;
    const auto failing = [](sim::SimCall call) {
        return [call](Rig& rig) { rig.line.Failures[call] = kErrorGenFailure; };
    };
    const Case cases[] = {
        {"no such port", [](Rig& rig) { rig.link.SetPortNumber(9); }, platform::kErrorFileNotFound,
         false},
        {"held by another program",
         [](Rig& rig) { rig.line.OpenError = platform::kErrorAccessDenied; },
         platform::kErrorAccessDenied, false},
        {"GetState", failing(sim::SimCall::GetState), kErrorGenFailure, true},
        {"SetState", failing(sim::SimCall::SetState), kErrorGenFailure, true},
        {"GetTimeouts", failing(sim::SimCall::GetTimeouts), kErrorGenFailure, true},
        {"SetTimeouts", failing(sim::SimCall::SetTimeouts), kErrorGenFailure, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.inject(rig);
        EXPECT_EQ(rig.link.OpenPort(), static_cast<LinkResult>(c.error));
        EXPECT_EQ(rig.link.LastResult, static_cast<LinkResult>(c.error));
        EXPECT_EQ(rig.link.OpenComNumber() != 0, c.staysOpen);
        EXPECT_EQ(rig.link.Connected, 0);
    }
}

TEST(LinkPort, OpenIsExclusive) {
    Rig rig;
    platform::OpenResult other = rig.port.Open("\\\\.\\COM2");
    ASSERT_TRUE(other.port);
    EXPECT_EQ(rig.link.OpenPort(), static_cast<LinkResult>(platform::kErrorAccessDenied));
    other.port.reset();
    EXPECT_EQ(rig.link.OpenPort(), 0);
    EXPECT_EQ(rig.port.Open("\\\\.\\COM2").error, platform::kErrorAccessDenied);
}

TEST(LinkPort, OpenPortWhileConnectedEndsTheConnectionAndReopens) {
    Rig rig;
    ASSERT_TRUE(rig.Connected());
    const size_t statesBefore = rig.line.StatesSet.size();
    EXPECT_EQ(rig.link.OpenPort(), 0);
    EXPECT_EQ(rig.Rows(), (Rows{"0 PC 9E", "0 PC 30 33", "0 PC 34 30", "0 DEV 84", "0 DEV 00",
                                "500 PC 04", "500 DEV 00"}));
    EXPECT_EQ(rig.link.Connected, 0);
    EXPECT_FALSE(rig.device().Connected());
    EXPECT_EQ(rig.line.OpenCount, 2);
    EXPECT_TRUE(rig.line.Open);
    // Settings applied three times: the end's speed change, SetBaudRate, the open itself.
    EXPECT_EQ(rig.line.StatesSet.size(), statesBefore + 3);
    EXPECT_EQ(rig.line.Timeouts.ReadTotalTimeoutConstant, 1000U);
}

TEST(LinkPort, ClosePort) {
    Rig rig;
    rig.link.Connected = 1;  // ClosePort clears the flag even with nothing to close
    EXPECT_EQ(rig.link.ClosePort(), 0);
    EXPECT_EQ(rig.link.Connected, 0);

    ASSERT_TRUE(rig.Connected());
    rig.line.Failures[sim::SimCall::Close] = platform::kErrorInvalidHandle;
    EXPECT_EQ(rig.link.ClosePort(), static_cast<LinkResult>(platform::kErrorInvalidHandle));
    EXPECT_NE(rig.link.PortHandle, nullptr);
    EXPECT_TRUE(rig.line.Open);
    EXPECT_EQ(rig.link.Connected, 0);
    EXPECT_EQ(rig.Rows().size(), 7U);  // the connection was ended before closing

    rig.line.Failures.clear();
    EXPECT_EQ(rig.link.ClosePort(), 0);
    EXPECT_EQ(rig.link.PortHandle, nullptr);
    EXPECT_FALSE(rig.line.Open);
}

TEST(LinkPort, ClosedPortFailsAtOnceWithoutPause) {
    struct Case {
        const char* name;
        std::function<LinkResult(CW38&, int32_t&)> run;
    };
    const uint8_t bytes[] = {0x30, 0x31};
    const Case cases[] = {
        {"PurgePort", [](CW38& l, int32_t&) { return l.PurgePort(); }},
        {"WriteRawByte", [](CW38& l, int32_t&) { return l.WriteRawByte(0x80); }},
        {"WriteBytes", [&bytes](CW38& l, int32_t&) { return l.WriteBytes(bytes, 2); }},
        {"ReadRawByte", [](CW38& l, int32_t& v) { return l.ReadRawByte(v); }},
        {"Disconnect", [](CW38& l, int32_t&) { return l.Disconnect(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        int32_t value = -1;
        EXPECT_EQ(c.run(rig.link, value), ErrPortNotOpen);
        EXPECT_EQ(rig.link.LastResult, ErrPortNotOpen);
        EXPECT_EQ(value, -1);
        EXPECT_EQ(rig.Elapsed(), 0U);
    }
}

TEST(LinkPort, WaitsOnAnOpenPort) {
    Rig rig;
    ASSERT_EQ(rig.link.OpenPort(), 0);
    rig.port.InjectDeviceOutput(kCom, {0x42});
    EXPECT_EQ(rig.link.PurgePort(), 0);
    EXPECT_EQ(rig.Elapsed(), 1000U);
    EXPECT_EQ(rig.line.PurgeCount, 1);

    rig.Reset();
    int32_t value = -1;
    EXPECT_EQ(rig.link.ReadRawByte(value), ErrNoReply);  // the purged byte is gone
    EXPECT_EQ(value, -1);
    EXPECT_EQ(rig.Elapsed(), 1100U);

    rig.port.InjectDeviceOutput(kCom, {0xE7});
    EXPECT_EQ(rig.link.ReadRawByte(value), 0);
    EXPECT_EQ(value, 0xE7);
}

TEST(LinkPort, TransferFailuresGiveTheWindowsCode) {
    Rig rig;
    ASSERT_EQ(rig.link.OpenPort(), 0);
    rig.line.Failures[sim::SimCall::Write] = platform::kErrorWriteFault;
    rig.line.Failures[sim::SimCall::Read] = platform::kErrorReadFault;
    rig.line.Failures[sim::SimCall::Purge] = platform::kErrorGenFailure;
    int32_t value = -1;
    EXPECT_EQ(rig.link.WriteRawByte(0x80), static_cast<LinkResult>(platform::kErrorWriteFault));
    EXPECT_EQ(rig.link.ReadRawByte(value), static_cast<LinkResult>(platform::kErrorReadFault));
    EXPECT_EQ(value, -1);
    EXPECT_EQ(rig.link.PurgePort(), static_cast<LinkResult>(platform::kErrorGenFailure));
}

TEST(LinkPort, SetBaudRateAcceptsOnlyTheKnownRates) {
    struct Case {
        int32_t rate;
        uint32_t applied;
    };
    Rig rig;
    ASSERT_EQ(rig.link.SetBaudRate(256000), 0);  // closed port: only the settings change
    EXPECT_EQ(rig.link.LineSettings.BaudRate, 256000U);
    ASSERT_EQ(rig.link.OpenPort(), 0);
    for (const Case c : {Case{1234, 9600}, Case{256000, 256000}, Case{3000, 9600}, Case{110, 110},
                         Case{-9600, 9600}}) {
        SCOPED_TRACE(c.rate);
        EXPECT_EQ(rig.link.SetBaudRate(c.rate), 0);
        EXPECT_EQ(rig.link.LineSettings.BaudRate, c.applied);
        EXPECT_EQ(rig.line.State.BaudRate, c.applied);
    }
    rig.line.Failures[sim::SimCall::SetState] = platform::kErrorInvalidParameter;
    EXPECT_EQ(rig.link.SetBaudRate(19200),
              static_cast<LinkResult>(platform::kErrorInvalidParameter));
}

TEST(LinkPort, SlotTable) {
    Rig rig;
    struct Case {
        uint32_t index;
        bool valid;
    };
    for (const Case c : {Case{0, true}, Case{599, true}, Case{600, false}}) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(rig.link.CheckSlotIndex(c.index), c.valid);
        EXPECT_EQ(rig.link.LastResult, c.valid ? 0 : ErrSlotRange);
    }
    EXPECT_EQ(rig.link.FreeSlotBuffer(600), ErrSlotRange);
    EXPECT_EQ(rig.link.FreeSlotBuffer(-1), ErrSlotRange);
    rig.link.Slots[5].Buffer = std::make_unique<uint8_t[]>(16);
    EXPECT_EQ(rig.link.FreeSlotBuffer(5), 0);
    EXPECT_EQ(rig.link.Slots[5].Buffer, nullptr);

    EXPECT_EQ(rig.link.Slots[0].Flags, (std::array<uint8_t, 4>{1, 0, 0, 0}));
    EXPECT_EQ(rig.link.Slots[599].Flags, (std::array<uint8_t, 4>{1, 1, 1, 0}));
    EXPECT_EQ(rig.link.Slots[599].Index, 599);
}

TEST(LinkPort, DestructionEndsTheConnectionAndFreesThePort) {
    platform::VirtualClock clock;
    sim::SimPort port(clock);
    sim::SimLine& line = port.AddDevice(kCom);
    {
        CW38 link({port, clock, {}});
        ASSERT_EQ(link.Connect(1), 0);
    }
    EXPECT_FALSE(line.Device.Connected());
    EXPECT_FALSE(line.Open);
    EXPECT_EQ(line.Transcript.back().Bytes, std::vector<uint8_t>{0x00});
}

}  // namespace
}  // namespace linktest
