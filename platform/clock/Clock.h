#pragma once

#include <cstdint>

namespace platform {

// Pauses and the millisecond tick count, the two time services the device link relies on.
class Clock {
  public:
    virtual ~Clock() = default;
    // Blocks the calling thread for at least ms milliseconds.
    virtual void Sleep(uint32_t ms) = 0;
    // Milliseconds since an arbitrary origin; wraps around after 2^32 ms like the system's.
    virtual uint32_t GetTickCount() = 0;
};

// The machine's monotonic clock.
Clock& RealClock();

// Time that moves only when someone sleeps on it or advances it: a pause or a read time-out
// costs no real time in tests.
class VirtualClock : public Clock {
  public:
    explicit VirtualClock(uint32_t start = 0) : now_(start) {}
    void Sleep(uint32_t ms) override { now_ += ms; }
    uint32_t GetTickCount() override { return now_; }
    void Advance(uint32_t ms) { now_ += ms; }

  private:
    uint32_t now_;
};

}  // namespace platform
