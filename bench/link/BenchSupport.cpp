#include "bench/link/BenchSupport.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace bench {

namespace {

class CountingPort : public platform::ForwardingSerialPort {
  public:
    CountingPort(std::unique_ptr<platform::SerialPort> inner, CountingSerialBackend& counts)
        : ForwardingSerialPort(std::move(inner)), counts_(counts) {}

    platform::WinError Write(const uint8_t* data, size_t count, size_t& written) override {
        const platform::WinError error = ForwardingSerialPort::Write(data, count, written);
        counts_.Written += written;
        return error;
    }
    platform::WinError Read(uint8_t* buffer, size_t count, size_t& received) override {
        const platform::WinError error = ForwardingSerialPort::Read(buffer, count, received);
        counts_.Received += received;
        return error;
    }

  private:
    CountingSerialBackend& counts_;
};

}  // namespace

double LineMs(size_t bytes) {
    return static_cast<double>(bytes) * kBitsPerByte * 1000.0 / kLineRate;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

std::unique_ptr<platform::SerialPort> CountingSerialBackend::Wrap(
    std::unique_ptr<platform::SerialPort> port) {
    return std::make_unique<CountingPort>(std::move(port), *this);
}

PrivatePortMap::PrivatePortMap(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX"));
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return;
    }
    root_ = pattern;
    setenv("TALVINO_PORT_MAP", (root_ / "map").c_str(), 1);
}

PrivatePortMap::~PrivatePortMap() {
    if (!root_.empty()) {
        unsetenv("TALVINO_PORT_MAP");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
}

}  // namespace bench
