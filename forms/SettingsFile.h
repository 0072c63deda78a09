#pragma once

#include <cstdint>
#include <string>

// The settings file: one record holding the language of the user interface, in the directory
// that stands in for the system directory. Start-up builds the path, reads the language once or
// writes the file when it is missing; the main window rewrites it on every change of language.
namespace settings {

// The file name appended to the directory, backslash included: the file layer maps it.
inline constexpr const char* kFileName = "\\TalvinoV1.CFG";
// The record's key, the separator after it and the terminator after the value.
inline constexpr const char* kKey = "Langue";
inline constexpr const char* kSeparator = "=";
inline constexpr const char* kTerminator = ";";
// The record: key, value in decimal, terminator, then LF and CR in that order.
inline constexpr const char* kRecordFormat = "%s=%i%s\n\r";
// At most this many bytes of the file are read, into a buffer one byte longer for the zero.
inline constexpr int32_t kReadLimit = 200;
inline constexpr int32_t kReadBufferSize = kReadLimit + 1;
// The language when the file yields no number.
inline constexpr int32_t kDefaultLanguage = 0;

// The full path of the settings file, as a system path.
std::string SettingsFilePath();

// Creates or empties the file at path and writes the record for language in a single write,
// whose result is not examined. Raises platform::EFCreateError when the file cannot be created.
void WriteLanguageRecord(const std::string& path, uint32_t language);

// The language the file at path holds, kDefaultLanguage when it yields no number; any signed
// 32-bit value may come back, the caller keeps only the languages it knows. Raises
// platform::EFOpenError when the file cannot be opened.
int32_t ReadLanguage(const std::string& path);

}  // namespace settings
