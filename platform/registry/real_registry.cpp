#include "platform/registry/PortMapRegistry.h"

namespace platform {

// Kept in a file of its own so that code using only the in-memory registry does not pull in the
// machine's port map.
RegistrySource& RealRegistry() {
    static PortMapRegistry registry(RealPortMap());
    return registry;
}

}  // namespace platform
