#include "app/Startup.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "forms/DlgLectureInformation.h"
#include "forms/SettingsFile.h"
#include "platform/exceptions/Exception.h"
#include "platform/files/Files.h"
#include "platform/registry/PortMapRegistry.h"
#include "platform/toolkit/Toolkit.h"

namespace {

// The language of a settings file that did not exist.
constexpr LanguageIndex kNewFileLanguage = 0;

// The application object builds its forms from the owner alone; this is how the environment's
// platform reaches the main window's constructor while the application creates it.
const StartupEnvironment* creatingWith = nullptr;

class MainWindow final : public TDlgLectureInformation {
  public:
    explicit MainWindow(platform::TForm* Owner)
        : TDlgLectureInformation(Owner, creatingWith->Link,
                                 creatingWith->Registry != nullptr ? *creatingWith->Registry
                                                                   : platform::RealRegistry()) {}
};

void CreateMainWindow(const StartupEnvironment& environment) {
    creatingWith = &environment;
    MainWindow* window = nullptr;
    try {
        platform::Application().CreateForm(window);
    } catch (...) {
        creatingWith = nullptr;
        throw;
    }
    creatingWith = nullptr;
    DlgLectureInformation = window;
}

void StartUp(StartupEnvironment& environment) {
    platform::TApplication& application = platform::Application();
    // The program takes no command line: only its name reaches the toolkit, which would
    // otherwise take options of its own from it.
    application.Initialize(std::min(environment.Argc, 1), environment.Argv);
    CreateMainWindow(environment);
    application.CreateForm(DialogChoixLangue);
    const std::string path = settings::SettingsFilePath();
    DlgLectureInformation->SetConfigFileName(path);
    int32_t language = kNewFileLanguage;
    if (platform::FileExists(path)) {
        language = settings::ReadLanguage(path);
    } else {
        settings::WriteLanguageRecord(path, kNewFileLanguage);
    }
    // A negative number becomes a large index, which the window refuses like any other.
    DlgLectureInformation->SetLanguage(static_cast<LanguageIndex>(language));
    application.Run();
}

}  // namespace

int RunProgram(StartupEnvironment& environment) {
    platform::TApplication& application = platform::Application();
    try {
        try {
            StartUp(environment);
        } catch (const platform::Exception& error) {
            application.ShowException(error);
        } catch (...) {
            application.ShowException(platform::Exception(""));
        }
    } catch (...) {
        // Showing the error failed too; the program ends all the same.
    }
    application.DestroyForms();
    DlgLectureInformation = nullptr;
    DialogChoixLangue = nullptr;
    return 0;
}

int RunMain(int argc, char** argv) {
    StartupEnvironment environment;
    environment.Argc = argc;
    environment.Argv = argv;
    const int result = RunProgram(environment);
    platform::Application().Finalize();
    return result;
}
