#include <gtest/gtest.h>
#include <stdlib.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/read/TalvinoRead.h"
#include "platform/portmap/PortMap.h"
#include "platform/serial/PosixSerial.h"
#include "sim/talvino_sim/SimProcess.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/SimPortMap.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int Status = -1;
    std::string Out;
    std::string Err;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

QJsonObject ParseObject(const std::string& text) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    EXPECT_TRUE(document.isObject()) << text;
    return document.object();
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Each test has its own user port map, shared with the simulators it starts through
// TALVINO_PORT_MAP, and an empty sysfs, so that only the simulators' ports exist. The program
// runs in-process on the real POSIX backend and the real clock.
class ReadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ports_.emplace("read-tests");
        root_ = ports_->Root();
        map_ = std::make_unique<platform::PosixPortMap>(ports_->Sys(), MapDir(), "/dev");
    }
    void TearDown() override { ports_.reset(); }

    fs::path MapDir() const { return ports_->MapDir(); }
    fs::path SettingsPath() const { return root_ / "TalvinoV1.CFG"; }

    std::unique_ptr<sim::SimProcess> StartSim(std::vector<std::string> args) {
        args.push_back("--no-pacing");
        auto simulator = std::make_unique<sim::SimProcess>(args);
        EXPECT_TRUE(simulator->Ready()) << simulator->Failure();
        return simulator;
    }

    Outcome Run(const std::vector<std::string>& args) {
        std::ostringstream out;
        std::ostringstream err;
        ReadEnvironment env{out,
                            err,
                            *map_,
                            platform::RealClock(),
                            [](platform::PortMap& map) -> std::unique_ptr<platform::SerialBackend> {
                                return std::make_unique<platform::PosixSerialBackend>(map);
                            },
                            SettingsPath().string()};
        const int status = RunTalvinoRead(args, env);
        return {status, out.str(), err.str()};
    }

    std::optional<test_support::SimPortMap> ports_;
    fs::path root_;
    std::unique_ptr<platform::PortMap> map_;
};

const std::vector<std::string> kFrenchReading = {
    "Appareil connecté",
    " ",
    "Vérification du type d'appareil.",
    "Vous avez bien connecté un appareil Talvino.",
    " ",
    "Le numéro de série est : 0000000042.",
    " La version du circuit est 7 ",
    " La version du logiciel est 2.10",
    "Transmission réussie",
    " ",
    " Le transfert des données est reussi.",
    " ",
    "---------------------------",
    "Vous pouvez effectuer une nouvelle lecture sur un autre appareil Talvino",
};
const std::vector<std::string> kEnglishReading = {
    "Device Connected",
    " ",
    "Checking of the unit.",
    "You have connected the Talvino unit.",
    " ",
    "Serial number is : 0000000042.",
    " ",
    " ",
    "Transfert successfully",
    " ",
    " ",
    " ",
    "---------------------------",
    " ",
};

// The port is found by the search (the maker's adapter beside an ordinary port); the language
// comes from --lang, else from the settings file, which is only read.
TEST_F(ReadTest, ReadingPrintsTheWindowsLinesInTheChosenLanguage) {
    const auto other = StartSim({});
    const auto device =
        StartSim({"--maker-adapter", "--serial", "42", "--circuit", "7", "--software", "2.10"});
    const std::string english = "Langue=1;\n\r";
    struct Case {
        std::vector<std::string> args;
        std::optional<std::string> settings;  // none: no settings file
        const std::vector<std::string>* lines;
    };
    const Case cases[] = {
        {{}, std::nullopt, &kFrenchReading},
        {{"--lang", "en"}, std::nullopt, &kEnglishReading},
        {{}, english, &kEnglishReading},
        {{"--lang", "fr"}, english, &kFrenchReading},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        fs::remove(SettingsPath());
        if (c.settings) {
            std::ofstream(SettingsPath(), std::ios::binary) << *c.settings;
        }
        const Outcome run = Run(c.args);
        EXPECT_EQ(run.Status, kExitRead);
        EXPECT_EQ(Lines(run.Out), *c.lines);
        EXPECT_EQ(run.Err, "");
        if (c.settings) {
            EXPECT_EQ(ReadBytes(SettingsPath()), *c.settings);
        } else {
            EXPECT_FALSE(fs::exists(SettingsPath()));
        }
    }
}

// A device given by its path; values beyond the signed range must come out unsigned.
TEST_F(ReadTest, JsonReadingGivesOneObjectWithTheDevicesValues) {
    const auto device =
        StartSim({"--serial", "4000000000", "--circuit", "255", "--software", "0.255"});
    const Outcome run = Run({"--json", "--port", device->DeviceNode()});
    EXPECT_EQ(run.Status, kExitRead);
    EXPECT_EQ(run.Err, "");
    const QJsonObject json = ParseObject(run.Out);
    EXPECT_EQ(json["port"].toString().toStdString(), "COM" + std::to_string(device->ComNumber()));
    EXPECT_EQ(json["node"].toString().toStdString(), device->DeviceNode());
    EXPECT_EQ(json["typeCode"].toString(), "W38");
    EXPECT_EQ(json["serialNumber"].toDouble(), 4000000000.0);
    EXPECT_EQ(json["circuitVersion"].toInt(), 255);
    EXPECT_EQ(json["softwareMajor"].toInt(), 0);
    EXPECT_EQ(json["softwareMinor"].toInt(), 255);
    EXPECT_EQ(json["outcome"].toString(), "read");
    EXPECT_FALSE(json.contains("reason"));
}

// Every way a reading can fail ends with its own status, one line on stderr and, with --json,
// the outcome and the reason in the object.
TEST_F(ReadTest, EachFailureEndsWithItsExitStatus) {
    struct Case {
        const char* name;
        std::optional<std::vector<std::string>> sim;  // none: no device at all
        std::vector<std::string> args;
        int status;
        const char* outcome;
        const char* errorPart;
    };
    const Case cases[] = {
        {"no port", std::nullopt, {}, kExitNoPort, "no-port", "no serial port"},
        {"named port missing",
         std::vector<std::string>{},
         {"--port", "COM99"},
         kExitNoPort,
         "no-port",
         "COM99"},
        {"path missing",
         std::nullopt,
         {"--port", "/dev/no-such-tty"},
         kExitNoPort,
         "no-port",
         "not there"},
        {"silent device",
         std::vector<std::string>{"--silent"},
         {"--timeout", "1"},
         kExitNoAnswer,
         "no-answer",
         "no answer"},
        {"wrong type",
         std::vector<std::string>{"--type", "X38"},
         {},
         kExitWrongDevice,
         "wrong-device",
         "L'appareil n'est pas un appareil Talvino!"},
        {"stops mid-reading",
         std::vector<std::string>{"--stop-after", "12"},
         {"--lang", "en"},
         kExitTransferError,
         "transfer-error",
         "A error transfer  occured. Try aain"},
        {"line hung up mid-reading",
         std::vector<std::string>{"--hangup-after", "12"},
         {},
         kExitTransferError,
         "transfer-error",
         "Une erreur de transmission est survenue."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<sim::SimProcess> device;
        if (c.sim) {
            device = StartSim(*c.sim);
        }
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        const auto start = std::chrono::steady_clock::now();
        const Outcome run = Run(args);
        // Generous real-time bound: every failure is bounded by the time-out and the link's own.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_EQ(run.Status, c.status);
        const QJsonObject json = ParseObject(run.Out);
        EXPECT_EQ(json["outcome"].toString().toStdString(), c.outcome);
        EXPECT_EQ(json["exitStatus"].toInt(), c.status);
        EXPECT_NE(json["reason"].toString().toStdString().find(c.errorPart), std::string::npos)
            << run.Out;
        const std::vector<std::string> errLines = Lines(run.Err);
        ASSERT_EQ(errLines.size(), 1u) << run.Err;
        EXPECT_EQ(errLines[0].rfind("talvino-read: ", 0), 0u);
        EXPECT_NE(errLines[0].find(c.errorPart), std::string::npos) << run.Err;
        if (c.status == kExitWrongDevice) {
            EXPECT_EQ(json["typeCode"].toString(), "X38");
        }
    }
}

// A port held by another program is refused, whether named by number or by path.
TEST_F(ReadTest, BusyPortIsReportedAsSuch) {
    const auto device = StartSim({});
    platform::PosixSerialBackend backend(*map_);
    const platform::OpenResult held =
        backend.Open("\\\\.\\COM" + std::to_string(device->ComNumber()));
    ASSERT_TRUE(held.port);
    for (const std::string& port : {std::to_string(device->ComNumber()), device->DeviceNode()}) {
        SCOPED_TRACE(port);
        const Outcome run = Run({"--port", port});
        EXPECT_EQ(run.Status, kExitPortUnavailable);
        EXPECT_EQ(run.Out, "");
        EXPECT_NE(run.Err.find("is busy: another program holds it open"), std::string::npos)
            << run.Err;
    }
}

TEST_F(ReadTest, BadCommandLinesGiveUsageStatus) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"COM3"},
        {"--port"},
        {"--port", "0"},
        {"--port", "-3"},
        {"--port", "COM"},
        {"--port", "7x"},
        {"--port", "99999999999"},
        {"--port", "dev/ttyUSB0"},
        {"--lang", "de"},
        {"--lang"},
        {"--timeout", "0"},
        {"--timeout", "-1"},
        {"--timeout", "nan"},
        {"--timeout", "1e3"},
        {"--timeout", "86401"},
        {"--json=yes"},
        {""},
        {"--lang", "en", "extra"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const Outcome run = Run(args);
        EXPECT_EQ(run.Status, kExitUsage);
        EXPECT_EQ(run.Out, "");
        const std::vector<std::string> errLines = Lines(run.Err);
        ASSERT_EQ(errLines.size(), 1u) << run.Err;
        EXPECT_EQ(errLines[0].rfind("talvino-read: ", 0), 0u);
    }
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.Status, kExitRead);
    for (const char* documented : {"--port", "--list-ports", "--trace", "7  the port cannot"}) {
        EXPECT_NE(help.Out.find(documented), std::string::npos) << documented;
    }
    const Outcome version = Run({"--version"});
    EXPECT_EQ(version.Status, kExitRead);
    EXPECT_EQ(version.Out.rfind("talvino-read ", 0), 0u);
}

// Ports from a made-up sysfs tree (a UART and the maker's adapter) and the user port map.
TEST_F(ReadTest, ListPortsShowsNumberNodeDriverAndMaker) {
    const fs::path sys = root_ / "sys";
    const fs::path dev = root_ / "dev";
    test_support::AddFakeTty(sys, dev, {"ttyS0", "serial8250", "4", ""});
    test_support::AddFakeTty(sys, dev, {"ttyUSB0", "cp210x", "4", ""});
    std::ofstream(dev / "pts-sim") << "";  // an entry whose node is gone would be dropped
    ASSERT_TRUE(platform::RegisterUserPort(MapDir(), {5, (dev / "pts-sim").string(), "", 0}));
    map_ = std::make_unique<platform::PosixPortMap>(sys, MapDir(), dev);

    struct Row {
        std::string com, node, driver, maker;
    };
    const std::vector<Row> expected = {
        {"COM1", (dev / "ttyS0").string(), "Serial", "no"},
        {"COM5", (dev / "pts-sim").string(), "Serial", "no"},
        {"COM101", (dev / "ttyUSB0").string(), "Silabser", "yes"},
    };

    const Outcome table = Run({"--list-ports"});
    EXPECT_EQ(table.Status, kExitRead);
    const std::vector<std::string> lines = Lines(table.Out);
    ASSERT_EQ(lines.size(), expected.size() + 1) << table.Out;
    for (size_t i = 0; i < expected.size(); ++i) {
        std::istringstream fields(lines[i + 1]);
        Row row;
        fields >> row.com >> row.node >> row.driver >> row.maker;
        EXPECT_EQ(row.com, expected[i].com);
        EXPECT_EQ(row.node, expected[i].node);
        EXPECT_EQ(row.driver, expected[i].driver);
        EXPECT_EQ(row.maker, expected[i].maker);
    }

    const Outcome json = Run({"--list-ports", "--json"});
    EXPECT_EQ(json.Status, kExitRead);
    const QJsonArray ports = ParseObject(json.Out)["ports"].toArray();
    ASSERT_EQ(ports.size(), static_cast<qsizetype>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        const QJsonObject port = ports[static_cast<qsizetype>(i)].toObject();
        EXPECT_EQ("COM" + std::to_string(port["com"].toInt()), expected[i].com);
        EXPECT_EQ(port["node"].toString().toStdString(), expected[i].node);
        EXPECT_EQ(port["driver"].toString().toStdString(), expected[i].driver);
        EXPECT_EQ(port["makerAdapter"].toBool(), expected[i].maker == "yes");
    }
}

// The serial number 12345678 read byte by byte: commands and acknowledgements from the PC,
// hexadecimal characters from the device, in this order.
TEST_F(ReadTest, TraceShowsEveryByteWithItsDirection) {
    const auto device = StartSim({"--serial", "12345678"});
    const Outcome run = Run({"--trace", "--json"});
    EXPECT_EQ(run.Status, kExitRead);
    std::vector<std::string> bytes;  // "PC>89", "<DEV34" ...
    for (const std::string& line : Lines(run.Err)) {
        std::istringstream fields(line);
        std::string stamp, direction, byte;
        fields >> stamp >> direction;
        if (direction == "PC>" || direction == "<DEV") {
            while (fields >> byte) {
                bytes.push_back(direction + byte);
            }
        }
    }
    std::vector<std::string> expected;
    for (const char* low : {"38", "39", "41", "42"}) {  // addresses 0x03F8 to 0x03FB
        for (const std::string b : {"89", "30", "33", "46"}) {
            expected.push_back("PC>" + b);
        }
        expected.push_back(std::string("PC>") + low);
    }
    const char* answers[4][2] = {{"34", "45"}, {"36", "31"}, {"42", "43"}, {"30", "30"}};
    // Each read: command and address (5 bytes), then two characters each acknowledged.
    std::vector<std::string> exchange;
    for (size_t i = 0; i < 4; ++i) {
        exchange.insert(exchange.end(), expected.begin() + static_cast<long>(i * 5),
                        expected.begin() + static_cast<long>(i * 5 + 5));
        for (const char* character : answers[i]) {
            exchange.push_back(std::string("<DEV") + character);
            exchange.push_back("PC>84");
        }
    }
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), exchange.begin(), exchange.end()),
              bytes.end())
        << run.Err;
    EXPECT_EQ(ParseObject(run.Out)["serialNumber"].toInt(), 12345678);
}

}  // namespace
