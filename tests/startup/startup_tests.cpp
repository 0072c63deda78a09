#include <gtest/gtest.h>
#include <unistd.h>

#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/Startup.h"
#include "forms/DlgLectureInformation.h"
#include "forms/SettingsFile.h"
#include "platform/clock/Clock.h"
#include "platform/files/Files.h"
#include "platform/registry/MemoryRegistry.h"
#include "platform/toolkit/ToolkitTesting.h"
#include "sim/SimPort.h"
#include "tests/support/QtTestEnvironment.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

// A registry whose every opening fails with an error of no framework class.
class BrokenRegistry : public RegistrySource {
  public:
    std::unique_ptr<RegistryKey> OpenKey(HKey, const std::string&, RegAccess) override {
        throw std::runtime_error("registry gone");
    }
};

// What the main window looked like once the message loop ran.
struct Seen {
    bool MainFormShown = false;
    LanguageIndex Language = 99;
    std::string QuitCaption;
};

// The program in-process with its settings directory in a private XDG_CONFIG_HOME, a simulated
// line, an empty registry, and message boxes answered through the seam.
class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        seams::EnsureApplication();
        fs::create_directories(configHome);
        ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        file = NativePath(settings::SettingsFilePath());
        ASSERT_EQ(fs::path(file).parent_path(), configHome);
    }
    void TearDown() override {
        ::unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(configHome);
    }

    // Runs the program; once its loop runs, notes what the window shows and quits it.
    int Run(RegistrySource& registry) {
        StartupEnvironment environment{0, nullptr, LinkPlatform{port, clock, {}}, &registry};
        QTimer quit;  // destroyed with this frame, so it never fires in a later test
        quit.setSingleShot(true);
        QObject::connect(&quit, &QTimer::timeout, [this] {
            seen = Seen{DlgLectureInformation->Window()->isVisible() &&
                            Application().MainForm() == DlgLectureInformation,
                        DlgLectureInformation->Language,
                        DlgLectureInformation->ButtonQuitter.Caption()};
            DlgLectureInformation->ButtonQuitter.Click();
        });
        quit.start(0);
        return RunProgram(environment);
    }
    int Run() { return Run(registry); }

    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    seams::ManualTimers manualTimers;
    seams::MessageBoxRecorder boxes;
    VirtualClock clock;
    sim::SimPort port{clock};
    MemoryRegistry registry;
    fs::path configHome = fs::temp_directory_path() / ("startup-" + std::to_string(::getpid()));
    std::string file;
    std::optional<Seen> seen;
};

TEST_F(StartupTest, TheSettingsFileDecidesTheLanguageAndIsCreatedOrRewrittenAsNeeded) {
    const struct {
        const char* Name;
        std::optional<std::string> Content;  // none: no file
        LanguageIndex Language;
        std::string After;
    } cases[] = {
        {"first start", std::nullopt, kFrench, "Langue=0;\n\r"},
        {"English", "Langue=1;\n\r", kEnglish, "Langue=1;\n\r"},
        {"English, blanks around the value", "Langue = 1 ;", kEnglish, "Langue=1;\n\r"},
        {"no language of ours", "Langue=2;", kFrench, "Langue=2;"},
        {"negative", "Langue=-1;", kFrench, "Langue=-1;"},
    };
    for (const auto& c : cases) {
        fs::remove(file);
        if (c.Content) {
            Write(file, *c.Content);
        }
        seen.reset();
        EXPECT_EQ(Run(), 0) << c.Name;
        ASSERT_TRUE(seen) << c.Name;
        EXPECT_TRUE(seen->MainFormShown) << c.Name;
        EXPECT_EQ(seen->Language, c.Language) << c.Name;
        EXPECT_EQ(seen->QuitCaption, c.Language == kFrench ? "&Quitter" : "&Exit") << c.Name;
        EXPECT_EQ(Read(file), c.After) << c.Name;
        EXPECT_TRUE(boxes.Boxes.empty()) << c.Name;
        EXPECT_EQ(DlgLectureInformation, nullptr) << c.Name;
        EXPECT_EQ(Application().MainForm(), nullptr) << c.Name;
    }
}

TEST_F(StartupTest, AnErrorOnTheWayIsShownAndEndsTheProgramBeforeTheWindowOpens) {
    BrokenRegistry broken;
    const struct {
        const char* Name;
        std::function<void()> Prepare;
        RegistrySource* Registry;
        std::string Box;  // the file's path follows in the message
    } cases[] = {
        {"a directory in place of the file", [&] { fs::create_directory(file); }, &registry,
         "Impossible de créer le fichier " + file + "."},
        {"a file that cannot be read",
         [&] {
             // Root reads any file of its own; a write-only kernel setting refuses even root.
             if (::geteuid() == 0) {
                 fs::create_symlink("/proc/sys/vm/compact_memory", file);
             } else {
                 Write(file, "Langue=1;\n\r");
                 fs::permissions(file, fs::perms::none);
             }
         },
         &registry, "Impossible d'ouvrir le fichier " + file + "."},
        {"an error of another kind", [] {}, &broken, ""},
    };
    for (const auto& c : cases) {
        fs::remove_all(file);
        c.Prepare();
        boxes.Boxes.clear();
        seen.reset();
        EXPECT_EQ(Run(*c.Registry), 0) << c.Name;
        EXPECT_FALSE(seen) << c.Name << ": the message loop ran";
        ASSERT_EQ(boxes.Boxes.size(), 1u) << c.Name;
        EXPECT_EQ(boxes.Boxes[0].Text, c.Box) << c.Name;
        EXPECT_EQ(boxes.Boxes[0].Caption, Application().Title()) << c.Name;
        EXPECT_EQ(boxes.Boxes[0].Icon, TMessageIcon::Stop) << c.Name;
        EXPECT_EQ(DlgLectureInformation, nullptr) << c.Name;
    }
    fs::remove_all(file);
}

}  // namespace
