#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>

#include "platform/serial/PosixSerial.h"
#include "platform/serial/line_termios_posix.h"
#include "platform/serial/termios2_posix.h"

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;  // CLOCK_MONOTONIC: immune to clock changes

// Size of the structure as the system reports it in DCBlength (bytes).
constexpr uint32_t kDcbLength = 28;
// A time-out field with every bit set: the system's "return at once" marker (ms).
constexpr uint32_t kMaxDword = 0xFFFFFFFF;
// Longest wait we ever compute, about 34 years (ms); keeps the deadline arithmetic in range.
constexpr uint64_t kLongestWaitMs = uint64_t{1} << 40;
// Bytes taken from the tty per read() call.
constexpr size_t kReadChunk = 256;
// The tty's escape byte under PARMRK.
constexpr uint8_t kMarkByte = 0xFF;
// Stop bits: 1.5, which the tty can only approximate with 2.
constexpr uint8_t kStopBitsOneAndHalf = 1;
// Parity values beyond odd and even: mark and space (stick parity).
constexpr uint8_t kParityMark = 3;
constexpr uint8_t kParitySpace = 4;

// Rates with a constant of their own; every other rate goes through the kernel's arbitrary-rate
// interface.
struct StandardRate {
    uint32_t bitsPerSecond;
    speed_t constant;
};
constexpr std::array<StandardRate, 11> kStandardRates{{{110, B110},
                                                       {300, B300},
                                                       {600, B600},
                                                       {1200, B1200},
                                                       {2400, B2400},
                                                       {4800, B4800},
                                                       {9600, B9600},
                                                       {19200, B19200},
                                                       {38400, B38400},
                                                       {57600, B57600},
                                                       {115200, B115200}}};

std::optional<speed_t> StandardRateConstant(uint32_t rate) {
    for (const StandardRate& entry : kStandardRates) {
        if (entry.bitsPerSecond == rate) {
            return entry.constant;
        }
    }
    return std::nullopt;
}

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(-1); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// A point in time far enough away to mean "no time-out".
SteadyClock::time_point DeadlineAfter(uint64_t ms) {
    return SteadyClock::now() + std::chrono::milliseconds(std::min(ms, kLongestWaitMs));
}

// The poll() time-out that ends at the deadline, rounded up so that poll() never wakes before it
// (which would spin); 0 once the deadline has passed.
int PollTimeoutUntil(SteadyClock::time_point deadline) {
    const auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<int64_t>(ms, 0x7FFFFFFF));
}

// The modem lines of a pseudo-terminal cannot be driven; it refuses with one of these.
bool IsNoModemLines(int err) {
    return err == ENOTTY || err == EINVAL;
}

class PosixSerialPort final : public SerialPort {
  public:
    explicit PosixSerialPort(UniqueFd fd) : fd_(std::move(fd)) {
        settings_.DCBlength = kDcbLength;
        settings_.fBinary = 1;
    }
    ~PosixSerialPort() override { Close(); }

    WinError GetState(Dcb& out) override;
    WinError SetState(const Dcb& dcb) override;
    WinError GetTimeouts(CommTimeouts& out) override;
    WinError SetTimeouts(const CommTimeouts& timeouts) override;
    WinError Purge(uint32_t flags) override;
    WinError Write(const uint8_t* data, size_t count, size_t& written) override;
    WinError Read(uint8_t* buffer, size_t count, size_t& received) override;
    WinError Close() override;

  private:
    enum class Fetch { kData, kNoData, kGone, kFailed };
    // One non-blocking read() from the tty into pending_. revents: what poll() reported just
    // before (0 when it was not asked), which tells an empty line from a device that has gone.
    Fetch FetchAvailable(size_t limit, short revents, WinError& error);
    size_t TakePending(uint8_t* buffer, size_t count);
    WinError SetModemLine(int line, bool on);

    UniqueFd fd_;
    // What the last SetState asked for; the fields the tty has no place for are reported from it.
    Dcb settings_;
    CommTimeouts timeouts_;
    bool markedInput_ = false;  // PARMRK is on: input goes through decoder_
    ParityMarkDecoder decoder_;
    std::deque<uint8_t> pending_;  // received data bytes not yet handed to a caller
};

WinError PosixSerialPort::GetState(Dcb& out) {
    if (!fd_.Valid()) {
        return kErrorInvalidHandle;
    }
    termios tio{};
    if (tcgetattr(fd_.Get(), &tio) != 0) {
        return WinErrorFromErrno(errno);
    }
    uint32_t rate = 0;
    if (const int err = detail::GetActualRate(fd_.Get(), rate); err != 0) {
        return WinErrorFromErrno(err);
    }
    Dcb dcb = settings_;
    dcb.DCBlength = kDcbLength;
    dcb.fBinary = 1;
    dcb.BaudRate = rate;
    dcb.fParity = (tio.c_iflag & INPCK) != 0 ? 1 : 0;
    dcb.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0 ? 1 : 0;
    dcb.fOutX = (tio.c_iflag & IXON) != 0 ? 1 : 0;
    dcb.fInX = (tio.c_iflag & IXOFF) != 0 ? 1 : 0;
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            dcb.ByteSize = 5;
            break;
        case CS6:
            dcb.ByteSize = 6;
            break;
        case CS7:
            dcb.ByteSize = 7;
            break;
        default:
            dcb.ByteSize = 8;
            break;
    }
    if ((tio.c_cflag & PARENB) == 0) {
        dcb.Parity = kParityNone;
    } else if ((tio.c_cflag & CMSPAR) != 0) {
        dcb.Parity = (tio.c_cflag & PARODD) != 0 ? kParityMark : kParitySpace;
    } else {
        dcb.Parity = (tio.c_cflag & PARODD) != 0 ? kParityOdd : kParityEven;
    }
    if ((tio.c_cflag & CSTOPB) == 0) {
        dcb.StopBits = kStopBitsOne;
    } else if (dcb.StopBits != kStopBitsOneAndHalf) {
        dcb.StopBits = kStopBitsTwo;
    }
    int lines = 0;
    if (ioctl(fd_.Get(), TIOCMGET, &lines) == 0) {
        dcb.fDtrControl = (lines & TIOCM_DTR) != 0 ? kDtrControlEnable : kDtrControlDisable;
        dcb.fRtsControl = (lines & TIOCM_RTS) != 0 ? kRtsControlEnable : kRtsControlDisable;
    } else if (!IsNoModemLines(errno)) {
        return WinErrorFromErrno(errno);
    }
    out = dcb;
    return kErrorSuccess;
}

WinError PosixSerialPort::SetState(const Dcb& dcb) {
    if (!fd_.Valid()) {
        return kErrorInvalidHandle;
    }
    termios tio{};
    if (tcgetattr(fd_.Get(), &tio) != 0) {
        return WinErrorFromErrno(errno);
    }
    bool rateInFlags = false;
    if (const WinError err = detail::MakeLineTermios(dcb, tio, rateInFlags); err != kErrorSuccess) {
        return err;
    }
    const detail::TtyFlags flags{tio.c_iflag, tio.c_oflag,    tio.c_cflag,
                                 tio.c_lflag, tio.c_cc[VMIN], tio.c_cc[VTIME]};
    if (const int err = detail::ApplyTtyFlags(fd_.Get(), flags, dcb.BaudRate, rateInFlags);
        err != 0) {
        return WinErrorFromErrno(err);
    }
    if (const bool marked = dcb.fParity != 0; marked != markedInput_) {
        markedInput_ = marked;
        decoder_.Reset();
    }
    if (const WinError err = SetModemLine(TIOCM_DTR, dcb.fDtrControl == kDtrControlEnable);
        err != kErrorSuccess) {
        return err;
    }
    if (const WinError err = SetModemLine(TIOCM_RTS, dcb.fRtsControl == kRtsControlEnable);
        err != kErrorSuccess) {
        return err;
    }
    settings_ = dcb;
    return kErrorSuccess;
}

WinError PosixSerialPort::SetModemLine(int line, bool on) {
    if (ioctl(fd_.Get(), on ? TIOCMBIS : TIOCMBIC, &line) != 0 && !IsNoModemLines(errno)) {
        return WinErrorFromErrno(errno);
    }
    return kErrorSuccess;
}

WinError PosixSerialPort::GetTimeouts(CommTimeouts& out) {
    if (!fd_.Valid()) {
        return kErrorInvalidHandle;
    }
    out = timeouts_;
    return kErrorSuccess;
}

WinError PosixSerialPort::SetTimeouts(const CommTimeouts& timeouts) {
    if (!fd_.Valid()) {
        return kErrorInvalidHandle;
    }
    timeouts_ = timeouts;
    return kErrorSuccess;
}

WinError PosixSerialPort::Purge(uint32_t flags) {
    if (!fd_.Valid()) {
        return kErrorInvalidHandle;
    }
    constexpr uint32_t kAllFlags = kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear;
    if ((flags & ~kAllFlags) != 0) {
        return kErrorInvalidParameter;
    }
    // Transfers are synchronous, so there is never one pending to abort: the abort flags only
    // empty the buffer of their direction like the clear flags.
    const bool input = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
    const bool output = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
    if (!input && !output) {
        return kErrorSuccess;
    }
    const int queue = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    if (tcflush(fd_.Get(), queue) != 0) {
        return WinErrorFromErrno(errno);
    }
    if (input) {
        pending_.clear();
        decoder_.Reset();
    }
    return kErrorSuccess;
}

WinError PosixSerialPort::Write(const uint8_t* data, size_t count, size_t& written) {
    written = 0;
    if (!fd_.Valid()) {
        return kErrorInvalidHandle;
    }
    const uint64_t totalMs = uint64_t{timeouts_.WriteTotalTimeoutMultiplier} * count +
                             timeouts_.WriteTotalTimeoutConstant;
    const bool bounded = totalMs != 0;
    const SteadyClock::time_point deadline = DeadlineAfter(totalMs);
    while (written < count) {
        const ssize_t n = ::write(fd_.Get(), data + written, count - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return WinErrorFromErrno(errno);
        }
        // The output buffer is full: wait for room until the one deadline of this write.
        pollfd pfd{fd_.Get(), POLLOUT, 0};
        const int timeout = bounded ? PollTimeoutUntil(deadline) : -1;
        if (bounded && timeout == 0) {
            return kErrorSuccess;
        }
        const int ready = ::poll(&pfd, 1, timeout);
        if (ready < 0 && errno != EINTR) {
            return WinErrorFromErrno(errno);
        }
        if (ready > 0 && (pfd.revents & POLLNVAL) != 0) {
            return kErrorInvalidHandle;
        }
        if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0) {
            return kErrorDeviceNotConnected;
        }
    }
    return kErrorSuccess;
}

PosixSerialPort::Fetch PosixSerialPort::FetchAvailable(size_t limit, short revents,
                                                       WinError& error) {
    std::array<uint8_t, kReadChunk> raw{};
    ssize_t n = 0;
    do {
        n = ::read(fd_.Get(), raw.data(), std::min(limit, raw.size()));
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (markedInput_) {
                decoder_.Feed(raw[static_cast<size_t>(i)], pending_);
            } else {
                pending_.push_back(raw[static_cast<size_t>(i)]);
            }
        }
        return Fetch::kData;
    }
    if (n == 0 || errno == EAGAIN) {
        // With VMIN and VTIME at 0 an empty read is "nothing yet"; after poll() reported the
        // descriptor readable or hung up it is a device that has gone.
        const bool gone = n == 0 ? revents != 0 : (revents & (POLLHUP | POLLERR)) != 0;
        if (gone) {
            error = kErrorDeviceNotConnected;
            return Fetch::kGone;
        }
        return Fetch::kNoData;
    }
    error = WinErrorFromErrno(errno);
    return Fetch::kFailed;
}

size_t PosixSerialPort::TakePending(uint8_t* buffer, size_t count) {
    const size_t n = std::min(count, pending_.size());
    std::copy_n(pending_.begin(), n, buffer);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

WinError PosixSerialPort::Read(uint8_t* buffer, size_t count, size_t& received) {
    received = 0;
    if (!fd_.Valid()) {
        return kErrorInvalidHandle;
    }
    if (count == 0) {
        return kErrorSuccess;
    }
    const CommTimeouts& t = timeouts_;
    // The system's two special forms: interval "all ones" with no total time-out returns at once
    // with what is there; with multiplier "all ones" too it waits up to the constant for a first
    // byte and then returns at once.
    const bool returnAtOnce = t.ReadIntervalTimeout == kMaxDword &&
                              t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    const bool firstByteOnly =
        t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword;
    uint64_t totalMs = 0;
    uint32_t intervalMs = 0;
    if (firstByteOnly) {
        totalMs = t.ReadTotalTimeoutConstant;
    } else if (!returnAtOnce) {
        totalMs = uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
        intervalMs = t.ReadIntervalTimeout;
    }
    const bool totalBounded = returnAtOnce || totalMs != 0;
    // One deadline for the whole read, carried across signals and partial reads.
    const SteadyClock::time_point totalDeadline = DeadlineAfter(totalMs);
    std::optional<SteadyClock::time_point> lastByteAt;
    short revents = 0;

    for (;;) {
        received += TakePending(buffer + received, count - received);
        if (received == count) {
            return kErrorSuccess;
        }
        WinError error = kErrorSuccess;
        const Fetch fetch = FetchAvailable(count - received, revents, error);
        revents = 0;
        if (fetch == Fetch::kData) {
            lastByteAt = SteadyClock::now();
            continue;
        }
        if (fetch == Fetch::kGone || fetch == Fetch::kFailed) {
            // Bytes already taken are handed over; the next call meets the failure at once.
            return received > 0 ? kErrorSuccess : error;
        }
        if (returnAtOnce || (firstByteOnly && received > 0)) {
            return kErrorSuccess;
        }
        std::optional<SteadyClock::time_point> deadline;
        if (totalBounded) {
            deadline = totalDeadline;
        }
        if (intervalMs != 0 && lastByteAt) {
            const auto intervalDeadline = *lastByteAt + std::chrono::milliseconds(intervalMs);
            deadline = deadline ? std::min(*deadline, intervalDeadline) : intervalDeadline;
        }
        int timeout = -1;
        if (deadline) {
            timeout = PollTimeoutUntil(*deadline);
            if (timeout == 0) {
                return kErrorSuccess;
            }
        }
        pollfd pfd{fd_.Get(), POLLIN, 0};
        const int polled = ::poll(&pfd, 1, timeout);
        if (polled < 0) {
            if (errno == EINTR) {
                continue;
            }
            return WinErrorFromErrno(errno);
        }
        if (polled > 0) {
            if ((pfd.revents & POLLNVAL) != 0) {
                return kErrorInvalidHandle;
            }
            revents = pfd.revents;
        }
    }
}

WinError PosixSerialPort::Close() {
    if (!fd_.Valid()) {
        return kErrorSuccess;
    }
    // A pseudo-terminal outlives our descriptor; left in exclusive mode it would refuse the next
    // ordinary opener, us included.
    ioctl(fd_.Get(), TIOCNXCL);
    // Unlocked explicitly in case a forked child still shares the open file.
    flock(fd_.Get(), LOCK_UN);
    pending_.clear();
    decoder_.Reset();
    // The descriptor is released even when close() fails, so it is never closed twice.
    if (::close(fd_.Release()) != 0) {
        return WinErrorFromErrno(errno);
    }
    return kErrorSuccess;
}

}  // namespace

namespace detail {

WinError MakeLineTermios(const Dcb& dcb, termios& tio, bool& rateInFlags) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > kParitySpace ||
        dcb.StopBits > kStopBitsTwo || dcb.fDtrControl > kDtrControlEnable ||
        dcb.fRtsControl > kRtsControlEnable) {
        return kErrorInvalidParameter;
    }
    // Hardware and software flow control, null stripping, error replacement and abort on error
    // are not offered by this backend; accepting them silently would change the line unseen.
    if (dcb.fOutxCtsFlow != 0 || dcb.fOutxDsrFlow != 0 || dcb.fDsrSensitivity != 0 ||
        dcb.fOutX != 0 || dcb.fInX != 0 || dcb.fNull != 0 || dcb.fErrorChar != 0 ||
        dcb.fAbortOnError != 0) {
        return kErrorNotSupported;
    }
    cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR | ISTRIP | IGNBRK | BRKINT);
    if (dcb.fParity != 0) {
        // Bytes with a parity error must reach the caller as received, neither dropped nor
        // turned into zero; PARMRK marks them and Read() removes the marks again.
        tio.c_iflag |= INPCK | PARMRK;
    }
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    constexpr std::array<tcflag_t, 4> kSizes{CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[dcb.ByteSize - 5];
    switch (dcb.Parity) {
        case kParityOdd:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case kParityEven:
            tio.c_cflag |= PARENB;
            break;
        case kParityMark:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case kParitySpace:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (dcb.StopBits != kStopBitsOne) {
        tio.c_cflag |= CSTOPB;
    }
    // Reads never block in the kernel; poll() does the waiting against our own deadline.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const std::optional<speed_t> constant = StandardRateConstant(dcb.BaudRate);
    rateInFlags = constant.has_value();
    if (constant && (cfsetispeed(&tio, *constant) != 0 || cfsetospeed(&tio, *constant) != 0)) {
        return WinErrorFromErrno(errno);
    }
    return kErrorSuccess;
}

}  // namespace detail

void ParityMarkDecoder::Feed(uint8_t in, std::deque<uint8_t>& out) {
    switch (state_) {
        case State::kPlain:
            if (in == kMarkByte) {
                state_ = State::kAfterMark;
            } else {
                out.push_back(in);
            }
            return;
        case State::kAfterMark:
            if (in == kMarkByte) {
                out.push_back(kMarkByte);
                state_ = State::kPlain;
            } else if (in == 0) {
                state_ = State::kAfterMarkZero;
            } else {
                // Not a mark after all: both bytes are data.
                out.push_back(kMarkByte);
                out.push_back(in);
                state_ = State::kPlain;
            }
            return;
        case State::kAfterMarkZero:
            out.push_back(in);
            state_ = State::kPlain;
            return;
    }
}

PosixSerialBackend::PosixSerialBackend(PortMap& map) : map_(map) {}

OpenResult PosixSerialBackend::Open(const std::string& path) {
    const int comNumber = ComNumberFromPath(path);
    if (comNumber <= 0) {
        return {nullptr, kErrorFileNotFound};
    }
    const std::optional<std::string> node = map_.DeviceNodeFor(comNumber);
    if (!node) {
        return {nullptr, kErrorFileNotFound};
    }
    UniqueFd fd(::open(node->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        return {nullptr, WinErrorFromErrno(errno)};
    }
    // The port is ours alone. TIOCEXCL makes the kernel refuse further opens of the tty (EBUSY),
    // but root passes it, and some programs open first and check later; the advisory lock on the
    // node refuses every second opener that asks, root included. Taken before TIOCEXCL so that a
    // refused opener has changed nothing on the port.
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return {nullptr, WinErrorFromErrno(errno)};
    }
    if (ioctl(fd.Get(), TIOCEXCL) != 0) {
        return {nullptr, WinErrorFromErrno(errno)};
    }
    return {std::make_unique<PosixSerialPort>(std::move(fd)), kErrorSuccess};
}

}  // namespace platform
