#include "platform/portmap/PortMap.h"

namespace platform {

std::optional<std::string> PortMap::DeviceNodeFor(int comNumber) {
    for (const PortInfo& port : Scan()) {
        if (port.comNumber == comNumber) {
            return port.deviceNode;
        }
    }
    return std::nullopt;
}

}  // namespace platform
