#include "forms/SettingsFile.h"

#include <array>

#include "platform/files/Files.h"
#include "platform/strings/Strings.h"

namespace settings {

std::string SettingsFilePath() {
    return platform::SystemDirectoryStandIn() + kFileName;
}

void WriteLanguageRecord(const std::string& path, uint32_t language) {
    platform::TFileStream stream(path, platform::fmCreate);
    // %i prints the index as the signed number the record has always held.
    const std::string record =
        platform::Format(kRecordFormat, kKey, static_cast<int>(language), kTerminator);
    stream.Write(record.data(), static_cast<int32_t>(record.size()));
}

int32_t ReadLanguage(const std::string& path) {
    std::array<char, kReadBufferSize> buffer{};
    {
        platform::TFileStream stream(path, platform::fmOpenRead);
        const int32_t got = stream.Read(buffer.data(), kReadLimit);
        buffer[static_cast<size_t>(got)] = '\0';
    }
    // The text ends at the first zero byte, wherever it lies in what was read.
    std::string text = buffer.data();

    // Without the key the whole text is searched for the value.
    const int keyAt = platform::Pos(kKey, text);
    text = platform::Trim(platform::Copy(text, keyAt, static_cast<int>(text.size())));

    // The value lies strictly between the separator and the terminator; with no separator it
    // is everything before the terminator, and with the terminator missing or first it is empty.
    const int separatorAt = platform::Pos(kSeparator, text);
    const int terminatorAt = platform::Pos(kTerminator, text);
    const std::string value =
        platform::Trim(platform::Copy(text, separatorAt + 1, terminatorAt - separatorAt - 1));
    return platform::StrToIntDef(value, kDefaultLanguage);
}

}  // namespace settings
