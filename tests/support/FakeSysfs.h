#pragma once

#include <filesystem>
#include <string>

namespace test_support {

// One tty as the kernel shows it in sysfs.
struct FakeTty {
    std::string name;
    std::string driver;     // empty: no driver link
    std::string type;       // content of the `type` attribute ("4": a UART is present), empty: none
    std::string dev;        // content of the `dev` attribute, empty: none
    bool hasDevice = true;  // false: a virtual tty without a device link
};

// Lays a tty out under sys as the kernel does: class/tty/<name>/device -> the device, whose
// driver link points into the bus's drivers; its device node is a plain file under dev.
void AddFakeTty(const std::filesystem::path& sys, const std::filesystem::path& dev,
                const FakeTty& tty);

}  // namespace test_support
