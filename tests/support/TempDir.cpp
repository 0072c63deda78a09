#include "tests/support/TempDir.h"

#include <stdlib.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace test_support {

TempDir::TempDir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX"));
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp " + pattern + ": " +
                                 std::generic_category().message(errno));
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace test_support
