#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/Com_w38_v1_2.h"

// One whole reading of a device through the link, in the order the main window runs it:
// Connect(1), CheckDeviceType, ReadSerialNumber, ReadCircuitVersion, ReadSoftwareVersion,
// Disconnect. Every step runs, also after a failure, so that each result can be shown.
struct ReadingResults {
    LinkResult Connect = 0;
    LinkResult Type = 0;
    LinkResult Serial = 0;
    LinkResult Circuit = 0;
    LinkResult Software = 0;
    LinkResult Disconnect = 0;
    uint32_t SerialNumber = 0;
    int32_t CircuitVersion = 0;
    int32_t SoftwareMajor = 0;
    int32_t SoftwareMinor = 0;

    bool AllSucceeded() const {
        return Connect == 0 && Type == 0 && Serial == 0 && Circuit == 0 && Software == 0 &&
               Disconnect == 0;
    }
};

ReadingResults RunReading(CW38& link, int32_t comNumber);

// One line per step, with its LinkResult: "serial number: 12345678 (LinkResult 0)".
std::vector<std::string> ReadingLines(const ReadingResults& results);

// "0", "100002 ErrNoReply", "2" ...
std::string LinkResultText(LinkResult result);
