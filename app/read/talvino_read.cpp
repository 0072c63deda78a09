#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <exception>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "forms/SettingsFile.h"
#include "app/read/TalvinoRead.h"
#include "app/read/TracingSerial.h"
#include "forms/PortSearch.h"
#include "forms/ReadingSequence.h"
#include "link/Com_w38_v1_2.h"
#include "platform/files/Files.h"
#include "platform/registry/PortMapRegistry.h"
#include "platform/serial/PosixSerial.h"

#ifndef TALVINO_VERSION
#define TALVINO_VERSION "unknown"
#endif

namespace {

constexpr const char* kProgram = "talvino-read";
constexpr uint32_t kDefaultTimeoutMs = 10000;           // how long a script waits for a device, ms
constexpr double kMaxTimeoutSeconds = 86400.0;          // one day: longer is a typing error, s
constexpr uint32_t kMsPerSecond = 1000;                 // ms in a second
constexpr const char* kPortPrefix = "COM";              // a port given as COM7 instead of 7
constexpr const char* kPortPathFormat = "\\\\.\\COM";   // how the link names COMn
constexpr const char* kPlainDriver = "Serial";          // driver shown for a port given by its path
constexpr const char* kConfigDirFallback = "/.config";  // below the home directory

// ---------------------------------------------------------------------------------------------
// Command line

struct Options {
    bool Help = false;
    bool Version = false;
    bool Json = false;
    bool ListPorts = false;
    bool Trace = false;
    std::optional<LanguageIndex> Language;
    std::optional<int32_t> PortNumber;  // --port N
    std::string PortPath;               // --port /dev/PATH
    uint32_t TimeoutMs = kDefaultTimeoutMs;
};

std::optional<int32_t> ParsePortNumber(std::string text) {
    if (text.size() > 3) {
        std::string head = text.substr(0, 3);
        for (char& c : head) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (head == kPortPrefix) {
            text.erase(0, 3);
        }
    }
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const long long value = std::stoll(text);
    if (value < 1 || value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

std::optional<uint32_t> ParseTimeoutMs(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(seconds) ||
        seconds <= 0.0 || seconds > kMaxTimeoutSeconds) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(std::ceil(seconds * kMsPerSecond));
}

// Parses the arguments; nothing, with the reason in error, when they are not understood.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.erase(eq);
        }
        const bool takesValue = name == "--port" || name == "--lang" || name == "--timeout";
        if (inlineValue && !takesValue) {
            error = "option " + name + " takes no value";
            return std::nullopt;
        }
        std::string value;
        if (takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                error = "option " + name + " needs a value";
                return std::nullopt;
            }
        }
        if (name == "--help" || name == "-h") {
            options.Help = true;
        } else if (name == "--version") {
            options.Version = true;
        } else if (name == "--json") {
            options.Json = true;
        } else if (name == "--list-ports") {
            options.ListPorts = true;
        } else if (name == "--trace") {
            options.Trace = true;
        } else if (name == "--lang") {
            if (value == "fr") {
                options.Language = kFrench;
            } else if (value == "en") {
                options.Language = kEnglish;
            } else {
                error = "--lang takes fr or en, not '" + value + "'";
                return std::nullopt;
            }
        } else if (name == "--port") {
            options.PortNumber.reset();
            options.PortPath.clear();
            if (!value.empty() && value.front() == '/') {
                if (value.find('\n') != std::string::npos) {
                    error = "--port: a device path is one line";
                    return std::nullopt;
                }
                options.PortPath = value;
            } else if (const auto number = ParsePortNumber(value)) {
                options.PortNumber = number;
            } else {
                error =
                    "--port takes a COM number (1 or more) or a device path such as "
                    "/dev/ttyUSB0, not '" +
                    value + "'";
                return std::nullopt;
            }
        } else if (name == "--timeout") {
            const auto ms = ParseTimeoutMs(value);
            if (!ms) {
                error = "--timeout takes seconds above 0 and up to 86400, not '" + value + "'";
                return std::nullopt;
            }
            options.TimeoutMs = *ms;
        } else if (name.rfind("-", 0) == 0) {
            error = "unknown option '" + name + "'";
            return std::nullopt;
        } else {
            error = "unexpected argument '" + name + "'";
            return std::nullopt;
        }
    }
    return options;
}

// ---------------------------------------------------------------------------------------------
// Ports

// The machine's ports plus one device given by its path, under the COM number its node already
// has in the map, or else the first free one.
class OverlayPortMap : public platform::PortMap {
  public:
    OverlayPortMap(platform::PortMap& inner, std::string deviceNode)
        : inner_(inner), deviceNode_(std::move(deviceNode)) {}

    std::vector<platform::PortInfo> Scan() override {
        std::vector<platform::PortInfo> ports = inner_.Scan();
        for (const platform::PortInfo& port : ports) {
            if (port.deviceNode == deviceNode_) {
                comNumber_ = port.comNumber;
                return ports;
            }
        }
        // Scan() gives ascending numbers: the first gap is the first free number.
        int free = 1;
        for (const platform::PortInfo& port : ports) {
            if (port.comNumber == free) {
                ++free;
            }
        }
        comNumber_ = free;
        platform::PortInfo added;
        added.comNumber = free;
        added.data = kPortPrefix + std::to_string(free);
        added.valueName = "\\Device\\" + std::string(kPlainDriver) + "Path" + std::to_string(free);
        added.deviceNode = deviceNode_;
        added.driver = kPlainDriver;
        added.fromUserMap = true;
        auto at = ports.begin();
        while (at != ports.end() && at->comNumber < free) {
            ++at;
        }
        ports.insert(at, added);
        return ports;
    }

    // The number the device has in the last scan.
    int ComNumber() const { return comNumber_; }

  private:
    platform::PortMap& inner_;
    std::string deviceNode_;
    int comNumber_ = 0;
};

// Remembers how the last open went, so that a connection attempt that never reached the device
// can be told from a silent device.
class OpenRecorder : public platform::SerialBackend {
  public:
    explicit OpenRecorder(platform::SerialBackend& inner) : inner_(inner) {}
    platform::OpenResult Open(const std::string& path) override {
        platform::OpenResult opened = inner_.Open(path);
        LastError = opened.port ? platform::kErrorSuccess : opened.error;
        return opened;
    }
    platform::WinError LastError = platform::kErrorSuccess;

  private:
    platform::SerialBackend& inner_;
};

bool IsMakerAdapter(const platform::PortInfo& port) {
    return port.valueName.find(kMakerDriverWord) != std::string::npos;
}

// ---------------------------------------------------------------------------------------------
// Output

// The texts of error boxes hold line breaks ("\n\n\r"); on a terminal they become one line.
std::string OneLine(const std::string& text) {
    std::string line;
    bool pendingBlank = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            pendingBlank = !line.empty();
            continue;
        }
        if (pendingBlank && c != ' ' && line.back() != ' ') {
            line += ' ';
        }
        pendingBlank = false;
        line += c;
    }
    return line;
}

// A JSON string. With latin1 the bytes are characters of their own (a type code is three bytes
// from the device, any values); otherwise the text is taken as UTF-8.
std::string JsonString(const std::string& text, bool latin1 = false) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F || (latin1 && byte >= 0x80)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

template <typename T>
std::string JsonNumber(const std::optional<T>& value) {
    return value ? std::to_string(*value) : "null";
}

int ListPorts(platform::PortMap& map, const Options& options, std::ostream& out) {
    const std::vector<platform::PortInfo> ports = map.Scan();
    if (options.Json) {
        out << "{\"ports\": [";
        for (size_t i = 0; i < ports.size(); ++i) {
            const platform::PortInfo& port = ports[i];
            out << (i > 0 ? ", " : "") << "{\"com\": " << port.comNumber
                << ", \"name\": " << JsonString(port.data)
                << ", \"node\": " << JsonString(port.deviceNode)
                << ", \"driver\": " << JsonString(port.driver)
                << ", \"makerAdapter\": " << (IsMakerAdapter(port) ? "true" : "false") << "}";
        }
        out << "]}\n";
        return kExitRead;
    }
    size_t nodeWidth = 4;
    size_t driverWidth = 6;
    for (const platform::PortInfo& port : ports) {
        nodeWidth = std::max(nodeWidth, port.deviceNode.size());
        driverWidth = std::max(driverWidth, port.driver.size());
    }
    out << std::left << std::setw(8) << "PORT"
        << "  " << std::setw(static_cast<int>(nodeWidth)) << "NODE"
        << "  " << std::setw(static_cast<int>(driverWidth)) << "DRIVER"
        << "  MAKER'S ADAPTER\n";
    for (const platform::PortInfo& port : ports) {
        out << std::setw(8) << (kPortPrefix + std::to_string(port.comNumber)) << "  "
            << std::setw(static_cast<int>(nodeWidth)) << port.deviceNode << "  "
            << std::setw(static_cast<int>(driverWidth)) << port.driver << "  "
            << (IsMakerAdapter(port) ? "yes" : "no") << "\n";
    }
    out << std::right;
    return kExitRead;
}

// ---------------------------------------------------------------------------------------------
// The reading

// The reading sequence's window, on a terminal: the lines go to standard output (unless the
// result is wanted as JSON), error boxes to standard error, no sound, and the two messages
// queued for the driver to hand back right after the tick.
class TerminalView : public ReadingView {
  public:
    TerminalView(std::ostream& out, std::ostream& err, LanguageIndex language, bool printLines)
        : out_(out), err_(err), language_(language), printLines_(printLines) {}

    void AppendLine(const std::string& line) override {
        if (printLines_) {
            out_ << line << '\n' << std::flush;
        }
    }
    void SetButtonEnabled(ReadingButton, bool) override {}
    void SetTimerInterval(uint32_t) override {}
    void SetTimerEnabled(bool enabled) override { TimerEnabled = enabled; }
    void PostReadFailed(uint32_t reason) override { Posted.push_back({WM_READ_FAILED, reason}); }
    void PostReadDone() override { Posted.push_back({WM_READ_DONE, 0}); }
    void Beep(uint32_t) override {}
    void ShowError(const std::string& text) override {
        ErrorText = OneLine(text);
        err_ << kProgram << ": " << ErrorText << '\n' << std::flush;
    }
    LanguageIndex Language() const override { return language_; }

    struct Message {
        uint32_t Number;
        uint32_t WParam;
    };
    std::deque<Message> Posted;
    bool TimerEnabled = false;
    std::string ErrorText;

  private:
    std::ostream& out_;
    std::ostream& err_;
    LanguageIndex language_;
    bool printLines_;
};

// How a reading ended, for the exit status and the JSON object.
struct Ending {
    int Status = kExitRead;
    const char* Outcome = "read";
    std::string Reason;  // empty when the device was read
};

Ending Fail(int status, const char* outcome, std::string reason) {
    return {status, outcome, std::move(reason)};
}

std::string PortName(int32_t comNumber, const std::optional<std::string>& node) {
    std::string name = kPortPrefix + std::to_string(comNumber);
    if (node) {
        name += " (" + *node + ")";
    }
    return name;
}

// Why a port that exists could not be opened, in words a technician can act on.
Ending OpenFailure(platform::WinError error, const std::string& port,
                   const std::optional<std::string>& node) {
    if (error == platform::kErrorFileNotFound) {
        return Fail(kExitNoPort, "no-port", "no port " + port + ": it is not there (any more)");
    }
    if (error == platform::kErrorAccessDenied) {
        // Refused either because we may not use the node or because someone holds it.
        if (node && ::access(node->c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
            return Fail(kExitPortUnavailable, "port-unavailable",
                        "no permission to open " + port +
                            "; on Linux join the dialout group (sudo usermod -aG dialout $USER, "
                            "then log in again) or install the package's device rule");
        }
        return Fail(kExitPortUnavailable, "port-unavailable",
                    port + " is busy: another program holds it open");
    }
    if (error == platform::kErrorInvalidParameter) {
        return Fail(kExitPortUnavailable, "port-unavailable", port + " is not a serial port");
    }
    return Fail(kExitPortUnavailable, "port-unavailable",
                "cannot open " + port + " (system error " + std::to_string(error) + ")");
}

// The language of the settings file: English only when it holds 1, as the window takes it.
LanguageIndex SettingsLanguage(const std::string& path) {
    if (path.empty() || !platform::FileExists(path)) {
        return kFrench;
    }
    try {
        return settings::ReadLanguage(path) == static_cast<int32_t>(kEnglish) ? kEnglish : kFrench;
    } catch (const std::exception&) {
        return kFrench;  // an unreadable file is a missing one: the window would start in French
    }
}

std::string JsonResult(const Ending& ending, const std::string& port,
                       const std::optional<std::string>& node, const CW38& link,
                       const ReadingResult& result) {
    std::ostringstream json;
    json << "{\"port\": " << (port.empty() ? "null" : JsonString(port))
         << ", \"node\": " << (node ? JsonString(*node) : "null") << ", \"typeCode\": "
         << (link.LastTypeCode().empty() ? "null" : JsonString(link.LastTypeCode(), true))
         << ", \"serialNumber\": " << JsonNumber(result.SerialNumber)
         << ", \"circuitVersion\": " << JsonNumber(result.CircuitVersion)
         << ", \"softwareMajor\": " << JsonNumber(result.SoftwareMajor)
         << ", \"softwareMinor\": " << JsonNumber(result.SoftwareMinor)
         << ", \"outcome\": " << JsonString(ending.Outcome)
         << ", \"exitStatus\": " << ending.Status;
    if (!ending.Reason.empty()) {
        json << ", \"reason\": " << JsonString(ending.Reason);
    }
    json << "}\n";
    return json.str();
}

int Read(const Options& options, ReadEnvironment& env) {
    const LanguageIndex language =
        options.Language ? *options.Language : SettingsLanguage(env.SettingsPath);

    std::optional<OverlayPortMap> overlay;
    if (!options.PortPath.empty()) {
        overlay.emplace(env.Ports, options.PortPath);
    }
    platform::PortMap& map = overlay ? static_cast<platform::PortMap&>(*overlay) : env.Ports;
    const std::unique_ptr<platform::SerialBackend> serial = env.SerialOver(map);
    std::optional<read_tool::TracingSerialBackend> tracing;
    if (options.Trace) {
        tracing.emplace(*serial, env.Err);
    }
    OpenRecorder opens(tracing ? static_cast<platform::SerialBackend&>(*tracing) : *serial);
    CW38 link(LinkPlatform{opens, env.Clock, {}});

    TerminalView view(env.Out, env.Err, language, !options.Json);
    platform::PortMapRegistry registry(map);
    PortSearch ports(registry);
    ReadingSequence sequence(link, ports, view);

    Ending ending;
    std::string port;
    std::optional<std::string> node;
    int32_t comNumber = 0;
    if (overlay) {
        overlay->Scan();
        comNumber = overlay->ComNumber();
    } else if (options.PortNumber) {
        comNumber = *options.PortNumber;
    } else {
        // As the window does at its start: one search, the maker's adapter first.
        ports.PortChanged();
        comNumber = ports.HasPort() ? ports.GetPortNumber() : 0;
    }
    if (comNumber != 0) {
        node = map.DeviceNodeFor(comNumber);
        port = kPortPrefix + std::to_string(comNumber);
    }

    if (comNumber == 0) {
        ending = Fail(kExitNoPort, "no-port", "no serial port found (see --list-ports)");
    } else if (!node) {
        ending =
            Fail(kExitNoPort, "no-port", "no port " + port + " on this machine (see --list-ports)");
    } else {
        const std::string portName = PortName(comNumber, node);
        link.SetPortNumber(comNumber);
        sequence.Start();
        const uint32_t started = env.Clock.GetTickCount();
        while (sequence.Result().Outcome == ReadingOutcome::Running) {
            opens.LastError = platform::kErrorSuccess;
            if (view.TimerEnabled) {
                sequence.Tick();
            }
            // Posted messages arrive after the tick has returned, as the window's queue does.
            while (!view.Posted.empty()) {
                const TerminalView::Message message = view.Posted.front();
                view.Posted.pop_front();
                if (message.Number == WM_READ_FAILED) {
                    sequence.ReadFailed(message.WParam);
                } else {
                    sequence.ReadDone();
                }
            }
            if (sequence.Result().Outcome != ReadingOutcome::Running) {
                break;
            }
            if (opens.LastError != platform::kErrorSuccess) {
                ending = OpenFailure(opens.LastError, portName, node);
                break;
            }
            // The window tries to connect for ever; a script needs an end.
            if (sequence.ReadStep == 1 && env.Clock.GetTickCount() - started >= options.TimeoutMs) {
                std::ostringstream reason;
                reason << "no answer from a device on " << portName << " within "
                       << options.TimeoutMs / static_cast<double>(kMsPerSecond) << " s";
                ending = Fail(kExitNoAnswer, "no-answer", reason.str());
                break;
            }
            if (!view.TimerEnabled && view.Posted.empty()) {
                ending = Fail(kExitUnexpected, "unexpected", "the reading stopped without an end");
                break;
            }
        }
        const ReadingResult& result = sequence.Result();
        if (result.Outcome == ReadingOutcome::Failed) {
            const std::string box = view.ErrorText.empty() ? "the reading failed" : view.ErrorText;
            ending = result.FailureReason == kReasonWrongDevice
                         ? Fail(kExitWrongDevice, "wrong-device", box)
                         : Fail(kExitTransferError, "transfer-error",
                                box + " (link result " + std::to_string(result.LinkFailure) + ")");
        }
    }

    // The engine already wrote the error box of a failed reading; the rest is ours to say.
    const bool said = sequence.Result().Outcome == ReadingOutcome::Failed;
    if (ending.Status != kExitRead && !said) {
        env.Err << kProgram << ": " << ending.Reason << '\n';
    }
    if (options.Json) {
        env.Out << JsonResult(ending, port, node, link, sequence.Result());
    }
    env.Out.flush();
    env.Err.flush();
    return ending.Status;
}

// Where the settings file lies, found without creating anything on the way: a reader leaves
// the user's directories as it found them.
std::string RealSettingsPath() {
    std::string directory;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
        directory = config;
    } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        directory = std::string(home) + kConfigDirFallback;
    } else if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir) {
        directory = std::string(user->pw_dir) + kConfigDirFallback;
    } else {
        return "";
    }
    return directory + settings::kFileName;
}

}  // namespace

const char* TalvinoReadUsage() {
    return "usage: talvino-read [options]\n"
           "Reads a Talvino device once: type, serial number, circuit and software version.\n"
           "Without --port the serial ports are searched and the maker's adapter is preferred;\n"
           "otherwise the first port found is used. The lines are those of the program's\n"
           "window, in the language of its settings file (French when there is none).\n"
           "\n"
           "  --port N           read on COMn (see --list-ports)\n"
           "  --port /dev/PATH   read on this serial device\n"
           "  --lang fr|en       language of the lines\n"
           "  --timeout SECONDS  how long to try to reach the device (default 10)\n"
           "  --json             print one JSON object instead of the lines\n"
           "  --list-ports       list the serial ports (as JSON with --json) and exit\n"
           "  --trace            every byte on the line to standard error, time-stamped:\n"
           "                     PC> from this program, <DEV from the device\n"
           "  --help             this text\n"
           "  --version          the program's version\n"
           "\n"
           "Exit status:\n"
           "  0  the device was read\n"
           "  1  unexpected internal failure\n"
           "  2  the command line was not understood\n"
           "  3  no serial port, or the port named is not there\n"
           "  4  no device answered within the time-out\n"
           "  5  the device is not a Talvino (wrong type code)\n"
           "  6  transfer error: the device stopped answering during the reading\n"
           "  7  the port cannot be opened (busy, or no permission)\n";
}

int RunTalvinoRead(const std::vector<std::string>& args, ReadEnvironment& env) {
    try {
        std::string error;
        const std::optional<Options> options = ParseOptions(args, error);
        if (!options) {
            env.Err << kProgram << ": " << error << " (see --help)\n" << std::flush;
            return kExitUsage;
        }
        if (options->Help) {
            env.Out << TalvinoReadUsage() << std::flush;
            return kExitRead;
        }
        if (options->Version) {
            env.Out << kProgram << " " << TALVINO_VERSION << '\n' << std::flush;
            return kExitRead;
        }
        if (options->ListPorts) {
            const int status = ListPorts(env.Ports, *options, env.Out);
            env.Out.flush();
            return status;
        }
        return Read(*options, env);
    } catch (const std::exception& e) {
        env.Err << kProgram << ": " << e.what() << '\n' << std::flush;
    } catch (...) {
        env.Err << kProgram << ": unexpected failure\n" << std::flush;
    }
    return kExitUnexpected;
}

int TalvinoReadMain(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    ReadEnvironment env{
        std::cout,
        std::cerr,
        platform::RealPortMap(),
        platform::RealClock(),
        [](platform::PortMap& map) -> std::unique_ptr<platform::SerialBackend> {
            return std::make_unique<platform::PosixSerialBackend>(map);
        },
        RealSettingsPath(),
    };
    return RunTalvinoRead(args, env);
}
