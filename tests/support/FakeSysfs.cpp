#include "tests/support/FakeSysfs.h"

#include <fstream>

namespace test_support {

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

void AddFakeTty(const fs::path& sys, const fs::path& dev, const FakeTty& tty) {
    const fs::path ttyDir = sys / "class" / "tty" / tty.name;
    fs::create_directories(ttyDir);
    fs::create_directories(dev);
    if (tty.hasDevice) {
        const fs::path device = sys / "devices" / (tty.name + "-port");
        fs::create_directories(device);
        fs::create_directory_symlink("../../../devices/" + tty.name + "-port", ttyDir / "device");
        if (!tty.driver.empty()) {
            fs::create_directories(sys / "bus" / "any" / "drivers" / tty.driver);
            fs::create_directory_symlink("../../bus/any/drivers/" + tty.driver, device / "driver");
        }
    }
    if (!tty.type.empty()) {
        WriteFile(ttyDir / "type", tty.type + "\n");
    }
    if (!tty.dev.empty()) {
        WriteFile(ttyDir / "dev", tty.dev + "\n");
    }
    WriteFile(dev / tty.name, "");
}

}  // namespace test_support
