#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A predefined root key of the registry.
using HKey = uint32_t;
inline constexpr HKey kHkeyCurrentUser = 0x80000001;   // the framework's default root
inline constexpr HKey kHkeyLocalMachine = 0x80000002;  // machine-wide keys, the serial-port key

// Access rights asked for when a key is opened (bit masks).
using RegAccess = uint32_t;
inline constexpr RegAccess kKeyQueryValue = 0x0001;
inline constexpr RegAccess kKeySetValue = 0x0002;
inline constexpr RegAccess kKeyCreateSubKey = 0x0004;
inline constexpr RegAccess kKeyEnumerateSubKeys = 0x0008;
inline constexpr RegAccess kKeyNotify = 0x0010;
inline constexpr RegAccess kStandardRightsRead = 0x20000;
inline constexpr RegAccess kKeyRead =
    kStandardRightsRead | kKeyQueryValue | kKeyEnumerateSubKeys | kKeyNotify;  // 0x20019
// What an existence test asks for: enough to look, not to be notified.
inline constexpr RegAccess kKeyExistsRights =
    kStandardRightsRead | kKeyQueryValue | kKeyEnumerateSubKeys;  // 0x20009
inline constexpr RegAccess kKeyAllAccess = 0xF003F;

// Type of a value's data.
using RegValueType = uint32_t;
inline constexpr RegValueType kRegNone = 0;
inline constexpr RegValueType kRegSz = 1;        // text ending in NUL
inline constexpr RegValueType kRegExpandSz = 2;  // text with %VARIABLE% references, unexpanded
inline constexpr RegValueType kRegBinary = 3;
inline constexpr RegValueType kRegDword = 4;    // 32-bit integer, 4 bytes
inline constexpr RegValueType kRegMultiSz = 7;  // several NUL-ended texts

// What a key's information query reports.
struct RegKeyInfo {
    uint32_t NumSubKeys = 0;
    uint32_t MaxSubKeyLen = 0;
    uint32_t NumValues = 0;
    uint32_t MaxValueLen = 0;  // longest value name, in characters
    uint32_t MaxDataLen = 0;   // largest value data, in bytes
};

// One value: its type and its raw data bytes.
struct RegValue {
    RegValueType type = kRegNone;
    std::string data;
};

// A key opened on a registry source; closed when destroyed.
class RegistryKey {
  public:
    virtual ~RegistryKey() = default;
    // The key's information; nothing when the query fails.
    virtual std::optional<RegKeyInfo> QueryInfo() = 0;
    // The name of the value at index (0, 1, 2 ...); nothing past the last one or on failure.
    virtual std::optional<std::string> EnumValueName(uint32_t index) = 0;
    // The value's type and data; nothing when it cannot be queried (gone, for one).
    virtual std::optional<RegValue> QueryValue(const std::string& name) = 0;
};

// Where registry keys come from. Paths are taken from the root key, a leading backslash or not.
class RegistrySource {
  public:
    virtual ~RegistrySource() = default;
    // The key opened with the rights asked for; nothing when it is missing or the rights are
    // refused.
    virtual std::unique_ptr<RegistryKey> OpenKey(HKey root, const std::string& path,
                                                 RegAccess access) = 0;
};

// Key paths compare as the registry compares them: without the leading backslash, ignoring the
// case of ASCII letters.
bool SameKeyPath(const std::string& a, const std::string& b);

// A key whose content is fixed when it is opened.
struct SnapshotValue {
    std::string name;
    RegValueType type = kRegSz;
    std::string data;
    // False: the value is listed by the enumeration but is gone by the time it is queried.
    bool queryable = true;
};

class SnapshotKey : public RegistryKey {
  public:
    SnapshotKey(std::vector<SnapshotValue> values, bool infoReadable);
    std::optional<RegKeyInfo> QueryInfo() override;
    std::optional<std::string> EnumValueName(uint32_t index) override;
    std::optional<RegValue> QueryValue(const std::string& name) override;

  private:
    std::vector<SnapshotValue> values_;
    bool infoReadable_;
};

}  // namespace platform
