#include "platform/registry/PortMapRegistry.h"

#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace platform {
namespace {

// The serial-port key, scanned when it is first read rather than when it is opened: a search
// that only asks whether the key exists costs no scan of the map.
class PortMapKey : public RegistryKey {
  public:
    explicit PortMapKey(PortMap& portMap) : portMap_(portMap) {}
    std::optional<RegKeyInfo> QueryInfo() override { return Snapshot().QueryInfo(); }
    std::optional<std::string> EnumValueName(uint32_t index) override {
        return Snapshot().EnumValueName(index);
    }
    std::optional<RegValue> QueryValue(const std::string& name) override {
        return Snapshot().QueryValue(name);
    }

  private:
    SnapshotKey& Snapshot() {
        if (!snapshot_) {
            std::vector<PortInfo> ports;
            bool readable = true;
            try {
                ports = portMap_.Scan();
            } catch (const std::exception&) {
                // A map that cannot be read gives a key whose information cannot be read.
                readable = false;
            }
            std::vector<SnapshotValue> values;
            values.reserve(ports.size());
            for (const PortInfo& port : ports) {
                values.push_back({port.valueName, kRegSz, port.data + '\0'});
            }
            snapshot_.emplace(std::move(values), readable);
        }
        return *snapshot_;
    }

    PortMap& portMap_;
    std::optional<SnapshotKey> snapshot_;
};

}  // namespace

std::unique_ptr<RegistryKey> PortMapRegistry::OpenKey(HKey root, const std::string& path,
                                                      RegAccess access) {
    if (root != kHkeyLocalMachine || !SameKeyPath(path, kSerialCommKeyPath) ||
        (access & ~kKeyRead) != 0) {
        return nullptr;
    }
    return std::make_unique<PortMapKey>(portMap_);
}

}  // namespace platform
