#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "link/Com_w38_v1_2.h"
#include "platform/clock/Clock.h"
#include "sim/SimPort.h"

namespace linktest {

inline constexpr int kCom = 2;       // the port a fresh link opens
inline constexpr int kOtherCom = 7;  // a second device for port changes

// A link on a simulated port and a virtual clock, with a device on COM2 and one on COM7.
struct Rig {
    explicit Rig(uint32_t startTick = 0) : clock(startTick) {}

    platform::VirtualClock clock;
    sim::SimPort port{clock};
    sim::SimLine& line = port.AddDevice(kCom);
    sim::SimLine& otherLine = port.AddDevice(kOtherCom);
    bool keyPressed = false;
    CW38 link{{port, clock, [this] { return keyPressed; }}};
    uint32_t mark = 0;  // transcript times are shown relative to this tick

    sim::TalvinoDevice& device() { return line.Device; }
    uint32_t Elapsed() { return clock.GetTickCount() - mark; }

    // Forgets what travelled so far and restarts the time origin.
    void Reset() {
        line.Transcript.clear();
        otherLine.Transcript.clear();
        mark = clock.GetTickCount();
    }
    // Connect(1) on a willing device, then a clean transcript.
    bool Connected() {
        const bool ok = link.Connect(1) == 0 && link.Connected == 1;
        Reset();
        return ok;
    }
    // One row per event: "<ms since mark> PC|DEV <hex bytes>".
    std::vector<std::string> Rows(const sim::SimLine& which) const {
        std::vector<std::string> rows;
        for (const sim::TranscriptEvent& event : which.Transcript) {
            std::string row = std::to_string(event.Time - mark) +
                              (event.Dir == sim::Direction::PcToDevice ? " PC" : " DEV");
            for (uint8_t byte : event.Bytes) {
                char hex[4];
                std::snprintf(hex, sizeof hex, " %02X", byte);
                row += hex;
            }
            rows.push_back(row);
        }
        return rows;
    }
    std::vector<std::string> Rows() const { return Rows(line); }
};

}  // namespace linktest
