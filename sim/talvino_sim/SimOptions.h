#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/TalvinoDevice.h"

namespace sim {

// What the simulator was asked to do on its command line.
struct SimOptions {
    std::string DevicePath;  // empty: serve on a new pseudo-terminal
    bool MakerAdapter = false;
    std::optional<int> ComNumber;  // none: the first number the port map does not use
    TalvinoConfig Config;
    TalvinoFaults Faults;
    bool Pacing = true;
    bool Trace = false;
    size_t Noise = 0;  // junk bytes waiting for the PC before anything else
    bool Help = false;
};

// Parses the arguments after the program name. Returns the options, or nullopt with a one-line
// message in error.
std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string& error);

// The --help text.
const char* SimUsage();

}  // namespace sim
