#pragma once

#include <filesystem>
#include <string>

#include "tests/support/TempDir.h"

namespace test_support {

// A temporary root with an empty sysfs ("sys") and a user port map ("map") that
// TALVINO_PORT_MAP names while the object lives: the simulators a test starts register their
// ports there, and theirs are the only ports there are.
class SimPortMap {
  public:
    explicit SimPortMap(const std::string& prefix);
    ~SimPortMap();
    SimPortMap(const SimPortMap&) = delete;
    SimPortMap& operator=(const SimPortMap&) = delete;

    const std::filesystem::path& Root() const { return dir_.Path(); }
    std::filesystem::path Sys() const { return Root() / "sys"; }
    std::filesystem::path MapDir() const { return Root() / "map"; }

  private:
    TempDir dir_;
};

}  // namespace test_support
