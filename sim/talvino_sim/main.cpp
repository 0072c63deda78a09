// talvino-sim: a Talvino device served on a pseudo-terminal (or a serial device), registered in
// the user port map so that the program finds it as COMn.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/portmap/PortMap.h"
#include "sim/TalvinoDevice.h"
#include "sim/talvino_sim/SimOptions.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using Nanos = std::chrono::nanoseconds;

constexpr int kExitOk = 0;             // stopped by a signal, or hung up on purpose
constexpr int kExitFailure = 1;        // the port could not be set up or served
constexpr int kExitBadOptions = 2;     // the command line was not understood
constexpr uint64_t kBitsPerByte = 11;  // 8E1 framing: start, 8 data, parity, stop
constexpr size_t kReadChunk = 256;     // bytes taken from the line per read()
constexpr uint8_t kNoiseByte = 0x5A;   // junk for --noise: not a byte the PC waits for
constexpr std::chrono::milliseconds kHangUpLinger{50};       // last bytes reach the client
constexpr std::chrono::milliseconds kHangUpLingerMax{1000};  // then at most this for it to read
constexpr std::chrono::milliseconds kHangUpPoll{1};          // how often it is looked at
constexpr const char* kMakerDriver = "Silabser";             // driver name of the maker's adapter
constexpr const char* kProgram = "talvino-sim";

// The write end of the self-pipe: the signal handler's only way to reach the main loop.
volatile sig_atomic_t gSignalPipe = -1;

void OnSignal(int signal) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    if (gSignalPipe >= 0) {
        [[maybe_unused]] const ssize_t ignored = ::write(gSignalPipe, &byte, 1);
    }
    errno = savedErrno;
}

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

  private:
    int fd_ = -1;
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", kProgram, what.c_str());
    std::exit(kExitFailure);
}

std::string ErrnoText(const char* call) {
    return std::string(call) + ": " + std::strerror(errno);
}

// The line the device talks on: the master of a pseudo-terminal, with our own slave descriptor
// kept open so that the master never reads EIO between two clients, or a serial device.
struct Line {
    UniqueFd Fd;
    UniqueFd Slave;          // pseudo-terminal only
    std::string DeviceNode;  // what a client opens
    bool IsPty = false;
};

// Raw 8E1 at the given standard rate; false when the rate has no constant of its own.
bool MakeRaw(int fd, speed_t speed) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | PARENB | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return cfsetspeed(&tio, speed) == 0 && tcsetattr(fd, TCSANOW, &tio) == 0;
}

Line OpenPty() {
    Line line;
    line.IsPty = true;
    line.Fd = UniqueFd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!line.Fd.Valid()) {
        Fail(ErrnoText("posix_openpt"));
    }
    if (grantpt(line.Fd.Get()) != 0 || unlockpt(line.Fd.Get()) != 0) {
        Fail(ErrnoText("grantpt/unlockpt"));
    }
    std::array<char, 128> name{};
    if (ptsname_r(line.Fd.Get(), name.data(), name.size()) != 0) {
        Fail(ErrnoText("ptsname_r"));
    }
    line.DeviceNode = name.data();
    // The client's exclusive open is an advisory lock on its own open file, so this descriptor
    // of ours does not get in its way.
    line.Slave = UniqueFd(::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!line.Slave.Valid()) {
        Fail(ErrnoText("open pseudo-terminal slave"));
    }
    // Until a client sets its own modes, the slave must neither echo what we send nor hold it
    // back for a line end.
    if (!MakeRaw(line.Slave.Get(), B9600)) {
        Fail(ErrnoText("tcsetattr"));
    }
    if (fcntl(line.Fd.Get(), F_SETFL, O_NONBLOCK) != 0) {
        Fail(ErrnoText("fcntl"));
    }
    return line;
}

Line OpenDevice(const std::string& path) {
    Line line;
    line.DeviceNode = path;
    line.Fd = UniqueFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!line.Fd.Valid()) {
        Fail(ErrnoText(("open " + path).c_str()));
    }
    if (!MakeRaw(line.Fd.Get(), B9600)) {
        Fail(ErrnoText(("tcsetattr " + path).c_str()));
    }
    return line;
}

std::optional<speed_t> SpeedConstant(uint32_t rate) {
    switch (rate) {
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return std::nullopt;
    }
}

// Registers the pseudo-terminal and removes the entry again when it goes out of scope.
class Registration {
  public:
    Registration(const std::filesystem::path& mapDir, const platform::UserPortEntry& entry)
        : mapDir_(mapDir), comNumber_(entry.comNumber) {
        std::string error;
        if (!platform::RegisterUserPort(mapDir_, entry, &error)) {
            Fail("cannot register COM" + std::to_string(comNumber_) + " in " + mapDir_.string() +
                 ": " + error);
        }
    }
    ~Registration() { platform::UnregisterUserPort(mapDir_, comNumber_); }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

  private:
    std::filesystem::path mapDir_;
    int comNumber_;
};

// The COM numbers the port map shows now, with their device nodes.
std::map<int, std::string> UsedComNumbers() {
    std::map<int, std::string> used;
    for (const platform::PortInfo& port : platform::RealPortMap().Scan()) {
        used.emplace(port.comNumber, port.deviceNode);
    }
    return used;
}

// The number asked for, refused when another port has it (registering would take it over);
// otherwise the first number not in use.
int ChooseComNumber(std::optional<int> wanted) {
    const std::map<int, std::string> used = UsedComNumbers();
    if (wanted) {
        if (const auto it = used.find(*wanted); it != used.end()) {
            Fail("COM" + std::to_string(*wanted) + " is already in use (" + it->second + ")");
        }
        return *wanted;
    }
    int number = 1;
    while (used.count(number) != 0) {
        ++number;
    }
    return number;
}

// Serves the device model on the line, byte by byte, at the line rate when pacing is on: a
// byte from the PC reaches the device one byte time after the line was free for it, and a byte
// from the device reaches the PC one byte time after it started. The two directions run
// independently (full duplex).
class Server {
  public:
    Server(const sim::SimOptions& options, Line& line, int signalFd)
        : options_(options),
          line_(line),
          signalFd_(signalFd),
          device_(options.Config, options.Faults),
          start_(SteadyClock::now()) {}

    // Leaves the --noise junk waiting for the PC; called before the ready line so that it is
    // there before any client can open the port.
    bool WriteNoise() {
        const SteadyClock::time_point now = SteadyClock::now();
        for (size_t i = 0; i < options_.Noise; ++i) {
            tx_.push_back({kNoiseByte, now});
        }
        return WriteDue(now);
    }

    int Run() {
        for (;;) {
            const SteadyClock::time_point now = SteadyClock::now();
            DeliverDue(now);
            if (!WriteDue(now)) {
                return kExitFailure;
            }
            if (hungUp_ && tx_.empty() && ReadyToHangUp(now)) {
                std::fprintf(stderr, "%s: hanging up after %zu bytes\n", kProgram,
                             device_.BytesSent());
                line_.Fd.Reset();
                return kExitOk;
            }
            ApplyPendingRate();

            std::array<pollfd, 2> fds{};
            fds[0] = {line_.Fd.Get(), static_cast<short>(POLLIN | (txBlocked_ ? POLLOUT : 0)), 0};
            fds[1] = {signalFd_, POLLIN, 0};
            timespec timeout{};
            const timespec* timeoutPtr = NextTimeout(timeout);
            if (::ppoll(fds.data(), fds.size(), timeoutPtr, nullptr) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                std::fprintf(stderr, "%s: %s\n", kProgram, ErrnoText("ppoll").c_str());
                return kExitFailure;
            }
            if ((fds[1].revents & POLLIN) != 0) {
                return kExitOk;
            }
            if ((fds[0].revents & POLLOUT) != 0) {
                txBlocked_ = false;
            }
            if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !ReadLine()) {
                return kExitFailure;
            }
        }
    }

  private:
    struct Timed {
        uint8_t Byte;
        SteadyClock::time_point Due;  // when the byte has completely crossed the line
    };

    Nanos ByteTime(uint32_t rate) const {
        if (!options_.Pacing || rate == 0) {
            return Nanos::zero();
        }
        return Nanos(kBitsPerByte * 1'000'000'000ULL / rate);
    }

    void Trace(const char* direction, uint8_t byte) const {
        if (!options_.Trace) {
            return;
        }
        const auto micros =
            std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - start_)
                .count();
        std::fprintf(stderr, "%lld.%06lld %s %02X\n", static_cast<long long>(micros / 1'000'000),
                     static_cast<long long>(micros % 1'000'000), direction, byte);
    }

    bool ReadLine() {
        std::array<uint8_t, kReadChunk> buffer{};
        const ssize_t n = ::read(line_.Fd.Get(), buffer.data(), buffer.size());
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return true;
        }
        if (n <= 0) {
            std::fprintf(stderr, "%s: the line has gone (%s)\n", kProgram,
                         n == 0 ? "end of file" : std::strerror(errno));
            return false;
        }
        const SteadyClock::time_point now = SteadyClock::now();
        const Nanos byteTime = ByteTime(device_.LineRate());
        for (ssize_t i = 0; i < n; ++i) {
            rxFree_ = std::max(rxFree_, now) + byteTime;
            rx_.push_back({buffer[static_cast<size_t>(i)], rxFree_});
        }
        return true;
    }

    void DeliverDue(SteadyClock::time_point now) {
        while (!rx_.empty() && rx_.front().Due <= now && !hungUp_) {
            const uint8_t byte = rx_.front().Byte;
            rx_.pop_front();
            Trace("PC>", byte);
            // The device answers a speed change at the rate it had when the request came.
            const uint32_t rate = device_.LineRate();
            const Nanos byteTime = ByteTime(rate);
            for (const uint8_t out : device_.Receive(byte)) {
                txFree_ = std::max(txFree_, now) + byteTime;
                tx_.push_back({out, txFree_});
            }
            if (device_.LineRate() != rate) {
                pendingRate_ = device_.LineRate();
            }
            hungUp_ = device_.HungUp();
        }
        if (hungUp_) {
            rx_.clear();
        }
    }

    bool WriteDue(SteadyClock::time_point now) {
        if (txBlocked_) {
            return true;
        }
        std::vector<uint8_t> due;
        for (const Timed& byte : tx_) {
            if (byte.Due > now) {
                break;
            }
            due.push_back(byte.Byte);
        }
        if (due.empty()) {
            return true;
        }
        const ssize_t n = ::write(line_.Fd.Get(), due.data(), due.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                // The client is not reading and the line's buffer is full: wait for room.
                txBlocked_ = errno == EAGAIN;
                return true;
            }
            std::fprintf(stderr, "%s: %s\n", kProgram, ErrnoText("write").c_str());
            return false;
        }
        for (ssize_t i = 0; i < n; ++i) {
            Trace("<DEV", due[static_cast<size_t>(i)]);
            tx_.pop_front();
        }
        txBlocked_ = static_cast<size_t>(n) < due.size();
        return true;
    }

    // Closing the master discards what the client has not read yet, so the last bytes are
    // given a moment to reach the client and then until the client has taken them.
    bool ReadyToHangUp(SteadyClock::time_point now) {
        if (!hangUpAt_) {
            hangUpAt_ = now + kHangUpLinger;
        }
        if (now < *hangUpAt_) {
            return false;
        }
        if (now >= *hangUpAt_ + kHangUpLingerMax) {
            return true;
        }
        if (!line_.IsPty) {
            tcdrain(line_.Fd.Get());
            return true;
        }
        int unread = 0;
        return ioctl(line_.Slave.Get(), TIOCINQ, &unread) != 0 || unread == 0;
    }

    // A serial device follows a speed change once the device's answer has left at the old rate;
    // a pseudo-terminal has no rate of its own to change.
    void ApplyPendingRate() {
        if (!pendingRate_ || !tx_.empty()) {
            return;
        }
        if (!line_.IsPty) {
            tcdrain(line_.Fd.Get());
            const std::optional<speed_t> speed = SpeedConstant(*pendingRate_);
            if (!speed || !MakeRaw(line_.Fd.Get(), *speed)) {
                std::fprintf(stderr, "%s: cannot set %s to %u bit/s; it stays as it was\n",
                             kProgram, line_.DeviceNode.c_str(), *pendingRate_);
            }
        }
        pendingRate_.reset();
    }

    // The time until the next byte is due, or none when nothing is scheduled.
    const timespec* NextTimeout(timespec& out) const {
        std::optional<SteadyClock::time_point> next;
        if (!rx_.empty() && !hungUp_) {
            next = rx_.front().Due;
        }
        if (!tx_.empty() && !txBlocked_) {
            next = next ? std::min(*next, tx_.front().Due) : tx_.front().Due;
        }
        if (hangUpAt_) {
            const auto retry = std::max(*hangUpAt_, SteadyClock::now() + kHangUpPoll);
            next = next ? std::min(*next, retry) : retry;
        }
        if (!next) {
            return nullptr;
        }
        const auto left =
            std::max(Nanos::zero(), std::chrono::duration_cast<Nanos>(*next - SteadyClock::now()));
        out.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
        out.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
        return &out;
    }

    const sim::SimOptions& options_;
    Line& line_;
    int signalFd_;
    sim::TalvinoDevice device_;
    SteadyClock::time_point start_;
    std::deque<Timed> rx_;  // from the PC, not yet at the device
    std::deque<Timed> tx_;  // from the device, not yet at the PC
    SteadyClock::time_point rxFree_{};
    SteadyClock::time_point txFree_{};
    bool txBlocked_ = false;
    bool hungUp_ = false;
    std::optional<uint32_t> pendingRate_;
    std::optional<SteadyClock::time_point> hangUpAt_;  // not before then
};

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const std::optional<sim::SimOptions> parsed =
        sim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!parsed) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return kExitBadOptions;
    }
    const sim::SimOptions& options = *parsed;
    if (options.Help) {
        std::fputs(sim::SimUsage(), stdout);
        return kExitOk;
    }

    std::array<int, 2> pipeFds{};
    if (pipe2(pipeFds.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
        Fail(ErrnoText("pipe2"));
    }
    const UniqueFd signalRead(pipeFds[0]);
    const UniqueFd signalWrite(pipeFds[1]);
    gSignalPipe = signalWrite.Get();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int stopSignal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(stopSignal, &action, nullptr);
    }
    // A client gone away must not kill us on a write; write() reports it instead.
    ::signal(SIGPIPE, SIG_IGN);

    Line line = options.DevicePath.empty() ? OpenPty() : OpenDevice(options.DevicePath);
    std::optional<Registration> registration;
    std::string readyLine;
    if (line.IsPty) {
        platform::UserPortEntry entry;
        entry.comNumber = ChooseComNumber(options.ComNumber);
        entry.deviceNode = line.DeviceNode;
        entry.driver = options.MakerAdapter ? kMakerDriver : "";
        entry.ownerPid = static_cast<long>(::getpid());
        registration.emplace(platform::DefaultUserMapDir(), entry);
        readyLine = std::string(kProgram) + ": COM" + std::to_string(entry.comNumber) + " on " +
                    line.DeviceNode + (options.MakerAdapter ? " (maker's adapter)" : "");
    } else {
        readyLine = std::string(kProgram) + ": serving " + line.DeviceNode;
    }

    Server server(options, line, signalRead.Get());
    if (!server.WriteNoise()) {
        return kExitFailure;
    }
    std::printf("%s\n", readyLine.c_str());
    std::fflush(stdout);
    const int status = server.Run();
    gSignalPipe = -1;
    return status;
}
