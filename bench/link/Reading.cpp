#include "bench/link/Reading.h"

#include <array>

namespace {

constexpr int32_t kConnectSeconds = 1;  // the deadline the main window gives Connect (s)

struct NamedResult {
    LinkResult Code;
    const char* Name;
};

constexpr std::array<NamedResult, 6> kLinkCodes{{{ErrNotConnected, "ErrNotConnected"},
                                                 {ErrNoReply, "ErrNoReply"},
                                                 {ErrSpeedRefused, "ErrSpeedRefused"},
                                                 {ErrSlotRange, "ErrSlotRange"},
                                                 {ErrPortNotOpen, "ErrPortNotOpen"},
                                                 {ErrWrongDevice, "ErrWrongDevice"}}};

std::string Line(const std::string& what, const std::string& value, LinkResult result) {
    const std::string code = "LinkResult " + LinkResultText(result);
    return what + ": " + (result == 0 && !value.empty() ? value + " (" + code + ")" : code);
}

}  // namespace

std::string LinkResultText(LinkResult result) {
    for (const NamedResult& named : kLinkCodes) {
        if (named.Code == result) {
            return std::to_string(result) + " " + named.Name;
        }
    }
    return std::to_string(result);
}

ReadingResults RunReading(CW38& link, int32_t comNumber) {
    ReadingResults r;
    link.SetPortNumber(comNumber);
    r.Connect = link.Connect(kConnectSeconds);
    r.Type = link.CheckDeviceType();
    r.Serial = link.ReadSerialNumber(r.SerialNumber);
    r.Circuit = link.ReadCircuitVersion(r.CircuitVersion);
    r.Software = link.ReadSoftwareVersion(r.SoftwareMajor, r.SoftwareMinor);
    r.Disconnect = link.Disconnect();
    return r;
}

std::vector<std::string> ReadingLines(const ReadingResults& r) {
    return {
        Line("connect", "", r.Connect),
        Line("device type", "W38", r.Type),
        Line("serial number", std::to_string(r.SerialNumber), r.Serial),
        Line("circuit version", std::to_string(r.CircuitVersion), r.Circuit),
        Line("software version",
             std::to_string(r.SoftwareMajor) + "." + std::to_string(r.SoftwareMinor), r.Software),
        Line("disconnect", "", r.Disconnect),
    };
}
