#include <cerrno>
#include <ctime>

#include "platform/clock/Clock.h"

namespace platform {
namespace {

class PosixClock final : public Clock {
  public:
    void Sleep(uint32_t ms) override {
        timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
        // A signal must not shorten the pause: sleep again for what is left.
        while (nanosleep(&left, &left) == -1 && errno == EINTR) {
        }
    }
    uint32_t GetTickCount() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000U +
                                     static_cast<uint64_t>(now.tv_nsec) / 1000000U);
    }
};

}  // namespace

Clock& RealClock() {
    static PosixClock clock;
    return clock;
}

}  // namespace platform
