#include "app/read/TracingSerial.h"

#include <cstdio>
#include <utility>

namespace read_tool {

namespace {

constexpr const char* kToDevice = "PC> ";     // written by us
constexpr const char* kFromDevice = "<DEV ";  // received from the device

class TracingPort : public platform::ForwardingSerialPort {
  public:
    TracingPort(std::unique_ptr<platform::SerialPort> inner, TracingSerialBackend& trace)
        : ForwardingSerialPort(std::move(inner)), trace_(trace) {}

    platform::WinError SetState(const platform::Dcb& dcb) override {
        const platform::WinError error = ForwardingSerialPort::SetState(dcb);
        trace_.Line("-- line at " + std::to_string(dcb.BaudRate) + " bit/s" + Failure(error));
        return error;
    }
    platform::WinError Purge(uint32_t flags) override {
        const platform::WinError error = ForwardingSerialPort::Purge(flags);
        trace_.Line("-- purge" + Failure(error));
        return error;
    }
    platform::WinError Write(const uint8_t* data, size_t count, size_t& written) override {
        const platform::WinError error = ForwardingSerialPort::Write(data, count, written);
        if (written > 0) {
            trace_.Line(kToDevice + HexBytes(data, written));
        }
        if (error != platform::kErrorSuccess || written < count) {
            trace_.Line("-- write ended after " + std::to_string(written) + " of " +
                        std::to_string(count) + " bytes" + Failure(error));
        }
        return error;
    }
    platform::WinError Read(uint8_t* buffer, size_t count, size_t& received) override {
        const platform::WinError error = ForwardingSerialPort::Read(buffer, count, received);
        if (received > 0) {
            trace_.Line(kFromDevice + HexBytes(buffer, received));
        }
        if (error != platform::kErrorSuccess) {
            trace_.Line("-- read" + Failure(error));
        }
        return error;
    }
    platform::WinError Close() override {
        const platform::WinError error = ForwardingSerialPort::Close();
        trace_.Line("-- close" + Failure(error));
        return error;
    }

  private:
    static std::string Failure(platform::WinError error) {
        return error == platform::kErrorSuccess ? "" : " failed, error " + std::to_string(error);
    }

    TracingSerialBackend& trace_;
};

}  // namespace

TracingSerialBackend::TracingSerialBackend(platform::SerialBackend& inner, std::ostream& trace)
    : ForwardingSerialBackend(inner), trace_(trace), start_(std::chrono::steady_clock::now()) {}

platform::OpenResult TracingSerialBackend::Open(const std::string& path) {
    platform::OpenResult opened = ForwardingSerialBackend::Open(path);
    Line("-- open " + path + (opened.port ? "" : " failed, error " + std::to_string(opened.error)));
    return opened;
}

std::unique_ptr<platform::SerialPort> TracingSerialBackend::Wrap(
    std::unique_ptr<platform::SerialPort> port) {
    return std::make_unique<TracingPort>(std::move(port), *this);
}

void TracingSerialBackend::Line(const std::string& text) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%11.6f ", seconds);
    // Flushed line by line: a trace is read most when the program hangs or dies.
    trace_ << stamp << text << std::endl;
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace read_tool
