#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/serial/PosixSerial.h"
#include "platform/serial/line_termios_posix.h"
#include "pty_rate.h"

namespace platform {
namespace {

using SteadyClock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr int kCom = 5;
const std::string kPath = "\\\\.\\COM5";

// The map as a test wants it; DeviceNodeFor of the base class works over Scan().
class FakePortMap : public PortMap {
  public:
    std::vector<PortInfo> ports;
    std::vector<PortInfo> Scan() override { return ports; }
};

// The line settings the device link gives the port: 9600 bit/s, 8 data bits, even parity checked
// on reception, 1 stop bit, DTR low, RTS high.
Dcb LinkDcb() {
    Dcb dcb;
    dcb.DCBlength = 28;
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fDtrControl = kDtrControlDisable;
    dcb.fRtsControl = kRtsControlEnable;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.ByteSize = 8;
    dcb.Parity = kParityEven;
    dcb.StopBits = kStopBitsOne;
    dcb.XonChar = 0x01;
    dcb.XoffChar = 0x02;
    dcb.ErrorChar = 0x04;
    dcb.EvtChar = 0x03;
    return dcb;
}

// The device link's time-outs: a one-byte read gives up after 100 * 1 + 1000 ms.
constexpr CommTimeouts kLinkTimeouts{500, 100, 1000, 100, 1000};

int64_t MsSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start)
        .count();
}

size_t OpenFdCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// A pseudo-terminal registered as COM5; the test plays the device on the master side.
class PtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        PortInfo info;
        info.comNumber = kCom;
        info.valueName = "\\Device\\Serial0";
        info.data = "COM5";
        info.deviceNode = ptsname(master_);
        info.driver = "Serial";
        info.fromUserMap = true;
        map_.ports.push_back(info);
    }
    void TearDown() override {
        if (master_ >= 0) {
            close(master_);
        }
    }

    std::unique_ptr<SerialPort> OpenLinkPort() {
        OpenResult opened = backend_.Open(kPath);
        EXPECT_EQ(opened.error, kErrorSuccess);
        if (opened.port) {
            EXPECT_EQ(opened.port->SetState(LinkDcb()), kErrorSuccess);
            EXPECT_EQ(opened.port->SetTimeouts(kLinkTimeouts), kErrorSuccess);
        }
        return std::move(opened.port);
    }

    void DeviceSends(const Bytes& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Whether the kernel holds the slave in exclusive mode; a second descriptor asks, which only
    // root may open then. -1 when it cannot be asked.
    int SlaveExclusive() const {
        const int fd = open(map_.ports.front().deviceNode.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            return -1;
        }
        int exclusive = -1;
        ioctl(fd, TIOCGEXCL, &exclusive);
        close(fd);
        return exclusive;
    }

    FakePortMap map_;
    PosixSerialBackend backend_{map_};
    int master_ = -1;
};

TEST_F(PtyTest, OpenIsExclusiveAlsoForRoot) {
    OpenResult first = backend_.Open(kPath);
    ASSERT_EQ(first.error, kErrorSuccess);
    ASSERT_NE(first.port, nullptr);

    OpenResult second = backend_.Open(kPath);
    EXPECT_EQ(second.error, kErrorAccessDenied);
    EXPECT_EQ(second.port, nullptr);

    // The refused opener must have left the owner's port working.
    ASSERT_EQ(first.port->SetState(LinkDcb()), kErrorSuccess);
    ASSERT_EQ(first.port->SetTimeouts(kLinkTimeouts), kErrorSuccess);
    DeviceSends({0x5A});
    uint8_t byte = 0;
    size_t received = 0;
    EXPECT_EQ(first.port->Read(&byte, 1, received), kErrorSuccess);
    EXPECT_EQ(received, 1u);
    EXPECT_EQ(byte, 0x5A);

    if (geteuid() == 0) {
        // Exclusive mode is set while open and cleared on close: a pseudo-terminal outlives our
        // descriptor and would otherwise refuse every later ordinary opener.
        EXPECT_EQ(SlaveExclusive(), 1);
        EXPECT_EQ(first.port->Close(), kErrorSuccess);
        EXPECT_EQ(SlaveExclusive(), 0);
    } else {
        EXPECT_EQ(first.port->Close(), kErrorSuccess);
    }
    OpenResult third = backend_.Open(kPath);
    EXPECT_EQ(third.error, kErrorSuccess);
}

TEST_F(PtyTest, PortThatIsNotThereGivesFileNotFound) {
    PortInfo vanished = map_.ports.front();
    vanished.comNumber = 6;
    vanished.data = "COM6";
    vanished.deviceNode = "/nonexistent/ttyTalvino";
    map_.ports.push_back(vanished);
    for (const std::string& path :
         std::vector<std::string>{"\\\\.\\COM9", "\\\\.\\COM6", "COM5", "\\\\.\\COM", "\\\\.\\COM0",
                                  map_.ports.front().deviceNode}) {
        SCOPED_TRACE(path);
        OpenResult opened = backend_.Open(path);
        EXPECT_EQ(opened.error, kErrorFileNotFound);
        EXPECT_EQ(opened.port, nullptr);
    }
}

Dcb WithFraming(uint32_t rate, uint8_t byteSize, uint8_t parity, uint8_t stopBits,
                uint32_t fParity) {
    Dcb dcb = LinkDcb();
    dcb.BaudRate = rate;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.fParity = fParity;
    return dcb;
}

// The framing as the tty is told it. A pseudo-terminal forces 8 bits without parity, so this is
// where data bits and parity can be seen.
TEST(LineTermiosTest, FramingRawModeAndNoFlowControl) {
    struct Case {
        Dcb dcb;
        tcflag_t size;
        tcflag_t parityBits;
        bool twoStopBits;
    };
    const Case cases[] = {
        {LinkDcb(), CS8, PARENB, false},
        {WithFraming(14400, 7, kParityOdd, kStopBitsTwo, 0), CS7, PARENB | PARODD, true},
        {WithFraming(256000, 8, kParityNone, kStopBitsOne, 0), CS8, 0, false},
        {WithFraming(300, 5, 3, 1, 1), CS5, PARENB | PARODD | CMSPAR, true},     // mark, 1.5
        {WithFraming(600, 6, 4, kStopBitsOne, 0), CS6, PARENB | CMSPAR, false},  // space
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dcb.BaudRate << " bit/s");
        // Start from a cooked tty with flow control, as a fresh terminal is.
        termios tio{};
        tio.c_iflag = ICRNL | IXON | IXOFF | ISTRIP;
        tio.c_oflag = OPOST | ONLCR;
        tio.c_cflag = CS7 | PARENB | CRTSCTS | B38400;
        tio.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
        tio.c_cc[VMIN] = 1;
        bool rateInFlags = false;
        ASSERT_EQ(detail::MakeLineTermios(c.dcb, tio, rateInFlags), kErrorSuccess);
        EXPECT_EQ(tio.c_cflag & CSIZE, c.size);
        EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), c.parityBits);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD | CRTSCTS), CLOCAL | CREAD);
        EXPECT_EQ(tio.c_iflag & (INPCK | PARMRK), c.dcb.fParity != 0 ? INPCK | PARMRK : 0);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP | IGNPAR), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(tio.c_cc[VMIN], 0);
        EXPECT_EQ(tio.c_cc[VTIME], 0);
        EXPECT_EQ(rateInFlags, c.dcb.BaudRate != 14400 && c.dcb.BaudRate != 256000);
    }
}

TEST(LineTermiosTest, SettingsTheBackendCannotHonourAreRefused) {
    struct Case {
        const char* what;
        void (*change)(Dcb&);
        WinError expected;
    };
    const Case cases[] = {
        {"rate 0", [](Dcb& d) { d.BaudRate = 0; }, kErrorInvalidParameter},
        {"9 data bits", [](Dcb& d) { d.ByteSize = 9; }, kErrorInvalidParameter},
        {"4 data bits", [](Dcb& d) { d.ByteSize = 4; }, kErrorInvalidParameter},
        {"parity 5", [](Dcb& d) { d.Parity = 5; }, kErrorInvalidParameter},
        {"stop bits 3", [](Dcb& d) { d.StopBits = 3; }, kErrorInvalidParameter},
        {"DTR handshake", [](Dcb& d) { d.fDtrControl = 2; }, kErrorInvalidParameter},
        {"CTS flow", [](Dcb& d) { d.fOutxCtsFlow = 1; }, kErrorNotSupported},
        {"XON/XOFF", [](Dcb& d) { d.fInX = 1; }, kErrorNotSupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Dcb dcb = LinkDcb();
        c.change(dcb);
        termios tio{};
        bool rateInFlags = false;
        EXPECT_EQ(detail::MakeLineTermios(dcb, tio, rateInFlags), c.expected);
    }
}

TEST_F(PtyTest, LineSettingsAndEveryRateReachTheTty) {
    std::unique_ptr<SerialPort> port = OpenLinkPort();
    ASSERT_NE(port, nullptr);
    for (const uint32_t rate : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u,
                                38400u, 56000u, 57600u, 115200u, 128000u, 256000u}) {
        SCOPED_TRACE(rate);
        // Alternate the parity check and the stop bits so that each setting is seen to change.
        const bool check = rate % 2 == 0;
        Dcb dcb =
            WithFraming(rate, 8, kParityEven, check ? kStopBitsOne : kStopBitsTwo, check ? 1 : 0);
        ASSERT_EQ(port->SetState(dcb), kErrorSuccess);

        // The master reports the slave's settings.
        termios tio{};
        ASSERT_EQ(tcgetattr(master_, &tio), 0);
        EXPECT_EQ(TtyRate(master_), rate);
        EXPECT_EQ(tio.c_iflag & (INPCK | PARMRK), check ? INPCK | PARMRK : 0);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, !check);
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD | CRTSCTS), CLOCAL | CREAD);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);

        Dcb back;
        ASSERT_EQ(port->GetState(back), kErrorSuccess);
        EXPECT_EQ(back.DCBlength, 28u);
        EXPECT_EQ(back.BaudRate, rate);
        EXPECT_EQ(back.fParity, dcb.fParity);
        EXPECT_EQ(back.StopBits, dcb.StopBits);
        EXPECT_EQ(back.fRtsControl, kRtsControlEnable);
        EXPECT_EQ(back.XonLim, 100);
    }
}

volatile sig_atomic_t gAlarms = 0;
volatile sig_atomic_t gHangups = 0;

void CountAlarm(int) {
    gAlarms = gAlarms + 1;
}
void CountHangup(int) {
    gHangups = gHangups + 1;
}

// A signal handler installed without SA_RESTART, so every signal interrupts poll().
class ScopedHandler {
  public:
    ScopedHandler(int signal, void (*handler)(int)) : signal_(signal) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        sigaction(signal_, &action, &previous_);
    }
    ~ScopedHandler() { sigaction(signal_, &previous_, nullptr); }
    ScopedHandler(const ScopedHandler&) = delete;
    ScopedHandler& operator=(const ScopedHandler&) = delete;

  private:
    int signal_;
    struct sigaction previous_ {};
};

TEST_F(PtyTest, OneByteReadOnSilentLineEndsEmptyAfterItsTimeoutAlsoUnderSignals) {
    std::unique_ptr<SerialPort> port = OpenLinkPort();
    ASSERT_NE(port, nullptr);
    ScopedHandler alarmHandler(SIGALRM, CountAlarm);
    for (const bool withSignals : {false, true}) {
        SCOPED_TRACE(withSignals ? "SIGALRM every 100 ms" : "no signals");
        gAlarms = 0;
        if (withSignals) {
            const itimerval every100ms{{0, 100000}, {0, 100000}};
            setitimer(ITIMER_REAL, &every100ms, nullptr);
        }
        uint8_t byte = 0xAA;
        size_t received = 99;
        const auto start = SteadyClock::now();
        const WinError error = port->Read(&byte, 1, received);
        const int64_t elapsed = MsSince(start);
        const itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);

        EXPECT_EQ(error, kErrorSuccess);
        EXPECT_EQ(received, 0u);
        EXPECT_EQ(byte, 0xAA);
        // Real time on a shared machine: 1100 ms nominal, generous on the late side.
        EXPECT_GE(elapsed, 1050);
        EXPECT_LE(elapsed, 1600);
        if (withSignals) {
            EXPECT_GE(gAlarms, 5);
        }
    }
}

TEST_F(PtyTest, ReadEndsWhenTheIntervalPassesAfterTheLastByte) {
    std::unique_ptr<SerialPort> port = OpenLinkPort();
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(port->SetTimeouts({200, 0, 5000, 0, 0}), kErrorSuccess);
    DeviceSends({0x31, 0x32, 0x33});
    Bytes buffer(10, 0);
    size_t received = 0;
    const auto start = SteadyClock::now();
    EXPECT_EQ(port->Read(buffer.data(), buffer.size(), received), kErrorSuccess);
    const int64_t elapsed = MsSince(start);
    buffer.resize(received);
    EXPECT_EQ(buffer, (Bytes{0x31, 0x32, 0x33}));
    // The 5000 ms total would be the fault; 200 ms of silence ends the read.
    EXPECT_GE(elapsed, 150);
    EXPECT_LE(elapsed, 2500);
}

TEST_F(PtyTest, AllOnesIntervalReadsReturnWithWhatIsThere) {
    constexpr uint32_t kAllOnes = 0xFFFFFFFF;
    struct Case {
        const char* what;
        CommTimeouts timeouts;
        Bytes sent;
        int64_t minMs;
        int64_t maxMs;
    };
    const Case cases[] = {
        {"at once, empty line", {kAllOnes, 0, 0, 0, 0}, {}, 0, 500},
        {"at once, two bytes waiting", {kAllOnes, 0, 0, 0, 0}, {0x61, 0x62}, 0, 500},
        {"first byte, empty line", {kAllOnes, kAllOnes, 300, 0, 0}, {}, 250, 1500},
        {"first byte, two bytes waiting", {kAllOnes, kAllOnes, 5000, 0, 0}, {0x61, 0x62}, 0, 1500},
    };
    std::unique_ptr<SerialPort> port = OpenLinkPort();
    ASSERT_NE(port, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(port->SetTimeouts(c.timeouts), kErrorSuccess);
        if (!c.sent.empty()) {
            DeviceSends(c.sent);
            // Settling only: the bytes reach the input queue.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        Bytes buffer(8, 0);
        size_t received = 0;
        const auto start = SteadyClock::now();
        EXPECT_EQ(port->Read(buffer.data(), buffer.size(), received), kErrorSuccess);
        const int64_t elapsed = MsSince(start);
        buffer.resize(received);
        EXPECT_EQ(buffer, c.sent);
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LE(elapsed, c.maxMs);
    }
}

TEST_F(PtyTest, PurgeDropsStaleInput) {
    std::unique_ptr<SerialPort> port = OpenLinkPort();
    ASSERT_NE(port, nullptr);
    DeviceSends({0x11, 0xFF, 0x22, 0x33});
    uint8_t byte = 0;
    size_t received = 0;
    ASSERT_EQ(port->Read(&byte, 1, received), kErrorSuccess);
    ASSERT_EQ(received, 1u);
    // Settling only: the rest of the burst reaches the input queue.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    ASSERT_EQ(port->Purge(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear),
              kErrorSuccess);
    DeviceSends({0x44});
    ASSERT_EQ(port->SetTimeouts({200, 0, 2000, 0, 0}), kErrorSuccess);
    Bytes buffer(4, 0);
    ASSERT_EQ(port->Read(buffer.data(), buffer.size(), received), kErrorSuccess);
    buffer.resize(received);
    EXPECT_EQ(buffer, Bytes{0x44});
}

TEST_F(PtyTest, EveryByteValuePassesUnchangedWithAndWithoutParityCheck) {
    Bytes sent;
    for (int value = 0; value < 256; ++value) {
        sent.push_back(static_cast<uint8_t>(value));
    }
    // Runs that look like the tty's own marks must not be taken for them.
    sent.insert(sent.end(), {0xFF, 0x00, 0x41, 0xFF, 0xFF, 0x00, 0xFF});
    std::unique_ptr<SerialPort> port = OpenLinkPort();
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(port->SetTimeouts({0, 0, 3000, 0, 0}), kErrorSuccess);
    for (const uint32_t fParity : {1u, 0u}) {
        SCOPED_TRACE(fParity);
        Dcb dcb = LinkDcb();
        dcb.fParity = fParity;
        ASSERT_EQ(port->SetState(dcb), kErrorSuccess);
        DeviceSends(sent);
        // In odd pieces, so that marks are split between reads.
        Bytes got;
        for (size_t piece = 1; got.size() < sent.size(); piece = piece % 5 + 1) {
            uint8_t buffer[8] = {};
            size_t received = 0;
            ASSERT_EQ(port->Read(buffer, std::min(piece, sent.size() - got.size()), received),
                      kErrorSuccess);
            ASSERT_GT(received, 0u) << "after " << got.size() << " bytes";
            got.insert(got.end(), buffer, buffer + received);
        }
        EXPECT_EQ(got, sent);
    }
}

TEST(ParityMarkDecoderTest, MarksBecomeTheBytesAsReceived) {
    struct Case {
        Bytes fromTty;
        Bytes data;
    };
    const Case cases[] = {
        {{0xFF, 0xFF}, {0xFF}},        // a 0xFF byte
        {{0xFF, 0x00, 0x41}, {0x41}},  // 'A' with a parity error
        {{0xFF, 0x00, 0xFF}, {0xFF}},  // 0xFF with a parity error
        {{0xFF, 0x00, 0x00}, {0x00}},  // a break or 0 with an error
        {{0x10, 0xFF, 0xFF, 0xFF, 0x00, 0x20, 0x30}, {0x10, 0xFF, 0x20, 0x30}},
        {{0xFF, 0x42}, {0xFF, 0x42}},  // not a mark: kept whole
    };
    for (const Case& c : cases) {
        ParityMarkDecoder decoder;
        std::deque<uint8_t> out;
        for (const uint8_t byte : c.fromTty) {
            decoder.Feed(byte, out);
        }
        EXPECT_EQ(Bytes(out.begin(), out.end()), c.data);
    }
    // A mark cut short by a purge does not swallow the next byte.
    ParityMarkDecoder decoder;
    std::deque<uint8_t> out;
    decoder.Feed(0xFF, out);
    decoder.Reset();
    decoder.Feed(0x00, out);
    EXPECT_EQ(Bytes(out.begin(), out.end()), Bytes{0x00});
}

TEST_F(PtyTest, DeviceGoneMidReadGivesAnErrorAtOnceAndNoSignal) {
    std::unique_ptr<SerialPort> port = OpenLinkPort();
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(port->SetTimeouts({0, 0, 10000, 0, 10000}), kErrorSuccess);
    ScopedHandler hup(SIGHUP, CountHangup);
    ScopedHandler pipe(SIGPIPE, CountHangup);
    gHangups = 0;
    std::thread unplug([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        close(master_);
        master_ = -1;
    });
    uint8_t byte = 0;
    size_t received = 0;
    const auto start = SteadyClock::now();
    const WinError error = port->Read(&byte, 1, received);
    const int64_t elapsed = MsSince(start);
    unplug.join();

    EXPECT_NE(error, kErrorSuccess);
    EXPECT_EQ(received, 0u);
    EXPECT_LE(elapsed, 3000) << "the 10000 ms time-out must not be waited out";

    // Later transfers fail at once too.
    const auto again = SteadyClock::now();
    EXPECT_NE(port->Read(&byte, 1, received), kErrorSuccess);
    size_t written = 0;
    EXPECT_NE(port->Write(&byte, 1, written), kErrorSuccess);
    EXPECT_LE(MsSince(again), 1000);
    port.reset();
    EXPECT_EQ(gHangups, 0);
}

TEST_F(PtyTest, WriteToADeviceThatDoesNotReadEndsAtTheWriteTimeout) {
    std::unique_ptr<SerialPort> port = OpenLinkPort();
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(port->SetTimeouts({0, 0, 0, 0, 300}), kErrorSuccess);
    const Bytes big(1 << 20, 0x55);
    size_t written = 0;
    const auto start = SteadyClock::now();
    EXPECT_EQ(port->Write(big.data(), big.size(), written), kErrorSuccess);
    const int64_t elapsed = MsSince(start);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    EXPECT_GE(elapsed, 250);
    EXPECT_LE(elapsed, 2000);
}

TEST_F(PtyTest, ThousandOpenCloseCyclesLeakNoDescriptorAndNoLock) {
    const size_t before = OpenFdCount();
    for (int cycle = 0; cycle < 1000; ++cycle) {
        OpenResult opened = backend_.Open(kPath);
        ASSERT_EQ(opened.error, kErrorSuccess) << "cycle " << cycle;
        ASSERT_EQ(opened.port->Close(), kErrorSuccess) << "cycle " << cycle;
    }
    EXPECT_EQ(OpenFdCount(), before);
    // Dropping an open port closes it as well.
    {
        OpenResult opened = backend_.Open(kPath);
        ASSERT_EQ(opened.error, kErrorSuccess);
    }
    EXPECT_EQ(OpenFdCount(), before);
    EXPECT_EQ(backend_.Open(kPath).error, kErrorSuccess);
}

}  // namespace
}  // namespace platform
