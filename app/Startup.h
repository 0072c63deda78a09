#pragma once

#include "link/Com_w38_v1_2.h"
#include "platform/registry/RegistrySource.h"

// What the program runs on: its arguments, the device link's serial ports and clock, and the
// registry the port search reads. The defaults are this machine's.
struct StartupEnvironment {
    int Argc = 0;
    char** Argv = nullptr;
    LinkPlatform Link = LinkPlatform::Real();
    platform::RegistrySource* Registry = nullptr;  // null: the machine's port map
};

// The whole program: creates the main window and the language dialog, takes the language from
// the settings file (creating it on the first run), and runs until the main window closes. An
// error on the way is shown in a box and ends the program. Always returns 0; the forms are gone
// when it returns.
int RunProgram(StartupEnvironment& environment);

// RunProgram on this machine, then the application taken down: the entry point.
int RunMain(int argc, char** argv);
