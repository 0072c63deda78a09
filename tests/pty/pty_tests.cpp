#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/Com_w38_v1_2.h"
#include "platform/clock/Clock.h"
#include "platform/portmap/PortMap.h"
#include "platform/serial/PosixSerial.h"
#include "sim/talvino_sim/SimProcess.h"
#include "tests/support/SimPortMap.h"

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

constexpr uint8_t kNoiseByte = 0x5A;  // what talvino-sim --noise leaves on the line

// Bytes crossing the line in a whole reading, both ways: connect 2; type check 1 + 3 x 2
// characters each acknowledged; four memory bytes of 9 each (command, 4 address characters,
// 2 characters each acknowledged); circuit version 5; two memory bytes; disconnect 9 (speed
// change 5 + its 2 answers, end command and its answer).
constexpr int kReadingBytes = 2 + 13 + 4 * 9 + 5 + 2 * 9 + 9;
// The least a whole reading can take at 9600 bit/s with 11 bits a byte: the purge and end
// pauses (ms) plus the line time of every byte.
constexpr int64_t kReadingFloorMs = 1000 + 500 + kReadingBytes * 11 * 1000 / 9600;

int64_t MsSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start)
        .count();
}

std::string ComPath(int comNumber) {
    return "\\\\.\\COM" + std::to_string(comNumber);
}

// Each test has a user port map of its own, shared with the simulators it starts through
// TALVINO_PORT_MAP, and an empty sysfs so that only the simulators' ports exist. The link runs
// on the real POSIX backend and the real clock.
class SimPtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ports_.emplace("pty-tests");
        root_ = ports_->Root();
        map_ = std::make_unique<platform::PosixPortMap>(ports_->Sys(), MapDir(), "/dev");
        backend_ = std::make_unique<platform::PosixSerialBackend>(*map_);
    }
    void TearDown() override { ports_.reset(); }

    fs::path MapDir() const { return ports_->MapDir(); }

    std::unique_ptr<CW38> NewLink() {
        return std::make_unique<CW38>(LinkPlatform{*backend_, platform::RealClock(), {}});
    }

    std::unique_ptr<sim::SimProcess> StartSim(const std::vector<std::string>& args) {
        auto simulator = std::make_unique<sim::SimProcess>(args);
        EXPECT_TRUE(simulator->Ready()) << simulator->Failure();
        return simulator;
    }

    std::optional<platform::PortInfo> MapEntry(int comNumber) {
        for (const platform::PortInfo& port : map_->Scan()) {
            if (port.comNumber == comNumber) {
                return port;
            }
        }
        return std::nullopt;
    }

    std::optional<test_support::SimPortMap> ports_;
    fs::path root_;
    std::unique_ptr<platform::PosixPortMap> map_;
    std::unique_ptr<platform::PosixSerialBackend> backend_;
};

struct ReadingCase {
    const char* Name;
    std::vector<std::string> Args;
    const char* Driver;  // as the port map reports the simulator's entry
    LinkResult Type;
    uint32_t Serial;
    int32_t Circuit;
    int32_t Major;
    int32_t Minor;
};

TEST_F(SimPtyTest, WholeReadingGivesTheSimulatorsValues) {
    const ReadingCase cases[] = {
        {"ordinary port",
         {"--serial", "305419896", "--circuit", "7", "--software", "2.10"},
         "Serial",
         0,
         305419896,
         7,
         2,
         10},
        {"maker's adapter, other device",
         {"--maker-adapter", "--type", "W39", "--serial", "4294967295", "--circuit", "0",
          "--software", "255.0"},
         "Silabser",
         ErrWrongDevice,
         4294967295u,
         0,
         255,
         0},
    };
    for (const ReadingCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto simulator = StartSim(c.Args);
        ASSERT_TRUE(simulator->Ready());
        const std::optional<platform::PortInfo> entry = MapEntry(simulator->ComNumber());
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->deviceNode, simulator->DeviceNode());
        EXPECT_EQ(entry->driver, c.Driver);

        const auto link = NewLink();
        link->SetPortNumber(simulator->ComNumber());
        uint32_t serial = 0;
        int32_t circuit = -1;
        int32_t major = -1;
        int32_t minor = -1;
        const auto start = SteadyClock::now();
        EXPECT_EQ(link->Connect(1), 0);
        EXPECT_EQ(link->CheckDeviceType(), c.Type);
        EXPECT_EQ(link->ReadSerialNumber(serial), 0);
        EXPECT_EQ(link->ReadCircuitVersion(circuit), 0);
        EXPECT_EQ(link->ReadSoftwareVersion(major, minor), 0);
        EXPECT_EQ(link->Disconnect(), 0);
        // The simulator paces every byte at the line rate; no upper bound on a shared machine.
        EXPECT_GE(MsSince(start), kReadingFloorMs);
        EXPECT_EQ(serial, c.Serial);
        EXPECT_EQ(circuit, c.Circuit);
        EXPECT_EQ(major, c.Major);
        EXPECT_EQ(minor, c.Minor);
        EXPECT_EQ(link->Connected, 0);
    }
}

// CI runs as root, which passes the tty's own exclusive mode: the lock must still refuse.
TEST_F(SimPtyTest, SecondOpenerIsRefusedWhileTheLinkHoldsThePort) {
    const auto simulator = StartSim({});
    ASSERT_TRUE(simulator->Ready());
    const auto link = NewLink();
    link->SetPortNumber(simulator->ComNumber());
    ASSERT_EQ(link->Connect(1), 0);

    const auto second = NewLink();
    second->SetPortNumber(simulator->ComNumber());
    EXPECT_EQ(second->Connect(1), static_cast<LinkResult>(platform::kErrorAccessDenied));
    EXPECT_EQ(backend_->Open(ComPath(simulator->ComNumber())).error, platform::kErrorAccessDenied);

    // The simulator's own hold on the pseudo-terminal is no lock: once the link lets go, the
    // port opens again.
    EXPECT_EQ(link->Disconnect(), 0);
    EXPECT_EQ(link->ClosePort(), 0);
    EXPECT_EQ(second->Connect(1), 0);
}

TEST_F(SimPtyTest, ComNumberWithoutPortGivesFileNotFoundAndTakenNumberIsKept) {
    const auto simulator = StartSim({"--com", "3"});
    ASSERT_TRUE(simulator->Ready());
    // A second simulator does not take the number over.
    const sim::SimProcess::Outcome second = sim::SimProcess::Run({"--com", "3"});
    EXPECT_TRUE(WIFEXITED(second.Status) && WEXITSTATUS(second.Status) == 1);
    EXPECT_NE(second.Err.find("COM3 is already in use"), std::string::npos) << second.Err;
    ASSERT_TRUE(MapEntry(3).has_value());
    EXPECT_EQ(MapEntry(3)->deviceNode, simulator->DeviceNode());

    const auto link = NewLink();
    link->SetPortNumber(4);
    const auto start = SteadyClock::now();
    EXPECT_EQ(link->Connect(1), static_cast<LinkResult>(platform::kErrorFileNotFound));
    EXPECT_LT(MsSince(start), 500);  // no purge pause: the port never opened
    EXPECT_EQ(link->PortHandle, nullptr);
}

volatile sig_atomic_t gAlarms = 0;
void CountAlarm(int) {
    gAlarms = gAlarms + 1;
}

TEST_F(SimPtyTest, OneByteReadOnSilentLineGivesNoReplyAfterItsTimeoutAlsoUnderSignals) {
    const auto simulator = StartSim({"--silent"});
    ASSERT_TRUE(simulator->Ready());
    const auto link = NewLink();
    link->SetPortNumber(simulator->ComNumber());
    ASSERT_EQ(link->OpenPort(), 0);

    // Installed without SA_RESTART, so every alarm interrupts the wait.
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = CountAlarm;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &previous);
    for (const bool withSignals : {false, true}) {
        SCOPED_TRACE(withSignals ? "SIGALRM every 100 ms" : "no signals");
        gAlarms = 0;
        const itimerval every100ms{{0, 100000}, {0, 100000}};
        const itimerval off{};
        if (withSignals) {
            setitimer(ITIMER_REAL, &every100ms, nullptr);
        }
        int32_t value = -7;
        const auto start = SteadyClock::now();
        const LinkResult result = link->ReadRawByte(value);
        const int64_t elapsed = MsSince(start);
        setitimer(ITIMER_REAL, &off, nullptr);

        EXPECT_EQ(result, ErrNoReply);
        EXPECT_EQ(value, -7);
        // 1100 ms nominal, on a shared machine.
        EXPECT_GE(elapsed, 1000);
        EXPECT_LE(elapsed, 2000);
        if (withSignals) {
            EXPECT_GE(gAlarms, 5);
        }
    }
    sigaction(SIGALRM, &previous, nullptr);
}

TEST_F(SimPtyTest, StaleBytesWaitingBeforeConnectArePurged) {
    const auto simulator = StartSim({"--noise", "16"});
    ASSERT_TRUE(simulator->Ready());
    const auto link = NewLink();
    link->SetPortNumber(simulator->ComNumber());
    ASSERT_EQ(link->OpenPort(), 0);
    // The junk is really there: without the purge Connect would read it as the reply.
    int32_t stale = 0;
    ASSERT_EQ(link->ReadRawByte(stale), 0);
    EXPECT_EQ(stale, kNoiseByte);

    EXPECT_EQ(link->Connect(1), 0);
    EXPECT_EQ(link->CheckDeviceType(), 0);
    EXPECT_EQ(link->Disconnect(), 0);
}

struct GoneCase {
    const char* Name;
    std::vector<std::string> Args;
    bool Kill;  // SIGKILL after Connect; otherwise the simulator hangs up by itself
};

TEST_F(SimPtyTest, SimulatorGoneMidReadingFailsAtOnceAndConnectFailsCleanly) {
    const GoneCase cases[] = {
        {"killed", {}, true},
        {"hung up after its accept", {"--hangup-after", "1"}, false},
    };
    for (const GoneCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto simulator = StartSim(c.Args);
        ASSERT_TRUE(simulator->Ready());
        const auto link = NewLink();
        link->SetPortNumber(simulator->ComNumber());
        ASSERT_EQ(link->Connect(1), 0);
        if (c.Kill) {
            simulator->Signal(SIGKILL);
        }
        const int status = simulator->Wait();
        EXPECT_TRUE(c.Kill ? WIFSIGNALED(status) : WIFEXITED(status) && WEXITSTATUS(status) == 0);

        uint32_t serial = 99;
        auto start = SteadyClock::now();
        const LinkResult read = link->ReadSerialNumber(serial);
        EXPECT_NE(read, 0);
        EXPECT_NE(read, ErrNoReply);  // the line is gone, not silent
        EXPECT_EQ(serial, 99u);
        EXPECT_LT(MsSince(start), 500);  // far below the 1100 ms read time-out

        start = SteadyClock::now();
        EXPECT_NE(link->Connect(1), 0);
        EXPECT_EQ(link->Connected, 0);
        // The purge pause, and no time-out waited out on a dead line.
        EXPECT_LT(MsSince(start), 2000);
    }
}

TEST_F(SimPtyTest, BadOptionsGiveOneClearLineAndExitStatus2) {
    const struct {
        std::vector<std::string> Args;
        const char* Says;
    } cases[] = {
        {{"--bogus"}, "unknown option: '--bogus'"},
        {{"--type"}, "--type needs a value"},
        {{"--type", "W3"}, "exactly 3 characters"},
        {{"--type", "W388"}, "exactly 3 characters"},
        {{"--serial", "12x"}, "bad number for --serial"},
        {{"--serial", "4294967296"}, "bad number for --serial"},
        {{"--circuit", "256"}, "bad number for --circuit"},
        {{"--software", "1"}, "bad version for --software"},
        {{"--com", "0"}, "bad number for --com"},
        {{"--stop-after", "-1"}, "bad number for --stop-after"},
        {{"--silent=yes"}, "takes no value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args.front());
        const sim::SimProcess::Outcome outcome = sim::SimProcess::Run(c.Args);
        ASSERT_TRUE(WIFEXITED(outcome.Status));
        EXPECT_EQ(WEXITSTATUS(outcome.Status), 2);
        EXPECT_EQ(outcome.Out, "");
        EXPECT_EQ(outcome.Err.rfind("talvino-sim: ", 0), 0u) << outcome.Err;
        EXPECT_NE(outcome.Err.find(c.Says), std::string::npos) << outcome.Err;
        EXPECT_EQ(outcome.Err.find('\n'), outcome.Err.size() - 1) << outcome.Err;
    }
    EXPECT_TRUE(fs::is_empty(root_ / "sys"));
    EXPECT_FALSE(fs::exists(MapDir()) && !fs::is_empty(MapDir()));
}

TEST_F(SimPtyTest, StopSignalsRemoveTheMapEntry) {
    for (const int stopSignal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(stopSignal));
        const auto simulator = StartSim({"--maker-adapter"});
        ASSERT_TRUE(simulator->Ready());
        const int com = simulator->ComNumber();
        ASSERT_TRUE(MapEntry(com).has_value());

        simulator->Signal(stopSignal);
        const int status = simulator->Wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_FALSE(MapEntry(com).has_value());
        EXPECT_TRUE(fs::is_empty(MapDir()));
    }
}

}  // namespace
