// Saves the main window after a reading in French and in English, and the two dialogs opened
// from its buttons, as PNG files in the directory given. Run under an X server (xvfb-run -a).

#include <QCoreApplication>
#include <QPixmap>
#include <iostream>
#include <string>

#include "forms/DlgLectureInformation.h"
#include "platform/clock/Clock.h"
#include "platform/registry/MemoryRegistry.h"
#include "platform/toolkit/ToolkitTesting.h"
#include "sim/SimPort.h"

namespace {

void Settle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
}

bool Save(platform::TForm& form, const std::string& file) {
    Settle();
    return form.Window()->grab().save(QString::fromStdString(file));
}

// A reading with the timer ticked by hand and the end message delivered after each tick.
void Read(TDlgLectureInformation& window) {
    window.ButtonLectureInfo.Click();
    for (int i = 0; i < 20 && window.Reading->ReadStep != 0; ++i) {
        window.TimerGestConnection.Tick();
        QCoreApplication::sendPostedEvents();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: mainwindow_shot <directory>\n";
        return 2;
    }
    const std::string dir = argv[1];
    platform::Application().Initialize(argc, argv);
    bool saved = true;
    {
        platform::seams::ManualTimers manual;
        platform::seams::BeepRecorder beeps;
        platform::VirtualClock clock;
        sim::SimPort port(clock);
        sim::TalvinoConfig config;
        config.SetSerialNumber(4021);
        config.SetSoftwareVersion(2, 10);
        port.AddDevice(4, sim::TalvinoDevice(config));
        platform::MemoryRegistry registry;
        registry.AddString(kSerialPortsKey, "\\Device\\Serial0", "COM1");
        registry.AddString(kSerialPortsKey, "\\Device\\Silabser0", "COM4");

        platform::TFormPtr<TDlgLectureInformation> window(
            new TDlgLectureInformation(nullptr, LinkPlatform{port, clock, {}}, registry));
        platform::TFormPtr<TDialogChoixLangue> languages(new TDialogChoixLangue(nullptr));
        DialogChoixLangue = languages.get();
        window->SetConfigFileName(dir + "/TalvinoV1.CFG");
        window->Show();
        Read(*window);
        saved = Save(*window, dir + "/main-fr.png") && saved;
        {
            platform::seams::ModalAction grab([&](platform::TForm& form) {
                saved = Save(form, dir + "/port-dialog-fr.png") && saved;
                form.Close();
            });
            window->ButtonConfigPort.Click();
        }
        {
            platform::seams::ModalAction grab([&](platform::TForm& form) {
                saved = Save(form, dir + "/language-dialog-fr.png") && saved;
                languages->RadioGroupSelectLangue.ItemButton(1)->click();
                saved = Save(form, dir + "/language-dialog-en.png") && saved;
                languages->OKBtn.Click();
            });
            window->ButtonChoixLangue.Click();
        }
        Read(*window);
        saved = Save(*window, dir + "/main-en.png") && saved;
        {
            platform::seams::ModalAction grab([&](platform::TForm& form) {
                saved = Save(form, dir + "/port-dialog-en.png") && saved;
                form.Close();
            });
            window->ButtonConfigPort.Click();
        }
        DialogChoixLangue = nullptr;
    }
    platform::Application().Finalize();
    return saved ? 0 : 1;
}
