#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Startup.h"
#include "forms/DlgLectureInformation.h"
#include "platform/clock/Clock.h"
#include "platform/portmap/PortMap.h"
#include "platform/registry/PortMapRegistry.h"
#include "platform/serial/PosixSerial.h"
#include "platform/toolkit/ToolkitTesting.h"
#include "sim/talvino_sim/SimProcess.h"
#include "tests/support/QtTestEnvironment.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

constexpr int kPollMs = 20;          // how often the test looks at the window, ms
constexpr int kGiveUpMs = 30000;     // a reading of a few seconds that is not over by then hangs
constexpr size_t kInstructions = 6;  // the lines the window starts with

// The whole program on the real event loop and the real clock, against talvino-sim on a
// pseudo-terminal registered as the maker's adapter in a private port map (and an empty sysfs,
// so no port of this machine takes part). The test acts as the user: it waits for the read
// button, presses it, waits for the reading to end and closes the window.
class EndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        seams::EnsureApplication();
        std::string dir = (fs::temp_directory_path() / "e2e-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        root = dir;
        fs::create_directories(root / "sys");
        fs::create_directories(root / "config");
        ::setenv("TALVINO_PORT_MAP", (root / "map").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("TALVINO_PORT_MAP");
        ::unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(root);
    }

    // Runs the program against a simulator started with args; the memo's lines after the
    // instructions once the reading is over.
    std::vector<std::string> ReadThroughTheProgram(const std::vector<std::string>& args) {
        sim::SimProcess simulator(args);
        EXPECT_TRUE(simulator.Ready()) << simulator.Failure();
        PosixPortMap map(root / "sys", root / "map");
        PosixSerialBackend serial(map);
        PortMapRegistry registry(map);
        StartupEnvironment environment{0, nullptr, LinkPlatform{serial, RealClock(), {}},
                                       &registry};

        std::vector<std::string> lines;
        bool clicked = false;
        int waited = 0;
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, [&] {
            TDlgLectureInformation* w = DlgLectureInformation;
            waited += kPollMs;
            if (w == nullptr || !w->Window()->isVisible()) {
                return;
            }
            if (!clicked && w->ButtonLectureInfo.Enabled()) {
                w->ButtonLectureInfo.Click();
                clicked = true;
                return;
            }
            const ReadingOutcome outcome = w->Reading->Result().Outcome;
            const bool over = outcome == ReadingOutcome::Done || outcome == ReadingOutcome::Failed;
            if ((clicked && over) || waited > kGiveUpMs) {
                for (int i = static_cast<int>(kInstructions); i < w->MemoInformation.Lines.Count();
                     ++i) {
                    lines.push_back(w->MemoInformation.Lines[i]);
                }
                w->ButtonQuitter.Click();
            }
        });
        user.start(kPollMs);
        EXPECT_EQ(RunProgram(environment), 0);
        EXPECT_TRUE(clicked) << "the read button never became usable";
        return lines;
    }

    fs::path root;
    seams::MessageBoxRecorder boxes;
    seams::BeepRecorder beeps;
};

TEST_F(EndToEndTest, AReadingOfTheSimulatedDevice) {
    const std::vector<std::string> expected = {
        "Appareil connecté",
        " ",
        "Vérification du type d'appareil.",
        "Vous avez bien connecté un appareil Talvino.",
        " ",
        "Le numéro de série est : 0000000042.",
        " La version du circuit est 5 ",
        " La version du logiciel est 2.10",
        "Transmission réussie",
        " ",
        " Le transfert des données est reussi.",
        " ",
        "---------------------------",
        "Vous pouvez effectuer une nouvelle lecture sur un autre appareil Talvino"};
    EXPECT_EQ(ReadThroughTheProgram(
                  {"--maker-adapter", "--serial", "42", "--circuit", "5", "--software", "2.10"}),
              expected);
    EXPECT_TRUE(boxes.Boxes.empty());
    EXPECT_EQ(beeps.Beeps, std::vector<unsigned>{MB_OK});
}

TEST_F(EndToEndTest, AReadingOfADeviceOfAnotherType) {
    const std::vector<std::string> expected = {"Appareil connecté", " ",
                                               "Vérification du type d'appareil.", " ",
                                               "Mauvais type d'appareil"};
    EXPECT_EQ(ReadThroughTheProgram({"--maker-adapter", "--type", "X12"}), expected);
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text,
              "Le type d'appareil ne correspond pas à un appareil Talvino.\n\n\rL'appareil n'est "
              "pas un appareil Talvino!");
    EXPECT_EQ(beeps.Beeps, std::vector<unsigned>{MB_ICONHAND});
}

}  // namespace
