#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/link/LinkRig.h"

namespace linktest {
namespace {

using Rows = std::vector<std::string>;

TEST(LinkProtocol, ConnectPurgesThenRequestsAndConfiguresTheLine) {
    Rig rig;
    rig.port.InjectDeviceOutput(kCom, {0x85, 0x33});  // stale bytes the purge must drop
    EXPECT_EQ(rig.link.Connect(1), 0);
    EXPECT_EQ(rig.link.Connected, 1);
    EXPECT_EQ(rig.Rows(), (Rows{"1000 PC 80", "1000 DEV 81"}));
    EXPECT_EQ(rig.line.PurgeCount, 1);

    platform::Dcb expected;
    expected.DCBlength = 28;
    expected.BaudRate = 9600;
    expected.fBinary = 1;
    expected.fParity = 1;
    expected.fDtrControl = platform::kDtrControlDisable;
    expected.fRtsControl = platform::kRtsControlEnable;
    expected.XonLim = 100;
    expected.XoffLim = 100;
    expected.ByteSize = 8;
    expected.Parity = platform::kParityEven;
    expected.StopBits = platform::kStopBitsOne;
    expected.XonChar = 0x01;
    expected.XoffChar = 0x02;
    expected.ErrorChar = 0x04;
    expected.EvtChar = 0x03;
    EXPECT_EQ(rig.line.State, expected);
    EXPECT_EQ(rig.line.Timeouts, (platform::CommTimeouts{500, 100, 1000, 100, 1000}));
    // What the port had before is kept aside, not applied.
    EXPECT_EQ(rig.link.SavedLineSettings.BaudRate, 1200U);
    EXPECT_EQ(rig.link.SavedTimeouts, platform::CommTimeouts{});
}

// The worked exchange: every byte, every write as one row, no wait anywhere.
TEST(LinkProtocol, ReadSerialNumberExchangeByteForByte) {
    Rig rig;
    ASSERT_TRUE(rig.Connected());
    uint32_t serial = 0;
    EXPECT_EQ(rig.link.ReadSerialNumber(serial), 0);
    EXPECT_EQ(serial, 12345678U);
    Rows expected;
    const auto read = [&](const char* low, const char* first, const char* second) {
        for (const char* row : {"0 PC 89", "0 PC 30 33", low}) {
            expected.push_back(row);
        }
        expected.push_back(first);
        expected.push_back("0 PC 84");
        expected.push_back(second);
        expected.push_back("0 PC 84");
    };
    read("0 PC 46 38", "0 DEV 34", "0 DEV 45");  // 1016: 0x4E
    read("0 PC 46 39", "0 DEV 36", "0 DEV 31");  // 1017: 0x61
    read("0 PC 46 41", "0 DEV 42", "0 DEV 43");  // 1018: 0xBC
    read("0 PC 46 42", "0 DEV 30", "0 DEV 30");  // 1019: 0x00
    EXPECT_EQ(rig.Rows(), expected);
}

// With pacing every byte costs 11 bits at 9600 bit/s: 36 bytes travel for the serial number.
TEST(LinkProtocol, PacedLineChargesLineTime) {
    Rig rig;
    ASSERT_TRUE(rig.Connected());
    rig.port.SetPacing(true);
    uint32_t serial = 0;
    EXPECT_EQ(rig.link.ReadSerialNumber(serial), 0);
    EXPECT_EQ(rig.Elapsed(), 36U * 11 * 1000 / 9600);
}

struct ExchangeCase {
    const char* name;
    std::function<std::string(CW38&)> run;  // "<result> <value>"
    std::string outcome;
    Rows rows;
};

TEST(LinkProtocol, OtherExchanges) {
    const ExchangeCase cases[] = {
        {"CheckDeviceType",
         [](CW38& link) { return std::to_string(link.CheckDeviceType()); },
         "0",
         {"0 PC 86", "0 DEV 35", "0 PC 84", "0 DEV 37", "0 PC 84", "0 DEV 33", "0 PC 84",
          "0 DEV 33", "0 PC 84", "0 DEV 33", "0 PC 84", "0 DEV 38", "0 PC 84"}},
        {"ReadCircuitVersion",
         [](CW38& link) {
             int32_t value = -1;
             const LinkResult r = link.ReadCircuitVersion(value);
             return std::to_string(r) + " " + std::to_string(value);
         },
         "0 44",
         {"0 PC 87", "0 DEV 32", "0 PC 84", "0 DEV 43", "0 PC 84"}},
        {"ReadSoftwareVersion",
         [](CW38& link) {
             int32_t major = -1;
             int32_t minor = -1;
             const LinkResult r = link.ReadSoftwareVersion(major, minor);
             return std::to_string(r) + " " + std::to_string(major) + "." + std::to_string(minor);
         },
         "0 2.10",
         {"0 PC 89", "0 PC 30 33", "0 PC 46 44", "0 DEV 30", "0 PC 84", "0 DEV 32", "0 PC 84",
          "0 PC 89", "0 PC 30 33", "0 PC 46 45", "0 DEV 30", "0 PC 84", "0 DEV 41", "0 PC 84"}},
        {"Disconnect",
         [](CW38& link) {
             const LinkResult r = link.Disconnect();
             return std::to_string(r) + " " + std::to_string(link.Connected);
         },
         "0 0",
         {"0 PC 9E", "0 PC 30 33", "0 PC 34 30", "0 DEV 84", "0 DEV 00", "500 PC 04",
          "500 DEV 00"}},
        // Only the low 16 bits of an address travel: 66552 reads like 1016.
        {"ReadByte above 65535",
         [](CW38& link) {
             int32_t value = -1;
             const LinkResult r = link.ReadByte(66552, value);
             return std::to_string(r) + " " + std::to_string(value);
         },
         "0 78",
         {"0 PC 89", "0 PC 30 33", "0 PC 46 38", "0 DEV 34", "0 PC 84", "0 DEV 45", "0 PC 84"}},
    };
    for (const ExchangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.device().Config().CircuitVersion = 0x2C;
        rig.device().Config().SetSoftwareVersion(2, 10);
        ASSERT_TRUE(rig.Connected());
        EXPECT_EQ(c.run(rig.link), c.outcome);
        EXPECT_EQ(rig.Rows(), c.rows);
        EXPECT_TRUE(rig.line.Open);  // no exchange closes the port
    }
}

TEST(LinkProtocol, ConnectWithSilentDeviceSendsOneRequestAndGivesUpAfter2100Ms) {
    Rig rig;
    rig.device().Faults().Silent = true;
    EXPECT_EQ(rig.link.Connect(1), ErrNoReply);
    EXPECT_EQ(rig.Elapsed(), 2100U);
    EXPECT_EQ(rig.Rows(), (Rows{"1000 PC 80"}));
    EXPECT_EQ(rig.link.Connected, 0);
    EXPECT_EQ(rig.link.OpenComNumber(), kCom);
}

TEST(LinkProtocol, RefusalClosesThePort) {
    struct Case {
        int32_t seconds;
        LinkResult result;  // the second purge pause uses up a 1 s deadline
    };
    for (const Case c : {Case{1, ErrNoReply}, Case{0, ErrPortNotOpen}}) {
        SCOPED_TRACE(c.seconds);
        Rig rig;
        rig.device().Faults().RefuseConnection = true;
        EXPECT_EQ(rig.link.Connect(c.seconds), c.result);
        EXPECT_EQ(rig.link.LastResult, c.result);
        EXPECT_EQ(rig.Rows(), (Rows{"1000 PC 80", "1000 DEV 85"}));
        EXPECT_EQ(rig.Elapsed(), 2000U);
        EXPECT_EQ(rig.line.PurgeCount, 2);
        EXPECT_FALSE(rig.line.Open);
        EXPECT_EQ(rig.link.Connected, 0);
    }
}

TEST(LinkProtocol, ConnectFailuresReportTheCause) {
    {
        SCOPED_TRACE("port that does not exist");
        Rig rig;
        rig.link.SetPortNumber(9);
        EXPECT_EQ(rig.link.Connect(1), static_cast<LinkResult>(platform::kErrorFileNotFound));
        EXPECT_EQ(rig.link.OpenComNumber(), 0);
    }
    {
        // A read error gives the port up like a refusal; the next request then finds it closed.
        SCOPED_TRACE("read error");
        Rig rig;
        rig.line.Failures[sim::SimCall::Read] = platform::kErrorGenFailure;
        EXPECT_EQ(rig.link.Connect(0), ErrPortNotOpen);
        EXPECT_EQ(rig.Rows(), (Rows{"1000 PC 80"}));
        EXPECT_FALSE(rig.line.Open);
    }
    {
        SCOPED_TRACE("line dropped");
        Rig rig;
        rig.port.HangUp(kCom);
        EXPECT_EQ(rig.link.Connect(0), static_cast<LinkResult>(platform::kErrorDeviceNotConnected));
        EXPECT_EQ(rig.link.Connected, 0);
    }
}

// An adapter unplugged while its port is open, then plugged back: the port that failed is let
// go, so the next Connect opens it afresh and reaches the device again.
TEST(LinkProtocol, ConnectLetsAFailedPortGoAndReopensItNextTime) {
    Rig rig;
    ASSERT_EQ(rig.link.Connect(1), 0);
    ASSERT_EQ(rig.link.Disconnect(), 0);
    rig.port.HangUp(kCom);
    EXPECT_EQ(rig.link.Connect(1), static_cast<LinkResult>(platform::kErrorDeviceNotConnected));
    EXPECT_EQ(rig.link.PortHandle, nullptr);
    EXPECT_FALSE(rig.line.Open);

    rig.line.HungUp = false;
    const int opened = rig.line.OpenCount;
    EXPECT_EQ(rig.link.Connect(1), 0);
    EXPECT_EQ(rig.line.OpenCount, opened + 1);
    EXPECT_EQ(rig.link.Connected, 1);
}

TEST(LinkProtocol, ConsoleKeyPressEndsAnOpenEndedConnect) {
    Rig rig;
    rig.device().Faults().Silent = true;
    rig.keyPressed = true;
    EXPECT_EQ(rig.link.Connect(0), 0);
    EXPECT_EQ(rig.link.Connected, 0);
    EXPECT_EQ(rig.Rows(), (Rows{"1000 PC 80"}));
}

// Near the tick count's wrap-around a plain "tick at or past deadline" test would end a 5 s
// wait after the first request; the wait must last its full span.
TEST(LinkProtocol, ConnectDeadlineSurvivesTickWrapAround) {
    Rig rig(0xFFFFFFFFU - 2999U);  // the deadline tick wraps, the first checks do not
    rig.mark = rig.clock.GetTickCount();
    rig.device().Faults().Silent = true;
    EXPECT_EQ(rig.link.Connect(5), ErrNoReply);
    EXPECT_EQ(rig.Rows(), (Rows{"1000 PC 80", "2100 PC 80", "3200 PC 80", "4300 PC 80"}));
    EXPECT_EQ(rig.Elapsed(), 5400U);
}

TEST(LinkProtocol, DisconnectWithSilentDeviceKeepsTheConnection) {
    Rig rig;
    ASSERT_TRUE(rig.Connected());
    rig.device().Faults().Silent = true;
    EXPECT_EQ(rig.link.Disconnect(), ErrNoReply);
    EXPECT_EQ(rig.link.Connected, 1);
    EXPECT_EQ(rig.Elapsed(), 2700U);  // speed answer 1100, pause 500, end answer 1100
    EXPECT_EQ(rig.Rows(), (Rows{"0 PC 9E", "0 PC 30 33", "0 PC 34 30", "1600 PC 04"}));
}

TEST(LinkProtocol, GuardedOperationsBeforeConnectSendNothing) {
    struct Case {
        const char* name;
        std::function<LinkResult(CW38&, int32_t&)> run;
    };
    const Case cases[] = {
        {"ChangeLinkSpeed", [](CW38& l, int32_t&) { return l.ChangeLinkSpeed(19200); }},
        {"ReadDeviceType",
         [](CW38& l, int32_t& v) {
             char type[4] = {'a', 'b', 'c', 'd'};
             const LinkResult r = l.ReadDeviceType(type);
             v = std::memcmp(type, "abcd", 4) == 0 ? v : -2;
             return r;
         }},
        {"CheckDeviceType", [](CW38& l, int32_t&) { return l.CheckDeviceType(); }},
        {"ReadByte", [](CW38& l, int32_t& v) { return l.ReadByte(1016, v); }},
        {"ReadWord", [](CW38& l, int32_t& v) { return l.ReadWord(1016, v); }},
        {"ReadSerialNumber",
         [](CW38& l, int32_t& v) {
             uint32_t serial = 7;
             const LinkResult r = l.ReadSerialNumber(serial);
             v = serial == 7 ? v : -2;
             return r;
         }},
        {"ReadCircuitVersion", [](CW38& l, int32_t& v) { return l.ReadCircuitVersion(v); }},
        {"ReadSoftwareVersion", [](CW38& l, int32_t& v) { return l.ReadSoftwareVersion(v, v); }},
        {"ReadHexByte", [](CW38& l, int32_t& v) { return l.ReadHexByte(v); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        ASSERT_EQ(rig.link.OpenPort(), 0);  // an open port, so a missing guard would show
        int32_t value = -1;
        EXPECT_EQ(c.run(rig.link, value), ErrNotConnected);
        EXPECT_EQ(rig.link.LastResult, ErrNotConnected);
        EXPECT_EQ(value, -1);
        EXPECT_TRUE(rig.Rows().empty());
        EXPECT_EQ(rig.Elapsed(), 0U);
    }
    Rig rig;
    ASSERT_EQ(rig.link.OpenPort(), 0);
    EXPECT_EQ(rig.link.Disconnect(), 0);  // no connection: nothing to end
    EXPECT_TRUE(rig.Rows().empty());
}

TEST(LinkProtocol, HexPairToByteTakesCharactersUnvalidated) {
    struct Case {
        char first;
        char second;
        int32_t value;
    };
    for (const Case c : {Case{'4', 'E', 78}, Case{'F', 'F', 255}, Case{'0', '0', 0},
                         Case{'f', 'f', 799}, Case{'/', '0', -16}}) {
        EXPECT_EQ(CW38::HexPairToByte(c.first, c.second), c.value) << c.first << c.second;
    }
}

TEST(LinkProtocol, CheckDeviceTypeIsExactAndCaseSensitive) {
    struct Case {
        const char* type;
        LinkResult result;
    };
    for (const Case c :
         {Case{"W38", 0}, Case{"w38", ErrWrongDevice}, Case{"W39", ErrWrongDevice}}) {
        SCOPED_TRACE(c.type);
        Rig rig;
        rig.device().Config().TypeCode = c.type;
        ASSERT_TRUE(rig.Connected());
        char type[4] = {};
        ASSERT_EQ(rig.link.ReadDeviceType(type), 0);
        EXPECT_STREQ(type, c.type);
        EXPECT_EQ(rig.link.CheckDeviceType(), c.result);
        EXPECT_EQ(rig.link.Connected, 1);  // a wrong device stays connected
    }
}

TEST(LinkProtocol, ChangeLinkSpeedSendsTheCodeAndFollowsTheDevice) {
    struct Case {
        int32_t rate;
        const char* highLow;  // the code's two writes
        uint32_t lineRate;    // both sides afterwards
    };
    Rig rig;
    ASSERT_TRUE(rig.Connected());
    // In sequence, so that falling back to 9600 is seen as a change.
    for (const Case c : {Case{19200, "30 31|41 30", 19200}, Case{110, "30 33|34 30", 9600},
                         Case{256000, "30 30|31 45", 256000}, Case{2400, "30 33|34 30", 9600}}) {
        SCOPED_TRACE(c.rate);
        rig.Reset();
        EXPECT_EQ(rig.link.ChangeLinkSpeed(c.rate), 0);
        const std::string codes = c.highLow;
        EXPECT_EQ(rig.Rows(), (Rows{"0 PC 9E", "0 PC " + codes.substr(0, 5),
                                    "0 PC " + codes.substr(6), "0 DEV 84", "0 DEV 00"}));
        EXPECT_EQ(rig.link.LineSettings.BaudRate, c.lineRate);
        EXPECT_EQ(rig.line.State.BaudRate, c.lineRate);
        EXPECT_EQ(rig.device().LineRate(), c.lineRate);
    }
}

TEST(LinkProtocol, RefusedSpeedChangeKeepsTheRate) {
    Rig rig;
    ASSERT_TRUE(rig.Connected());
    rig.device().Faults().RefuseSpeedChange = true;
    EXPECT_EQ(rig.link.ChangeLinkSpeed(19200), ErrSpeedRefused);
    EXPECT_EQ(rig.link.LineSettings.BaudRate, 9600U);
    EXPECT_EQ(rig.line.State.BaudRate, 9600U);
    EXPECT_EQ(rig.Rows().size(), 4U);  // no second byte is awaited after a refusal
}

// Lower-case letters count as 42..47: the values come out wrong, unnoticed.
TEST(LinkProtocol, LowerCaseHexAnswersAreTakenAsTheyCome) {
    Rig rig;
    rig.device().Faults().LowerCaseHex = true;
    rig.device().Config().CircuitVersion = 0xAB;
    rig.device().Config().SetSoftwareVersion(1, 0x0A);
    ASSERT_TRUE(rig.Connected());
    int32_t circuit = -1;
    EXPECT_EQ(rig.link.ReadCircuitVersion(circuit), 0);
    EXPECT_EQ(circuit, 16 * 42 + 43);
    int32_t major = -1;
    int32_t minor = -1;
    EXPECT_EQ(rig.link.ReadSoftwareVersion(major, minor), 0);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 42);
    uint32_t serial = 0;
    EXPECT_EQ(rig.link.ReadSerialNumber(serial), 0);
    // Bytes 4E 61 BC 00 arrive as "4e" "61" "bc" "00".
    EXPECT_EQ(serial, (4U * 16 + 46) + 256U * 0x61 + 65536U * (43 * 16 + 44));
}

// The out value holds what was read before the failure: each word writes its first byte before
// reading its second, and the serial number its first word before reading the second.
TEST(LinkProtocol, SerialNumberKeepsWhatWasReadBeforeAFailure) {
    struct Case {
        const char* name;
        int charactersSent;  // after the accept
        uint32_t expected;
    };
    const Case cases[] = {
        {"nothing", 0, 7U},          // the caller's value untouched
        {"byte 1016", 2, 0x4EU},     // the first word's first byte alone
        {"first word", 4, 24910U},   // 0x4E + 256 x 0x61
        {"three bytes", 6, 24910U},  // the second word failed: the first word alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.device().Faults().StopAnsweringAfter = 1 + c.charactersSent;
        ASSERT_TRUE(rig.Connected());
        uint32_t serial = 7;
        EXPECT_EQ(rig.link.ReadSerialNumber(serial), ErrNoReply);
        EXPECT_EQ(serial, c.expected);
        EXPECT_EQ(rig.Elapsed(), 1100U);
    }
}

TEST(LinkProtocol, DeviceHangingUpMidReadingGivesTheLineError) {
    Rig rig;
    rig.device().Faults().HangUpAfter = 1 + 2;  // the accept and one character of the type
    ASSERT_TRUE(rig.Connected());
    EXPECT_EQ(rig.link.CheckDeviceType(),
              static_cast<LinkResult>(platform::kErrorDeviceNotConnected));
    EXPECT_EQ(rig.Rows(), (Rows{"0 PC 86", "0 DEV 35", "0 PC 84"}));
}

TEST(LinkProtocol, NewPortNumberReachesTheLineAtTheNextConnect) {
    Rig rig;
    ASSERT_TRUE(rig.Connected());
    ASSERT_EQ(rig.link.Disconnect(), 0);
    rig.link.SetPortNumber(kOtherCom);
    EXPECT_EQ(rig.link.Connect(1), 0);
    EXPECT_EQ(rig.link.OpenComNumber(), kOtherCom);
    EXPECT_FALSE(rig.line.Open);
    EXPECT_TRUE(rig.otherLine.Open);
    EXPECT_EQ(rig.Rows(rig.otherLine), (Rows{"1500 PC 80", "1500 DEV 81"}));
}

}  // namespace
}  // namespace linktest
