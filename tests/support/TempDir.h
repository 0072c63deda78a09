#pragma once

#include <filesystem>
#include <string>

namespace test_support {

// A fresh directory under the system's temporary directory, removed with all it holds when
// the object goes. Throws std::runtime_error when it cannot be made.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace test_support
