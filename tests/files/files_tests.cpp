#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/files/Files.h"

namespace {

namespace fs = std::filesystem;
using platform::EFCreateError;
using platform::EFOpenError;
using platform::FileExists;
using platform::fmCreate;
using platform::fmOpenRead;
using platform::TFileStream;

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "files_tests.XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    std::string Path() const { return path_.string(); }

  private:
    fs::path path_;
};

void PutFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string FileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadAll(const std::string& path) {
    TFileStream stream(path, fmOpenRead);
    char buffer[64];
    const int32_t got = stream.Read(buffer, sizeof buffer);
    return {buffer, static_cast<size_t>(got)};
}

TEST(TFileStream, CreateTruncatesAndReadStopsAtTheEnd) {
    TempDir dir;
    const std::string path = dir / "f";
    PutFile(path, "a much longer earlier content");
    {
        TFileStream stream(path, fmCreate);
        EXPECT_EQ(stream.Write("ab", 2), 2);
    }
    EXPECT_EQ(FileContent(path), "ab");
    EXPECT_EQ(ReadAll(path), "ab");
}

// The message names the native path in full, with the framework's French text.
TEST(TFileStream, FailuresRaiseTheFrameworkFileErrors) {
    TempDir dir;
    fs::create_directory(dir / "sub");
    const std::string missing = dir / "none";
    const std::string directory = dir / "sub";
    const std::string inMissingDir = dir / "nodir/f";

    EXPECT_THROW(TFileStream(missing, fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(directory, fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(directory, fmCreate), EFCreateError);
    EXPECT_THROW(TFileStream(inMissingDir, fmCreate), EFCreateError);
    try {
        TFileStream stream(directory, fmCreate);
        ADD_FAILURE() << "created a directory";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Impossible de créer le fichier " + directory);
    }
    // Given as a system path, the file is named by its native path.
    const std::string systemPath = dir.Path() + "\\none";
    try {
        TFileStream stream(systemPath, fmOpenRead);
        ADD_FAILURE() << "opened a missing file";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Impossible d'ouvrir le fichier " + missing);
    }
}

TEST(TFileStream, UnreadableFileRaisesOpenError) {
    TempDir dir;
    const std::string path = dir / "locked";
    PutFile(path, "x");
    ::chmod(path.c_str(), 0);
    if (::access(path.c_str(), R_OK) == 0) {
        GTEST_SKIP() << "permission bits do not stop this user (root)";
    }
    EXPECT_THROW(TFileStream(path, fmOpenRead), EFOpenError);
}

// Read gives 0 on an error, Write the bytes it got out before one.
TEST(TFileStream, ReadAndWriteErrorsGiveZero) {
    if (!FileExists("/proc/self/mem") || ::access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "needs /proc/self/mem and /dev/full";
    }
    // Offset 0 of the process's memory is never mapped: the read fails with EIO.
    TFileStream memory("/proc/self/mem", fmOpenRead);
    char buffer[16];
    EXPECT_EQ(memory.Read(buffer, sizeof buffer), 0);
    TFileStream full("/dev/full", fmCreate);
    EXPECT_EQ(full.Write("abc", 3), 0);
}

TEST(FileExists, TrueOnlyForRegularFiles) {
    TempDir dir;
    PutFile(dir / "file", "x");
    fs::create_directory(dir / "dir");
    fs::create_symlink(dir / "file", dir / "toFile");
    fs::create_symlink(dir / "dir", dir / "toDir");
    fs::create_symlink(dir / "gone", dir / "dangling");
    const struct {
        std::string name;
        bool exists;
    } cases[] = {
        {"file", true},   {"dir", false},   {"missing", false},
        {"toFile", true}, {"toDir", false}, {"dangling", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileExists(dir / c.name), c.exists) << c.name;
    }
    EXPECT_TRUE(FileExists(dir.Path() + "\\file"));
}

TEST(NativePath, MapsEveryBackslashAndNothingElse) {
    EXPECT_EQ(platform::NativePath("/home/u/.config\\TalvinoV1.CFG"),
              "/home/u/.config/TalvinoV1.CFG");
    EXPECT_EQ(platform::NativePath("a\\\\b//c\\"), "a//b//c/");
    EXPECT_EQ(platform::NativePath("C:x y"), "C:x y");
}

// Sets or unsets an environment variable for the life of the object, then restores it.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SystemDirectoryStandIn, CreatesTheConfigurationDirectoryPrivately) {
    TempDir dir;
    const std::string configHome = dir / "a/b/config";
    ScopedEnv xdg("XDG_CONFIG_HOME", configHome.c_str());
    EXPECT_EQ(platform::SystemDirectoryStandIn(), configHome);
    for (const std::string& created : {dir / "a", dir / "a/b", configHome}) {
        struct stat info {};
        ASSERT_EQ(::stat(created.c_str(), &info), 0) << created;
        EXPECT_TRUE(S_ISDIR(info.st_mode)) << created;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << created;
    }
    // An existing directory is taken as it is.
    EXPECT_EQ(platform::SystemDirectoryStandIn(), configHome);
}

TEST(SystemDirectoryStandIn, FallsBackToHomeConfigUnlessXdgIsAbsolute) {
    TempDir dir;
    const std::string home = dir / "home";
    ScopedEnv homeEnv("HOME", home.c_str());
    for (const char* xdg : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        ScopedEnv xdgEnv("XDG_CONFIG_HOME", xdg);
        EXPECT_EQ(platform::SystemDirectoryStandIn(), home + "/.config") << (xdg ? xdg : "(unset)");
        EXPECT_TRUE(fs::is_directory(home + "/.config"));
        fs::remove_all(home);
    }
}

}  // namespace
