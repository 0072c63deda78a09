#include "sim/SimPort.h"

#include <algorithm>
#include <utility>

namespace sim {
namespace {

constexpr uint32_t kFreshPortRate = 1200;  // bit/s a port reports before anyone sets it
constexpr uint64_t kMicrosPerSecond = 1000000;
constexpr uint64_t kMicrosPerMilli = 1000;

}  // namespace

// The open handle of one line; closing or destroying it frees the line for the next opener.
class SimPort::Port final : public platform::SerialPort {
  public:
    Port(SimPort& owner, SimLine& line) : owner_(owner), line_(line) {}
    ~Port() override {
        if (open_) {
            line_.Open = false;
        }
    }

    platform::WinError GetState(platform::Dcb& out) override {
        if (auto error = Failure(SimCall::GetState)) {
            return error;
        }
        out = line_.State;
        return platform::kErrorSuccess;
    }
    platform::WinError SetState(const platform::Dcb& dcb) override {
        if (auto error = Failure(SimCall::SetState)) {
            return error;
        }
        line_.State = dcb;
        line_.StatesSet.push_back(dcb);
        return platform::kErrorSuccess;
    }
    platform::WinError GetTimeouts(platform::CommTimeouts& out) override {
        if (auto error = Failure(SimCall::GetTimeouts)) {
            return error;
        }
        out = line_.Timeouts;
        return platform::kErrorSuccess;
    }
    platform::WinError SetTimeouts(const platform::CommTimeouts& timeouts) override {
        if (auto error = Failure(SimCall::SetTimeouts)) {
            return error;
        }
        line_.Timeouts = timeouts;
        return platform::kErrorSuccess;
    }
    platform::WinError Purge(uint32_t flags) override {
        if (auto error = Failure(SimCall::Purge)) {
            return error;
        }
        if (flags & platform::kPurgeRxClear) {
            line_.DeviceOutput.clear();
        }
        ++line_.PurgeCount;
        return platform::kErrorSuccess;
    }
    platform::WinError Write(const uint8_t* data, size_t count, size_t& written) override {
        written = 0;
        if (auto error = Failure(SimCall::Write)) {
            return error;
        }
        if (line_.HungUp) {
            return platform::kErrorDeviceNotConnected;
        }
        line_.Transcript.push_back({owner_.clock_.GetTickCount(), Direction::PcToDevice,
                                    std::vector<uint8_t>(data, data + count)});
        owner_.ChargeLineTime(line_, count);
        for (size_t i = 0; i < count; ++i) {
            const std::vector<uint8_t> reply = line_.Device.Receive(data[i]);
            line_.DeviceOutput.insert(line_.DeviceOutput.end(), reply.begin(), reply.end());
        }
        if (line_.Device.HungUp()) {
            line_.HungUp = true;
        }
        written = count;
        return platform::kErrorSuccess;
    }
    platform::WinError Read(uint8_t* buffer, size_t count, size_t& received) override {
        received = 0;
        if (auto error = Failure(SimCall::Read)) {
            return error;
        }
        if (line_.HungUp) {
            return platform::kErrorDeviceNotConnected;
        }
        if (line_.DeviceOutput.empty()) {
            const platform::CommTimeouts& t = line_.Timeouts;
            owner_.clock_.Advance(t.ReadTotalTimeoutMultiplier * static_cast<uint32_t>(count) +
                                  t.ReadTotalTimeoutConstant);
            return platform::kErrorSuccess;
        }
        received = std::min(count, line_.DeviceOutput.size());
        owner_.ChargeLineTime(line_, received);
        for (size_t i = 0; i < received; ++i) {
            buffer[i] = line_.DeviceOutput.front();
            line_.DeviceOutput.pop_front();
            line_.Transcript.push_back(
                {owner_.clock_.GetTickCount(), Direction::DeviceToPc, {buffer[i]}});
        }
        return platform::kErrorSuccess;
    }
    platform::WinError Close() override {
        if (auto error = Failure(SimCall::Close)) {
            return error;
        }
        if (open_) {
            open_ = false;
            line_.Open = false;
        }
        return platform::kErrorSuccess;
    }

  private:
    platform::WinError Failure(SimCall call) const {
        if (!open_) {
            return platform::kErrorInvalidHandle;
        }
        const auto found = line_.Failures.find(call);
        return found == line_.Failures.end() ? platform::kErrorSuccess : found->second;
    }

    SimPort& owner_;
    SimLine& line_;
    bool open_ = true;
};

SimPort::SimPort(platform::VirtualClock& clock) : clock_(clock) {}

SimPort::~SimPort() = default;

SimLine& SimPort::AddDevice(int comNumber, TalvinoDevice device) {
    auto line = std::make_unique<SimLine>(std::move(device));
    line->State.BaudRate = kFreshPortRate;
    SimLine& result = *line;
    lines_[comNumber] = std::move(line);
    return result;
}

SimLine& SimPort::Line(int comNumber) {
    return *lines_.at(comNumber);
}

void SimPort::InjectDeviceOutput(int comNumber, const std::vector<uint8_t>& bytes) {
    SimLine& line = Line(comNumber);
    line.DeviceOutput.insert(line.DeviceOutput.end(), bytes.begin(), bytes.end());
}

void SimPort::HangUp(int comNumber) {
    Line(comNumber).HungUp = true;
}

platform::OpenResult SimPort::Open(const std::string& path) {
    const auto found = lines_.find(platform::ComNumberFromPath(path));
    if (found == lines_.end()) {
        return {nullptr, platform::kErrorFileNotFound};
    }
    SimLine& line = *found->second;
    if (line.OpenError != platform::kErrorSuccess) {
        return {nullptr, line.OpenError};
    }
    if (line.Open) {
        return {nullptr, platform::kErrorAccessDenied};
    }
    line.Open = true;
    ++line.OpenCount;
    return {std::make_unique<Port>(*this, line), platform::kErrorSuccess};
}

void SimPort::ChargeLineTime(const SimLine& line, size_t bytes) {
    if (!pacing_ || line.State.BaudRate == 0) {
        return;
    }
    lineTimeMicros_ += bytes * kBitsPerByte * kMicrosPerSecond / line.State.BaudRate;
    clock_.Advance(static_cast<uint32_t>(lineTimeMicros_ / kMicrosPerMilli));
    lineTimeMicros_ %= kMicrosPerMilli;
}

}  // namespace sim
