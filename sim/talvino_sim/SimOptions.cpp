#include "sim/talvino_sim/SimOptions.h"

#include <charconv>
#include <limits>
#include <string_view>

namespace sim {
namespace {

constexpr int kHighestComNumber = 255;  // the largest COMn the system names
constexpr size_t kTypeCodeLength = 3;   // characters of a type code

// A whole decimal number within [low, high]; nothing else, no sign, no blanks.
template <typename T>
std::optional<T> ParseNumber(std::string_view text, T low, T high) {
    uint64_t value = 0;
    if (text.empty() || text.front() == '+' || text.front() == '-') {
        return std::nullopt;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < uint64_t(low) ||
        value > uint64_t(high)) {
        return std::nullopt;
    }
    return static_cast<T>(value);
}

std::string Range(uint64_t low, uint64_t high) {
    return " (a whole number from " + std::to_string(low) + " to " + std::to_string(high) + ")";
}

}  // namespace

const char* SimUsage() {
    return "usage: talvino-sim [options]\n"
           "Serves a simulated Talvino device on a pseudo-terminal registered in the user port\n"
           "map (or on a serial device), and prints one line when it is ready:\n"
           "  talvino-sim: COM7 on /dev/pts/3 (maker's adapter)\n"
           "It runs until SIGINT, SIGTERM or SIGHUP, then removes its port map entry.\n"
           "\n"
           "Port:\n"
           "  --device PATH        serve on this serial device instead of a pseudo-terminal\n"
           "                       (not registered in the port map)\n"
           "  --com N              register as COMn, 1 to 255, refused when in use\n"
           "                       (default: the first number not in use, from 1)\n"
           "  --maker-adapter      register with the driver \"Silabser\" (the maker's adapter)\n"
           "Device:\n"
           "  --type CODE          type code, exactly 3 characters (default W38)\n"
           "  --serial N           serial number, 0 to 4294967295 (default 12345678)\n"
           "  --circuit N          circuit version, 0 to 255 (default 3)\n"
           "  --software MAJ.MIN   software version, each 0 to 255 (default 1.2)\n"
           "Faults:\n"
           "  --silent             never answer\n"
           "  --refuse             refuse the connection request\n"
           "  --stop-after N       go silent after sending N bytes\n"
           "  --refuse-speed       refuse every speed change\n"
           "  --lowercase          send hexadecimal answers in lower case\n"
           "  --hangup-after N     close the line after sending N bytes, then exit\n"
           "  --noise N            leave N junk bytes waiting for the PC at start\n"
           "Timing and output:\n"
           "  --no-pacing          deliver bytes at once instead of at the line rate\n"
           "                       (default: 11 bits a byte at 9600 bit/s, or the rate a\n"
           "                       speed change set)\n"
           "  --trace              every byte to stderr: <seconds.micros> PC>|<DEV <hex>\n"
           "  --help               this text\n"
           "Exit status: 0 after a signal or a hang-up, 1 when the port cannot be served,\n"
           "2 for bad options.\n";
}

std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args,
                                          std::string& error) {
    SimOptions options;
    constexpr uint64_t kMaxCount = std::numeric_limits<uint32_t>::max();
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        auto flag = [&](bool& target) {
            if (inlineValue) {
                error = "option " + name + " takes no value";
                return false;
            }
            target = true;
            return true;
        };
        std::string value;
        auto takeValue = [&]() {
            if (inlineValue) {
                value = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto count = [&](std::optional<size_t>& target) {
            if (!takeValue()) {
                return false;
            }
            const auto n = ParseNumber<uint64_t>(value, 0, kMaxCount);
            if (!n) {
                error = "bad number for " + name + ": '" + value + "'" + Range(0, kMaxCount);
                return false;
            }
            target = static_cast<size_t>(*n);
            return true;
        };
        bool ok = true;
        if (name == "--help" || name == "-h") {
            ok = flag(options.Help);
        } else if (name == "--maker-adapter") {
            ok = flag(options.MakerAdapter);
        } else if (name == "--silent") {
            ok = flag(options.Faults.Silent);
        } else if (name == "--refuse") {
            ok = flag(options.Faults.RefuseConnection);
        } else if (name == "--refuse-speed") {
            ok = flag(options.Faults.RefuseSpeedChange);
        } else if (name == "--lowercase") {
            ok = flag(options.Faults.LowerCaseHex);
        } else if (name == "--trace") {
            ok = flag(options.Trace);
        } else if (name == "--no-pacing") {
            bool noPacing = false;
            ok = flag(noPacing);
            options.Pacing = !noPacing;
        } else if (name == "--stop-after") {
            ok = count(options.Faults.StopAnsweringAfter);
        } else if (name == "--hangup-after") {
            ok = count(options.Faults.HangUpAfter);
        } else if (name == "--noise") {
            std::optional<size_t> noise;
            ok = count(noise);
            options.Noise = noise.value_or(0);
        } else if (name == "--device") {
            ok = takeValue();
            if (ok && (value.empty() || value.find('\n') != std::string::npos)) {
                error = "bad device path for --device: '" + value + "'";
                ok = false;
            }
            options.DevicePath = value;
        } else if (name == "--com") {
            ok = takeValue();
            if (ok) {
                options.ComNumber = ParseNumber<int>(value, 1, kHighestComNumber);
                if (!options.ComNumber) {
                    error = "bad number for --com: '" + value + "'" + Range(1, kHighestComNumber);
                    ok = false;
                }
            }
        } else if (name == "--type") {
            ok = takeValue();
            if (ok && value.size() != kTypeCodeLength) {
                error = "bad type code for --type: '" + value + "' (exactly 3 characters)";
                ok = false;
            }
            options.Config.TypeCode = value;
        } else if (name == "--serial") {
            ok = takeValue();
            if (ok) {
                const auto n =
                    ParseNumber<uint32_t>(value, 0, std::numeric_limits<uint32_t>::max());
                if (!n) {
                    error = "bad number for --serial: '" + value + "'" + Range(0, kMaxCount);
                    ok = false;
                } else {
                    options.Config.SetSerialNumber(*n);
                }
            }
        } else if (name == "--circuit") {
            ok = takeValue();
            if (ok) {
                const auto n = ParseNumber<uint8_t>(value, 0, 255);
                if (!n) {
                    error = "bad number for --circuit: '" + value + "'" + Range(0, 255);
                    ok = false;
                } else {
                    options.Config.CircuitVersion = *n;
                }
            }
        } else if (name == "--software") {
            ok = takeValue();
            if (ok) {
                const size_t dot = value.find('.');
                std::optional<uint8_t> major;
                std::optional<uint8_t> minor;
                if (dot != std::string::npos) {
                    major = ParseNumber<uint8_t>(std::string_view(value).substr(0, dot), 0, 255);
                    minor = ParseNumber<uint8_t>(std::string_view(value).substr(dot + 1), 0, 255);
                }
                if (!major || !minor) {
                    error = "bad version for --software: '" + value +
                            "' (MAJOR.MINOR, each a whole number from 0 to 255)";
                    ok = false;
                } else {
                    options.Config.SetSoftwareVersion(*major, *minor);
                }
            }
        } else {
            error = "unknown option: '" + args[i] + "' (see --help)";
            ok = false;
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    if (!options.DevicePath.empty() && (options.ComNumber || options.MakerAdapter)) {
        error = "--com and --maker-adapter apply to the pseudo-terminal only, not to --device";
        return std::nullopt;
    }
    return options;
}

}  // namespace sim
