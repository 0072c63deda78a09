// Shows the port settings dialog over a few made-up ports and saves the window as a PNG file.
// Run under an X server (xvfb-run -a) to see the window system's frame and fonts.

#include <QCoreApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdlib>
#include <iostream>
#include <string>

#include "forms/Tconfigurationport.h"
#include "platform/registry/MemoryRegistry.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: confport_shot <file.png> <language 0|1>\n";
        return 2;
    }
    platform::Application().Initialize(argc, argv);
    platform::MemoryRegistry registry;
    registry.AddString(kSerialPortsKey, "\\Device\\Serial0", "COM1");
    registry.AddString(kSerialPortsKey, "\\Device\\Serial1", "COM2");
    registry.AddString(kSerialPortsKey, "\\Device\\Silabser0", "COM4");
    registry.AddString(kSerialPortsKey, "\\Device\\VCP0", "COM10");
    int status = 1;
    {
        auto dialog = platform::TFormPtr<TConfPort>(new TConfPort(nullptr, registry));
        dialog->SetLanguage(static_cast<LanguageIndex>(std::atoi(argv[2])));
        dialog->Show();
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents();
        }
        if (dialog->Window()->grab().save(QString::fromLocal8Bit(argv[1]))) {
            status = 0;
        }
    }
    platform::Application().Finalize();
    return status;
}
