#include "tests/support/SimPortMap.h"

#include <stdlib.h>

namespace test_support {

SimPortMap::SimPortMap(const std::string& prefix) : dir_(prefix) {
    std::filesystem::create_directories(Sys());
    setenv("TALVINO_PORT_MAP", MapDir().c_str(), 1);
}

SimPortMap::~SimPortMap() {
    unsetenv("TALVINO_PORT_MAP");
}

}  // namespace test_support
