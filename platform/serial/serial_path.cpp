#include <string_view>

#include "platform/serial/SerialPort.h"

namespace platform {

int ComNumberFromPath(const std::string& path) {
    constexpr std::string_view kPrefix = "\\\\.\\COM";
    if (path.size() <= kPrefix.size() || path.compare(0, kPrefix.size(), kPrefix) != 0) {
        return 0;
    }
    long long number = 0;
    for (size_t i = kPrefix.size(); i < path.size(); ++i) {
        const char c = path[i];
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
        if (number > 0x7FFFFFFF) {
            return 0;
        }
    }
    return static_cast<int>(number);
}

}  // namespace platform
