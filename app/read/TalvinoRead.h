#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/clock/Clock.h"
#include "platform/portmap/PortMap.h"
#include "platform/serial/SerialPort.h"

// talvino-read: one reading of a Talvino device without a window, for benches, production,
// remote shells and scripts. The reading runs on the window's own reading sequence.

// Exit status of talvino-read.
inline constexpr int kExitRead = 0;             // the device was read
inline constexpr int kExitUnexpected = 1;       // an internal failure the program did not foresee
inline constexpr int kExitUsage = 2;            // the command line was not understood
inline constexpr int kExitNoPort = 3;           // no serial port, or the one named is not there
inline constexpr int kExitNoAnswer = 4;         // no device answered within the time-out
inline constexpr int kExitWrongDevice = 5;      // the device is not a Talvino
inline constexpr int kExitTransferError = 6;    // the device stopped answering during the reading
inline constexpr int kExitPortUnavailable = 7;  // the port exists but cannot be opened

// What the program works with. Tests give their own streams, port map and settings file.
struct ReadEnvironment {
    std::ostream& Out;
    std::ostream& Err;
    platform::PortMap& Ports;
    platform::Clock& Clock;
    // The serial backend over the port map the program settles on: Ports itself, or Ports with
    // a device given by its path added under a free COM number.
    std::function<std::unique_ptr<platform::SerialBackend>(platform::PortMap&)> SerialOver;
    // The settings file that holds the language; read only. Empty or missing: French.
    std::string SettingsPath;
};

// Runs talvino-read with the arguments after the program name; gives the exit status.
int RunTalvinoRead(const std::vector<std::string>& args, ReadEnvironment& env);

// The program on this machine: standard streams, the machine's ports and clock, the user's
// settings file.
int TalvinoReadMain(int argc, char** argv);

// The --help text.
const char* TalvinoReadUsage();
