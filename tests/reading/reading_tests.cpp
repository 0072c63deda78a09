#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "forms/PortSearch.h"
#include "forms/ReadingSequence.h"
#include "platform/clock/Clock.h"
#include "platform/registry/MemoryRegistry.h"
#include "sim/SimPort.h"

namespace {

constexpr int kCom = 2;  // the port a fresh link opens

const char* ButtonName(ReadingButton which) {
    switch (which) {
        case ReadingButton::ButtonConfigPort:
            return "ButtonConfigPort";
        case ReadingButton::ButtonChoixLangue:
            return "ButtonChoixLangue";
        case ReadingButton::ButtonLectureInfo:
            return "ButtonLectureInfo";
    }
    return "?";
}

// Logs every call in order, one entry each; holds back the posted message as a message queue
// would, until the test delivers it.
class RecordingView : public ReadingView {
  public:
    void AppendLine(const std::string& line) override { Log.push_back("line " + line); }
    void SetButtonEnabled(ReadingButton which, bool enabled) override {
        Log.push_back(std::string("button ") + ButtonName(which) + (enabled ? " 1" : " 0"));
    }
    void SetTimerInterval(uint32_t ms) override { Log.push_back("interval " + std::to_string(ms)); }
    void SetTimerEnabled(bool enabled) override { Log.push_back(enabled ? "timer 1" : "timer 0"); }
    void PostReadFailed(uint32_t reason) override {
        Log.push_back("post failed " + std::to_string(reason));
        Posted.push_back(WM_READ_FAILED);
        PostedReason = reason;
    }
    void PostReadDone() override {
        Log.push_back("post done");
        Posted.push_back(WM_READ_DONE);
    }
    void Beep(uint32_t type) override { Log.push_back("beep " + std::to_string(type)); }
    void ShowError(const std::string& text) override { Log.push_back("error " + text); }
    LanguageIndex Language() const override { return Lang; }

    // The memo's lines, in order.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const std::string& entry : Log) {
            if (entry.starts_with("line ")) {
                lines.push_back(entry.substr(5));
            }
        }
        return lines;
    }
    // The entries after the last marker given.
    std::vector<std::string> After(const std::string& marker) const {
        const auto last = std::find(Log.rbegin(), Log.rend(), marker);
        return {last.base(), Log.end()};
    }

    LanguageIndex Lang = kFrench;
    std::vector<std::string> Log;
    std::vector<uint32_t> Posted;
    uint32_t PostedReason = 0;
};

// The sequence on a simulated Talvino device on COM2, virtual time and an in-memory registry.
class ReadingTest : public ::testing::Test {
  protected:
    sim::TalvinoDevice& Device() { return line.Device; }

    void Click() {
        view.Log.push_back("-- click");
        sequence.Start();
    }
    // One tick, then the message it posted, delivered from the loop after the tick returned.
    void Tick() {
        view.Log.push_back("-- tick");
        sequence.Tick();
        if (view.Posted.empty()) {
            return;
        }
        StepAtPost = sequence.ReadStep;
        const uint32_t message = view.Posted.front();
        view.Posted.clear();
        view.Log.push_back("-- message");
        if (message == WM_READ_FAILED) {
            sequence.ReadFailed(view.PostedReason);
        } else {
            sequence.ReadDone();
        }
    }
    // A click and ticks until the reading has ended; false when it never ends.
    bool Read() {
        Click();
        for (int tick = 0; tick < kMaxTicks; ++tick) {
            Tick();
            if (StepAtPost) {
                return true;
            }
        }
        return false;
    }
    // Connection requests the PC has sent so far.
    size_t ConnectRequests() const {
        size_t count = 0;
        for (const sim::TranscriptEvent& event : line.Transcript) {
            if (event.Dir == sim::Direction::PcToDevice) {
                count += static_cast<size_t>(std::ranges::count(event.Bytes, CW38::CmdConnect));
            }
        }
        return count;
    }

    static constexpr int kMaxTicks = 20;  // a reading takes six ticks after connecting

    platform::VirtualClock clock;
    sim::SimPort port{clock};
    sim::SimLine& line = port.AddDevice(kCom);
    platform::MemoryRegistry registry;
    PortSearch ports{registry};
    CW38 link{{port, clock, {}}};
    RecordingView view;
    ReadingSequence sequence{link, ports, view};
    std::optional<int32_t> StepAtPost;  // ReadStep when the reading's end was posted
};

const std::vector<std::string> kClickCalls = {"-- click",
                                              "button ButtonConfigPort 0",
                                              "button ButtonChoixLangue 0",
                                              "button ButtonLectureInfo 0",
                                              "interval 300",
                                              "timer 1"};
const std::vector<std::string> kBackToWatch = {
    "button ButtonConfigPort 1", "button ButtonChoixLangue 1", "button ButtonLectureInfo 1",
    "interval 2000", "timer 1"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The whole log of a reading that goes through, around its fourteen lines.
std::vector<std::string> CompleteReadingLog(const std::vector<std::string>& lines) {
    auto l = [&](size_t i) { return "line " + lines.at(i); };
    return kClickCalls +
           std::vector<std::string>{"-- tick",    l(0),      l(1),  "-- tick", l(2),  l(3),
                                    l(4),         "-- tick", l(5),  "-- tick", l(6),  "-- tick",
                                    l(7),         "-- tick", l(8),  "timer 0", l(9),  "post done",
                                    "-- message", "beep 0",  l(10), l(11),     l(12), l(13)} +
           kBackToWatch;
}

struct CompleteCase {
    LanguageIndex language;
    std::vector<std::string> lines;
};

TEST_F(ReadingTest, CompleteReadingWritesFourteenLinesInOrder) {
    const std::vector<CompleteCase> cases = {
        {kFrench,
         {"Appareil connecté", " ", "Vérification du type d'appareil.",
          "Vous avez bien connecté un appareil Talvino.", " ",
          "Le numéro de série est : 0012345678.", " La version du circuit est 5 ",
          " La version du logiciel est 2.10", "Transmission réussie", " ",
          " Le transfert des données est reussi.", " ", "---------------------------",
          "Vous pouvez effectuer une nouvelle lecture sur un autre appareil Talvino"}},
        {kEnglish,
         {"Device Connected", " ", "Checking of the unit.", "You have connected the Talvino unit.",
          " ", "Serial number is : 0012345678.", " ", " ", "Transfert successfully", " ", " ", " ",
          "---------------------------", " "}},
    };
    Device().Config().SetSerialNumber(12345678);
    Device().Config().CircuitVersion = 5;
    Device().Config().SetSoftwareVersion(2, 10);
    for (const CompleteCase& c : cases) {
        SCOPED_TRACE(c.language);
        view.Log.clear();
        StepAtPost.reset();
        view.Lang = c.language;

        ASSERT_TRUE(Read());

        EXPECT_EQ(view.Log, CompleteReadingLog(c.lines));
        EXPECT_EQ(sequence.ReadStep, 0);
        EXPECT_FALSE(Device().Connected()) << "the connection is ended";
        const ReadingResult& result = sequence.Result();
        EXPECT_EQ(result.Outcome, ReadingOutcome::Done);
        EXPECT_EQ(result.LinkFailure, 0);
        EXPECT_EQ(result.SerialNumber, 12345678u);
        EXPECT_EQ(result.CircuitVersion, 5u);
        EXPECT_EQ(result.SoftwareMajor, 2u);
        EXPECT_EQ(result.SoftwareMinor, 10u);
    }
}

TEST_F(ReadingTest, SerialNumberIsPrintedWithAtLeastTenDigits) {
    const std::vector<std::pair<uint32_t, std::string>> cases = {
        {0, "0000000000"}, {1234, "0000001234"}, {4294967295u, "4294967295"}};
    for (const auto& [serial, digits] : cases) {
        view.Log.clear();
        StepAtPost.reset();
        Device().Config().SetSerialNumber(serial);
        ASSERT_TRUE(Read());
        EXPECT_EQ(view.Lines().at(5), "Le numéro de série est : " + digits + ".");
        EXPECT_EQ(sequence.Result().SerialNumber, serial);
    }
}

TEST_F(ReadingTest, WrongDeviceEndsWithTheWrongDeviceBox) {
    for (const char* type : {"W37", "w38"}) {
        SCOPED_TRACE(type);
        view.Log.clear();
        StepAtPost.reset();
        Device().Config().TypeCode = type;

        ASSERT_TRUE(Read());

        EXPECT_EQ(StepAtPost, 2);
        const std::vector<std::string> expected =
            kClickCalls +
            std::vector<std::string>{"-- tick",
                                     "line Appareil connecté",
                                     "line  ",
                                     "-- tick",
                                     "line Vérification du type d'appareil.",
                                     "timer 0",
                                     "post failed 0",
                                     "-- message",
                                     "line  ",
                                     "line Mauvais type d'appareil",
                                     "beep 16",
                                     "error Le type d'appareil ne correspond pas à un appareil "
                                     "Talvino.\n\n\rL'appareil n'est pas un appareil Talvino!"} +
            kBackToWatch;
        EXPECT_EQ(view.Log, expected);
        EXPECT_EQ(sequence.ReadStep, 0);
        EXPECT_FALSE(Device().Connected());
        EXPECT_EQ(sequence.Result().Outcome, ReadingOutcome::Failed);
        EXPECT_EQ(sequence.Result().FailureReason, kReasonWrongDevice);
        EXPECT_EQ(sequence.Result().LinkFailure, ErrWrongDevice);
    }
}

struct StopCase {
    const char* step;
    size_t bytesBeforeSilence;  // what the device still sends: mid-answer of the step
    int32_t failingStep;
    std::vector<std::string> lines;  // the memo before the failure's own lines
    int valuesRead;                  // serial number, circuit version, software version
};

// A device that stops answering is a transfer error, whatever step it stops in: no value line
// for that step and no success.
TEST_F(ReadingTest, DeviceThatStopsAnsweringEndsAsTransferError) {
    // Bytes the device sends: 1 to accept the connection, 6 for the type code, 8 for the
    // serial number, 2 for the circuit version, 4 for the software version.
    const std::vector<std::string> connected = {"Appareil connecté", " ",
                                                "Vérification du type d'appareil."};
    const std::vector<std::string> accepted =
        connected + std::vector<std::string>{"Vous avez bien connecté un appareil Talvino.", " "};
    const std::vector<std::string> serial =
        accepted + std::vector<std::string>{"Le numéro de série est : 0012345678."};
    const std::vector<std::string> circuit =
        serial + std::vector<std::string>{" La version du circuit est 3 "};
    const std::vector<StopCase> cases = {
        {"type check", 1 + 2, 2, connected, 0},
        {"serial number", 1 + 6 + 4, 3, accepted, 0},
        {"circuit version", 1 + 6 + 8 + 1, 4, serial, 1},
        {"software version", 1 + 6 + 8 + 2 + 2, 5, circuit, 2},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.step);
        platform::VirtualClock stepClock;
        sim::SimPort stepPort{stepClock};
        sim::TalvinoFaults faults;
        faults.StopAnsweringAfter = c.bytesBeforeSilence;
        stepPort.AddDevice(kCom, sim::TalvinoDevice({}, faults));
        CW38 stepLink{{stepPort, stepClock, {}}};
        RecordingView stepView;
        ReadingSequence stepSequence{stepLink, ports, stepView};

        stepSequence.Start();
        for (int tick = 0; tick < kMaxTicks && stepView.Posted.empty(); ++tick) {
            stepView.Log.push_back("-- tick");
            stepSequence.Tick();
        }
        ASSERT_EQ(stepView.Posted, (std::vector<uint32_t>{WM_READ_FAILED}));
        EXPECT_EQ(stepSequence.ReadStep, c.failingStep);
        stepSequence.ReadFailed(stepView.PostedReason);

        EXPECT_EQ(stepView.Lines(),
                  (c.lines + std::vector<std::string>{" ", "Erreur de transmission"}));
        const std::vector<std::string> stepLines =
            c.failingStep == 2 ? std::vector<std::string>{"line Vérification du type d'appareil."}
                               : std::vector<std::string>{};
        const std::vector<std::string> expected =
            stepLines +
            std::vector<std::string>{
                "timer 0",
                "post failed 1",
                "line  ",
                "line Erreur de transmission",
                "beep 16",
                "error Une erreur de transmission est survenue.\n\n\r Vous pouvez "
                "essayer de recommencer un autre transfert."} +
            kBackToWatch;
        EXPECT_EQ(stepView.After("-- tick"), expected);
        EXPECT_EQ(stepSequence.ReadStep, 0);
        const ReadingResult& result = stepSequence.Result();
        EXPECT_EQ(result.Outcome, ReadingOutcome::Failed);
        EXPECT_EQ(result.FailureReason, kReasonTransferError);
        EXPECT_NE(result.LinkFailure, 0);
        EXPECT_EQ(result.SerialNumber.has_value(), c.valuesRead >= 1);
        EXPECT_EQ(result.CircuitVersion.has_value(), c.valuesRead >= 2);
        EXPECT_FALSE(result.SoftwareMajor.has_value());
        EXPECT_FALSE(result.SoftwareMinor.has_value());
    }
}

TEST_F(ReadingTest, SilentDeviceIsRetriedOnEveryTickWithoutALine) {
    Device().Faults().Silent = true;
    Click();
    size_t requests = 0;
    for (int tick = 0; tick < 3; ++tick) {
        Tick();
        EXPECT_GT(ConnectRequests(), requests) << "tick " << tick;
        requests = ConnectRequests();
        EXPECT_EQ(sequence.ReadStep, 1);
    }
    EXPECT_EQ(view.Log, (kClickCalls + std::vector<std::string>{"-- tick", "-- tick", "-- tick"}))
        << "no line, the buttons stay disabled, the timer runs on";

    Device().Faults().Silent = false;
    Tick();
    EXPECT_EQ(view.After("-- tick"),
              (std::vector<std::string>{"line Appareil connecté", "line  "}));
    EXPECT_EQ(sequence.ReadStep, 2);
}

struct WatchCase {
    std::vector<std::string> ports;  // COMn listed in the registry at this tick
    std::vector<std::string> calls;  // what the tick does
    int32_t comNumber;               // the link's port after the tick; kUntouched: not set
};

constexpr int32_t kUntouched = 99;  // put in the link before each tick to see a SetPortNumber

TEST_F(ReadingTest, PortWatchFollowsTheChosenPort) {
    const std::vector<std::string> on = {"button ButtonLectureInfo 1"};
    const std::vector<WatchCase> cases = {
        {{"COM5"}, on, 5},
        {{"COM5"}, {}, kUntouched},
        {{"COM5", "COM7"}, {}, kUntouched},  // the port held before is kept
        {{"COM7"}, on, 7},
        {{}, {"button ButtonLectureInfo 0"}, kUntouched},
        {{}, {}, kUntouched},
        {{"COM3"}, on, 3},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<platform::SnapshotValue> values;
        for (const std::string& com : cases[i].ports) {
            values.push_back({"\\Device\\Serial" + com, platform::kRegSz, com + '\0'});
        }
        registry.AddKey(kSerialPortsKey).values = values;
        link.ComNumber = kUntouched;
        view.Log.clear();

        sequence.Tick();

        EXPECT_EQ(view.Log, cases[i].calls);
        EXPECT_EQ(link.ComNumber, cases[i].comNumber);
        EXPECT_EQ(sequence.ReadStep, 0);
    }
}

struct FailedCase {
    uint32_t reason;
    LanguageIndex language;
    const char* title;  // nullptr: no line
    const char* box;    // nullptr: no box
};

TEST_F(ReadingTest, ReadFailedWritesTheReasonsTitleAndBox) {
    const std::vector<FailedCase> cases = {
        {0, kEnglish, "Wrong unit type",
         "The device is not a Talvino unit.\n\n\rThe device is not a Talvino unit."},
        {1, kEnglish, "Transfer error",
         "A error transfer  occured.\n\n\r Try aain another transfert"},
        {2, kFrench, "Programmation abandonnée! Mauvais numéro de série.", nullptr},
        {2, kEnglish, "Programming failed! wrong serial number.", nullptr},
        {3, kFrench, "Erreur d'écriture en E²PROM",
         "Une erreur d'écriture en EEPROM est survenue.\n\n\r Vous pouvez essayer de recommencer "
         "un autre transfert.\n\r"},
        {3, kEnglish, "EEPROM write error",
         "A write eerpom error occured.\n\n\r Try aain another transfert"},
        {7, kFrench, nullptr, "Une erreur s'est produite"},
        {7, kEnglish, nullptr, "An error occured "},
    };
    for (const FailedCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "reason " << c.reason << " language " << c.language);
        view.Log.clear();
        view.Lang = c.language;
        sequence.ReadStep = 3;

        sequence.ReadFailed(c.reason);

        std::vector<std::string> expected = {"line  "};
        if (c.title) {
            expected.push_back(std::string("line ") + c.title);
        }
        expected.push_back("beep 16");
        if (c.box) {
            expected.push_back(std::string("error ") + c.box);
        }
        EXPECT_EQ(view.Log, expected + kBackToWatch);
        EXPECT_EQ(sequence.ReadStep, 0);
        EXPECT_EQ(sequence.Result().FailureReason, c.reason);
    }
}

TEST_F(ReadingTest, AnyStepBeyondTheLastFinishes) {
    for (int32_t step : {6, 7, -1, INT32_MIN}) {
        SCOPED_TRACE(step);
        view.Log.clear();
        view.Posted.clear();
        sequence.ReadStep = step;

        sequence.Tick();

        EXPECT_EQ(view.Log, (std::vector<std::string>{"line Transmission réussie", "timer 0",
                                                      "line  ", "post done"}));
        EXPECT_EQ(sequence.ReadStep, step) << "kept until the message is handled";
    }
}

}  // namespace
