#include "link/Com_w38_v1_2.h"

// Kept apart from the link itself so that tests, which always pass their own platform, do not
// pull in the machine's serial ports.
LinkPlatform LinkPlatform::Real() {
    // The program runs without a console: no key press can ever wait there.
    return {platform::RealSerialBackend(), platform::RealClock(), [] { return false; }};
}
