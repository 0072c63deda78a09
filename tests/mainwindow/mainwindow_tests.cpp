#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "forms/DlgLectureInformation.h"
#include "platform/clock/Clock.h"
#include "platform/exceptions/Exception.h"
#include "platform/registry/MemoryRegistry.h"
#include "platform/toolkit/ToolkitTesting.h"
#include "sim/SimPort.h"
#include "tests/support/QtTestEnvironment.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr int kMakerCom = 3;        // the maker's adapter port the tests put the device on
constexpr int kDefaultLinkCom = 2;  // the port a fresh link opens
constexpr int kMaxTicks = 20;       // a reading that takes longer never ends

const std::vector<std::string> kFrenchInstructions = {
    "Lecture des Informations de l'appareil Talvino",
    " ",
    "Connecter votre appareil Talvino au PC",
    "Allumer l'appareil Talvino.",
    "Choisir ensuite le port serie à utiliser.",
    "Et pour lire les informations, appuyer sur le bouton < Lecture des informations >.",
};
const std::vector<std::string> kEnglishInstructions(6, " ");

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The window on a simulated device with virtual time, an in-memory registry, ticks by hand and
// message boxes and beeps recorded.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override { seams::EnsureApplication(); }
    void TearDown() override {
        window.reset();
        fs::remove_all(dir);
    }

    void AddPort(const std::string& valueName, int com) {
        registry.AddString(kSerialPortsKey, valueName, "COM" + std::to_string(com));
    }
    void AddMakerPortWithDevice(sim::TalvinoConfig config = {}, sim::TalvinoFaults faults = {}) {
        AddPort("\\Device\\Silabser0", kMakerCom);
        port->AddDevice(kMakerCom, sim::TalvinoDevice(std::move(config), faults));
    }
    TDlgLectureInformation& Make() {
        window.reset();
        window.reset(new TDlgLectureInformation(nullptr, LinkPlatform{*port, clock, {}}, registry));
        return *window;
    }

    // One tick, then whatever it posted, delivered from the loop after it returned.
    void Tick() {
        window->TimerGestConnection.Tick();
        QCoreApplication::sendPostedEvents();
    }
    // Clicks the read button and ticks until the reading is over; false if it never ends.
    bool Read() {
        window->ButtonLectureInfo.Click();
        for (int i = 0; i < kMaxTicks; ++i) {
            Tick();
            if (window->Reading->ReadStep == 0) {
                return true;
            }
        }
        return false;
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (int i = 0; i < window->MemoInformation.Lines.Count(); ++i) {
            lines.push_back(window->MemoInformation.Lines[i]);
        }
        return lines;
    }
    // The lines after the first count ones.
    std::vector<std::string> LinesAfter(size_t count) const {
        const std::vector<std::string> all = Lines();
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(count, all.size())), all.end()};
    }
    void ExpectIdle() const {
        EXPECT_EQ(window->Reading->ReadStep, 0);
        EXPECT_TRUE(window->ButtonLectureInfo.Enabled());
        EXPECT_TRUE(window->ButtonConfigPort.Enabled());
        EXPECT_TRUE(window->ButtonChoixLangue.Enabled());
        EXPECT_TRUE(window->TimerGestConnection.Enabled());
        EXPECT_EQ(window->TimerGestConnection.Interval(), 2000u);
    }
    size_t ConnectRequests() {
        size_t count = 0;
        for (const sim::TranscriptEvent& event : port->Line(kMakerCom).Transcript) {
            if (event.Dir == sim::Direction::PcToDevice) {
                count += static_cast<size_t>(std::ranges::count(event.Bytes, CW38::CmdConnect));
            }
        }
        return count;
    }

    seams::ManualTimers manualTimers;
    seams::MessageBoxRecorder boxes;
    seams::BeepRecorder beeps;
    VirtualClock clock;
    std::unique_ptr<sim::SimPort> port = std::make_unique<sim::SimPort>(clock);
    MemoryRegistry registry;
    fs::path dir = fs::temp_directory_path() / ("mainwindow-" + std::to_string(::getpid()));
    TFormPtr<TDlgLectureInformation> window;
};

TEST_F(WindowTest, ConstructionLaysOutTheButtonsAndWritesTheFrenchInstructions) {
    AddPort("\\Device\\Serial0", 1);
    TDlgLectureInformation& w = Make();
    const struct {
        const TButton* Button;
        int Top;
    } buttons[] = {{&w.ButtonLectureInfo, 8},
                   {&w.ButtonConfigPort, 84},
                   {&w.ButtonChoixLangue, 116},
                   {&w.ButtonQuitter, 192}};
    for (const auto& b : buttons) {
        EXPECT_EQ(b.Button->Left(), 312) << b.Button->Caption();
        EXPECT_EQ(b.Button->Top(), b.Top) << b.Button->Caption();
        EXPECT_EQ(b.Button->Height(), 25) << b.Button->Caption();
    }
    EXPECT_EQ(Lines(), kFrenchInstructions);
    EXPECT_EQ(w.Caption(), "Lecture des Information de l'appareil Talvino");
    EXPECT_EQ(w.Reading->ReadStep, 0);
    EXPECT_TRUE(w.TimerGestConnection.Enabled());
    EXPECT_EQ(w.TimerGestConnection.Interval(), 2000u);
    EXPECT_TRUE(w.ButtonQuitter.Enabled());
    EXPECT_TRUE(w.ButtonConfigPort.Enabled());
    EXPECT_TRUE(w.ButtonChoixLangue.Enabled());
    EXPECT_EQ(w.ConfigFileName, "");
}

TEST_F(WindowTest, OnlyAMakerAdapterPortEnablesTheReadButtonAtOnce) {
    const struct {
        const char* ValueName;
        bool Enabled;
        int LinkCom;
    } cases[] = {{"\\Device\\Silabser0", true, 7}, {"\\Device\\Serial0", false, kDefaultLinkCom}};
    for (const auto& c : cases) {
        registry.RemoveKey(kSerialPortsKey);
        AddPort(c.ValueName, 7);
        TDlgLectureInformation& w = Make();
        EXPECT_EQ(w.ButtonLectureInfo.Enabled(), c.Enabled) << c.ValueName;
        EXPECT_EQ(w.DeviceLink.ComNumber, c.LinkCom) << c.ValueName;
    }
}

TEST_F(WindowTest, ACompleteReadingWritesItsFourteenLinesInEitherLanguage) {
    sim::TalvinoConfig config;
    config.SetSerialNumber(1234);
    config.CircuitVersion = 7;
    config.SetSoftwareVersion(2, 10);
    AddMakerPortWithDevice(config);
    const struct {
        LanguageIndex Language;
        std::vector<std::string> Instructions;
        std::vector<std::string> Reading;
    } cases[] = {
        {kFrench,
         kFrenchInstructions,
         {"Appareil connecté", " ", "Vérification du type d'appareil.",
          "Vous avez bien connecté un appareil Talvino.", " ",
          "Le numéro de série est : 0000001234.", " La version du circuit est 7 ",
          " La version du logiciel est 2.10", "Transmission réussie", " ",
          " Le transfert des données est reussi.", " ", "---------------------------",
          "Vous pouvez effectuer une nouvelle lecture sur un autre appareil Talvino"}},
        {kEnglish,
         kEnglishInstructions,
         {"Device Connected", " ", "Checking of the unit.", "You have connected the Talvino unit.",
          " ", "Serial number is : 0000001234.", " ", " ", "Transfert successfully", " ", " ", " ",
          "---------------------------", " "}},
    };
    for (const auto& c : cases) {
        fs::create_directories(dir);
        TDlgLectureInformation& w = Make();
        w.SetConfigFileName((dir / "TalvinoV1.CFG").string());
        w.SetLanguage(c.Language);
        const size_t before = static_cast<size_t>(w.MemoInformation.Lines.Count());
        ASSERT_TRUE(Read());
        std::vector<std::string> expected = c.Instructions;
        expected.insert(expected.end(), c.Reading.begin(), c.Reading.end());
        EXPECT_EQ(LinesAfter(before - 6), expected) << c.Language;
        EXPECT_EQ(beeps.Beeps, std::vector<unsigned>{MB_OK});
        EXPECT_TRUE(boxes.Boxes.empty());
        ExpectIdle();
        beeps.Beeps.clear();
    }
}

struct FailureCase {
    const char* Name;
    sim::TalvinoConfig Config;
    sim::TalvinoFaults Faults;
    std::vector<std::string> Lines;
    std::string Box;
};

FailureCase WrongDevice() {
    FailureCase c{"wrong device", {}, {}, {}, {}};
    c.Config.TypeCode = "X12";
    c.Lines = {"Appareil connecté", " ", "Vérification du type d'appareil.", " ",
               "Mauvais type d'appareil"};
    c.Box =
        "Le type d'appareil ne correspond pas à un appareil Talvino.\n\n\rL'appareil n'est "
        "pas un appareil Talvino!";
    return c;
}

// The device answers the connection and its type, then falls silent before the serial number.
FailureCase StopsAnswering() {
    FailureCase c{"stops answering", {}, {}, {}, {}};
    c.Faults.StopAnsweringAfter = 1 + 6;  // the connection reply and the type code
    c.Lines = {"Appareil connecté",
               " ",
               "Vérification du type d'appareil.",
               "Vous avez bien connecté un appareil Talvino.",
               " ",
               " ",
               "Erreur de transmission"};
    c.Box =
        "Une erreur de transmission est survenue.\n\n\r Vous pouvez essayer de recommencer un "
        "autre transfert.";
    return c;
}

TEST_F(WindowTest, AFailedReadingShowsItsTitleAndBoxThenReturnsToThePortWatch) {
    for (const FailureCase& c : {WrongDevice(), StopsAnswering()}) {
        window.reset();
        port = std::make_unique<sim::SimPort>(clock);
        registry.RemoveKey(kSerialPortsKey);
        AddMakerPortWithDevice(c.Config, c.Faults);
        boxes.Boxes.clear();
        beeps.Beeps.clear();
        Make();
        ASSERT_TRUE(Read()) << c.Name;
        EXPECT_EQ(LinesAfter(6), c.Lines) << c.Name;
        ASSERT_EQ(boxes.Boxes.size(), 1u) << c.Name;
        EXPECT_EQ(boxes.Boxes[0].Text, c.Box) << c.Name;
        EXPECT_EQ(boxes.Boxes[0].Caption, "Erreur") << c.Name;
        EXPECT_EQ(beeps.Beeps, std::vector<unsigned>{MB_ICONHAND}) << c.Name;
        // The connection is ended before the box: the device is back to waiting for a request.
        EXPECT_FALSE(port->Line(kMakerCom).Device.Connected()) << c.Name;
        ExpectIdle();
    }
}

TEST_F(WindowTest, ASilentDeviceLeavesTheMemoAloneAndIsAskedAgainOnEveryTick) {
    sim::TalvinoFaults faults;
    faults.Silent = true;
    AddMakerPortWithDevice({}, faults);
    TDlgLectureInformation& w = Make();
    w.ButtonLectureInfo.Click();
    for (size_t tick = 1; tick <= 3; ++tick) {
        Tick();
        EXPECT_EQ(ConnectRequests(), tick);
        EXPECT_EQ(w.Reading->ReadStep, 1);
        EXPECT_EQ(Lines(), kFrenchInstructions);
        EXPECT_FALSE(w.ButtonLectureInfo.Enabled());
        EXPECT_FALSE(w.ButtonConfigPort.Enabled());
        EXPECT_FALSE(w.ButtonChoixLangue.Enabled());
        EXPECT_TRUE(w.ButtonQuitter.Enabled());
        EXPECT_EQ(w.TimerGestConnection.Interval(), 300u);
    }
}

TEST_F(WindowTest, ThePortWatchFollowsTheChosenPort) {
    AddPort("\\Device\\Serial0", 1);
    TDlgLectureInformation& w = Make();
    const struct {
        const char* What;
        std::vector<std::pair<const char*, int>> Ports;
        bool ForceButton;  // the button's state before the tick
        bool Enabled;
        int LinkCom;
    } steps[] = {
        // The first search already chose COM1: no change, the button stays as it was.
        {"same port", {{"\\Device\\Serial0", 1}}, false, false, kDefaultLinkCom},
        {"maker port appears",
         {{"\\Device\\Serial0", 1}, {"\\Device\\Silabser0", 5}},
         false,
         true,
         5},
        {"same again, button off", {{"\\Device\\Silabser0", 5}}, false, false, 5},
        {"same again, button on", {{"\\Device\\Silabser0", 5}}, true, true, 5},
        {"no port left", {}, true, false, 5},
        {"another port", {{"\\Device\\Serial3", 9}}, false, true, 9},
    };
    for (const auto& s : steps) {
        registry.RemoveKey(kSerialPortsKey);
        registry.AddKey(kSerialPortsKey);
        for (const auto& [name, com] : s.Ports) {
            AddPort(name, com);
        }
        w.ButtonLectureInfo.SetEnabled(s.ForceButton);
        Tick();
        EXPECT_EQ(w.ButtonLectureInfo.Enabled(), s.Enabled) << s.What;
        EXPECT_EQ(w.DeviceLink.ComNumber, s.LinkCom) << s.What;
        EXPECT_EQ(w.Reading->ReadStep, 0) << s.What;
    }
}

TEST_F(WindowTest, ALanguageChangeKeepsTheResultsAndWritesTheSettingsFile) {
    AddMakerPortWithDevice();
    fs::create_directories(dir);
    const fs::path file = dir / "TalvinoV1.CFG";
    TDlgLectureInformation& w = Make();
    w.SetConfigFileName(file.string());
    ASSERT_TRUE(Read());
    const std::vector<std::string> afterReading = Lines();
    ASSERT_EQ(afterReading.size(), 20u);

    w.SetLanguage(kEnglish);
    std::vector<std::string> expected = afterReading;
    expected.insert(expected.end(), kEnglishInstructions.begin(), kEnglishInstructions.end());
    EXPECT_EQ(Lines(), expected);
    EXPECT_EQ(ReadFile(file), std::string("Langue=1;\n\r"));
    EXPECT_EQ(w.Caption(), " ");

    const struct {
        const TButton* Button;
        const char* Caption;
    } captions[] = {{&w.ButtonQuitter, "&Exit"},
                    {&w.ButtonLectureInfo, " "},
                    {&w.ButtonConfigPort, "Serial port settings"},
                    {&w.ButtonChoixLangue, "Language choice"}};
    int widest = 0;
    for (const auto& c : captions) {
        EXPECT_EQ(c.Button->Caption(), c.Caption);
        widest = std::max(widest, w.TextWidth(c.Caption) + 20);
    }
    for (const auto& c : captions) {
        EXPECT_EQ(c.Button->Width(), widest) << c.Caption;
    }
    // Offscreen there is no frame: the outer width is the client width.
    EXPECT_EQ(w.Width(), w.ButtonQuitter.Left() + widest + 14);
    EXPECT_EQ(w.ButtonConfigPort.Top(), 84);

    // The current language and values that name no language change nothing and write nothing.
    fs::remove(file);
    for (const LanguageIndex value : {kEnglish, LanguageIndex{2}, LanguageIndex{0xFFFFFFFF}}) {
        w.SetLanguage(value);
        EXPECT_EQ(w.Language, kEnglish) << value;
        EXPECT_EQ(Lines().size(), expected.size()) << value;
        EXPECT_FALSE(fs::exists(file)) << value;
    }

    // Back to French: French captions, their own widest width, six French lines.
    w.SetLanguage(kFrench);
    EXPECT_EQ(ReadFile(file), std::string("Langue=0;\n\r"));
    EXPECT_EQ(LinesAfter(expected.size()), kFrenchInstructions);
    EXPECT_EQ(w.ButtonConfigPort.Caption(), "Configuration du Port");
    EXPECT_EQ(w.ButtonLectureInfo.Width(),
              w.TextWidth("Lecture des informations") + 20);  // the widest French caption
}

TEST_F(WindowTest, ASettingsFileThatCannotBeCreatedFailsAfterTheTextsSwitched) {
    fs::create_directories(dir / "TalvinoV1.CFG");
    TDlgLectureInformation& w = Make();
    w.SetConfigFileName((dir / "TalvinoV1.CFG").string());
    EXPECT_THROW(w.SetLanguage(kEnglish), EFCreateError);
    EXPECT_EQ(w.Language, kEnglish);
    EXPECT_EQ(w.ButtonQuitter.Caption(), "&Exit");
}

TEST_F(WindowTest, ThePortDialogHandsItsChoiceToTheLinkAndAlwaysEnablesReading) {
    AddPort("\\Device\\Serial0", 1);
    AddPort("\\Device\\Serial1", 6);
    TDlgLectureInformation& w = Make();
    w.SetConfigFileName((dir / "unused").string());
    ASSERT_FALSE(w.ButtonLectureInfo.Enabled());
    w.Language = kEnglish;  // the dialog is given the window's language
    LanguageIndex dialogLanguage = 99;
    seams::ModalAction modal([&](TForm& form) {
        auto& dialog = dynamic_cast<TConfPort&>(form);
        dialogLanguage = dialog.Language;
        dialog.RadioGroupPortSerie.ItemButton(1)->click();
        dialog.Validation.Click();
    });
    w.ButtonConfigPort.Click();
    EXPECT_EQ(dialogLanguage, kEnglish);
    EXPECT_EQ(w.DeviceLink.ComNumber, 6);
    EXPECT_TRUE(w.ButtonLectureInfo.Enabled());
}

TEST_F(WindowTest, TheLanguageDialogsChoiceBecomesTheWindowsLanguage) {
    fs::create_directories(dir);
    TDlgLectureInformation& w = Make();
    w.SetConfigFileName((dir / "TalvinoV1.CFG").string());
    TFormPtr<TDialogChoixLangue> dialog(new TDialogChoixLangue(nullptr));
    DialogChoixLangue = dialog.get();
    seams::ModalAction modal([&](TForm& form) {
        auto& d = dynamic_cast<TDialogChoixLangue&>(form);
        d.RadioGroupSelectLangue.ItemButton(1)->click();
        d.OKBtn.Click();
    });
    w.ButtonChoixLangue.Click();
    DialogChoixLangue = nullptr;
    EXPECT_EQ(w.Language, kEnglish);
    EXPECT_EQ(ReadFile(dir / "TalvinoV1.CFG"), std::string("Langue=1;\n\r"));
}

TEST_F(WindowTest, ClosingDuringAReadingEndsTheConnectionAndClosesThePort) {
    AddMakerPortWithDevice();
    TDlgLectureInformation& w = Make();
    w.ButtonLectureInfo.Click();
    Tick();
    Tick();
    ASSERT_EQ(w.Reading->ReadStep, 3);
    ASSERT_TRUE(port->Line(kMakerCom).Device.Connected());
    w.ButtonQuitter.Click();
    EXPECT_FALSE(w.Window()->isVisible());
    window.reset();
    EXPECT_FALSE(port->Line(kMakerCom).Device.Connected());
    EXPECT_FALSE(port->Line(kMakerCom).Open);
}

}  // namespace
