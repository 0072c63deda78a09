#pragma once

#include "platform/portmap/PortMap.h"
#include "platform/registry/RegistrySource.h"

namespace platform {

// The serial-port key under the local machine root, read only.
inline constexpr const char* kSerialCommKeyPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The machine's registry as far as the program reads it: the serial-port key, served from a
// port map. Each port is one kRegSz value (name PortInfo::valueName, data PortInfo::data), in
// the map's order; the content is the map's scan when the opened key is first read, and stays
// as it was for that key. The key always exists, with no values when there is no port; a map
// that cannot be scanned gives a key whose information cannot be read. Every other key is
// missing, and any right beyond reading is refused.
class PortMapRegistry : public RegistrySource {
  public:
    explicit PortMapRegistry(PortMap& portMap) : portMap_(portMap) {}
    std::unique_ptr<RegistryKey> OpenKey(HKey root, const std::string& path,
                                         RegAccess access) override;

  private:
    PortMap& portMap_;
};

// The registry of this machine: a PortMapRegistry over RealPortMap().
RegistrySource& RealRegistry();

}  // namespace platform
