#include "platform/registry/PortMapRegistry.h"

#include <exception>
#include <utility>
#include <vector>

namespace platform {

std::unique_ptr<RegistryKey> PortMapRegistry::OpenKey(HKey root, const std::string& path,
                                                      RegAccess access) {
    if (root != kHkeyLocalMachine || !SameKeyPath(path, kSerialCommKeyPath) ||
        (access & ~kKeyRead) != 0) {
        return nullptr;
    }
    std::vector<PortInfo> ports;
    try {
        ports = portMap_.Scan();
    } catch (const std::exception&) {
        // A map that cannot be read shows as a missing key, like a machine without the key.
        return nullptr;
    }
    std::vector<SnapshotValue> values;
    values.reserve(ports.size());
    for (const PortInfo& port : ports) {
        values.push_back({port.valueName, kRegSz, port.data + '\0'});
    }
    return std::make_unique<SnapshotKey>(std::move(values), true);
}

}  // namespace platform
