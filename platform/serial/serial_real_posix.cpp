#include "platform/portmap/PortMap.h"
#include "platform/serial/PosixSerial.h"

namespace platform {

SerialBackend& RealSerialBackend() {
    static PosixSerialBackend backend(RealPortMap());
    return backend;
}

}  // namespace platform
