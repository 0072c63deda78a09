#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "forms/SettingsFile.h"
#include "platform/exceptions/Exception.h"

namespace {

namespace fs = std::filesystem;
using settings::ReadLanguage;
using settings::WriteLanguageRecord;

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "settings_tests.XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string Path() const { return path_; }

  private:
    std::string path_;
};

void PutFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string FileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Blanks(size_t count) {
    return std::string(count, ' ');
}

std::string Bytes(int from, int to) {
    std::string text;
    for (int b = from; b <= to; ++b) {
        text += static_cast<char>(b);
    }
    return text;
}

TEST(WriteLanguageRecord, WritesTheExactRecordOverAnyContent) {
    TempDir dir;
    const std::string path = dir.Path() + "/TalvinoV1.CFG";
    const struct {
        uint32_t language;
        std::string bytes;
    } cases[] = {
        {0, "\x4C\x61\x6E\x67\x75\x65\x3D\x30\x3B\x0A\x0D"},
        {1, "\x4C\x61\x6E\x67\x75\x65\x3D\x31\x3B\x0A\x0D"},
    };
    for (const auto& c : cases) {
        PutFile(path, "Mode=5;Langue=1;" + Blanks(300));
        WriteLanguageRecord(path, c.language);
        EXPECT_EQ(FileContent(path), c.bytes) << "language " << c.language;
        EXPECT_EQ(ReadLanguage(path), static_cast<int32_t>(c.language));
    }
}

// What the reader makes of each content; reading never changes the file.
TEST(ReadLanguage, ReadsEveryContentAsTheSystemDoes) {
    const struct {
        std::string content;
        int32_t language;
    } cases[] = {
        {"Langue=0;\n\r", 0},
        {"Langue=1;\n\r", 1},
        {"", 0},
        {"Langue=2;", 2},
        {"Langue=-1;", -1},
        {"Langue = 1 ;", 1},
        {"\r\n\t Langue=1;\n\r \x01", 1},
        {"Langue=1", 0},
        {"Langue;=1", 0},
        {"Langue=;", 0},
        {"Langue=1;Langue=0;", 1},
        {"langue=1;", 1},
        {"1;", 1},
        {";", 0},
        {"=;", 0},
        {"Mode=5;", 5},
        {"Mode=5;Langue=1;", 1},
        {"Langue=1;Mode=5;", 1},
        {"Langue=+1;", 1},
        {"Langue=01;", 1},
        {"Langue=$1;", 1},
        {"Langue=0x1;", 1},
        {"Langue=-0x1;", 0},
        {"Langue=x;", 0},
        {"Langue=2147483648;", 0},
        // Only the first 200 bytes count: the key must lie in them with its value.
        {"7;" + Blanks(189) + "Langue=1;", 1},
        {"7;" + Blanks(190) + "Langue=1;", 0},
        {"7;" + Blanks(193) + "Langue=1;", 7},
        {Blanks(300) + "Langue=1;", 0},
        // A zero byte ends the text.
        {std::string("5;\0Langue=1;", 12), 5},
        {std::string("Langue=1\0;", 10), 0},
        {std::string("\0Langue=1;", 10), 0},
        // Binary and huge content.
        {"\xff\xfe=1;\x80", 1},
        {Bytes(1, 255), 0},
        {Bytes(0, 255), 0},
        {std::string(1 << 20, '\xA5'), 0},
    };
    TempDir dir;
    const std::string path = dir.Path() + "/TalvinoV1.CFG";
    for (const auto& c : cases) {
        PutFile(path, c.content);
        const std::string shown = c.content.substr(0, 40);
        EXPECT_EQ(ReadLanguage(path), c.language) << "content \"" << shown << "\"";
        EXPECT_EQ(FileContent(path), c.content) << "content \"" << shown << "\"";
    }
}

TEST(SettingsFile, FailuresRaiseTheFrameworkFileErrors) {
    TempDir dir;
    EXPECT_THROW(ReadLanguage(dir.Path() + "/missing.CFG"), platform::EFOpenError);
    EXPECT_THROW(ReadLanguage(dir.Path()), platform::EFOpenError);
    EXPECT_THROW(WriteLanguageRecord(dir.Path(), 0), platform::EFCreateError);
}

TEST(SettingsFilePath, NamesTheFileInTheConfigurationDirectory) {
    TempDir dir;
    const std::string configHome = dir.Path() + "/config";
    std::optional<std::string> oldXdg;
    if (const char* old = ::getenv("XDG_CONFIG_HOME")) {
        oldXdg = old;
    }
    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    const std::string path = settings::SettingsFilePath();
    if (oldXdg) {
        ::setenv("XDG_CONFIG_HOME", oldXdg->c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }

    EXPECT_EQ(path, configHome + "\\TalvinoV1.CFG");
    WriteLanguageRecord(path, 1);
    EXPECT_EQ(FileContent(configHome + "/TalvinoV1.CFG"), "Langue=1;\n\r");
    EXPECT_EQ(ReadLanguage(path), 1);
}

}  // namespace
