#include "forms/PortSearch.h"

#include <limits>
#include <string_view>

#include "platform/registry/Registry.h"

namespace {

bool Contains(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

// Trimmed from both ends of a port name: control characters and the blank.
constexpr unsigned char kLastTrimmedCode = 32;

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= kLastTrimmedCode;
}

}  // namespace

PortSearch::PortSearch(platform::RegistrySource& registry) : registry_(registry) {
    PortList.SetCaseSensitive(true);
    PortList.SetSorted(true);
    PortList.SetDuplicates(platform::TDuplicates::dupIgnore);
}

int32_t PortSearch::PortNumberFromName(const std::string& text) {
    std::string_view trimmed(text);
    while (!trimmed.empty() && IsTrimmed(trimmed.front())) {
        trimmed.remove_prefix(1);
    }
    while (!trimmed.empty() && IsTrimmed(trimmed.back())) {
        trimmed.remove_suffix(1);
    }
    // Only the prefix is looked for in the upper-cased text, so ASCII upper-casing finds what
    // the locale's would.
    std::string upper(trimmed);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    const std::string_view prefix(kPortPrefix);
    const std::size_t at = upper.find(prefix);
    // Without the prefix the number is looked for from the third character on.
    constexpr std::size_t kTailWithoutPrefix = 2;
    const std::size_t tailStart = at == std::string::npos ? kTailWithoutPrefix : at + prefix.size();
    // An empty tail (nothing after the prefix, or a short name without it) holds no digit and
    // so names no port.
    int64_t number = 0;
    for (std::size_t i = tailStart; i < upper.size() && upper[i] >= '0' && upper[i] <= '9'; ++i) {
        number = number * 10 + (upper[i] - '0');
        if (number > std::numeric_limits<int32_t>::max()) {
            return 0;
        }
    }
    return static_cast<int32_t>(number);
}

bool PortSearch::SearchPorts() {
    // Declared in this order so that the registry object is freed first, then the list, on every
    // way out.
    platform::TStringList valueNames;
    platform::TRegistry registry(registry_, platform::kKeyRead);
    const int32_t previousNumber = PortNumber;
    PortList.Clear();

    registry.SetRootKey(platform::kHkeyLocalMachine);
    if (!registry.KeyExists(kSerialPortsKey)) {
        PortNumber = 0;
        return true;
    }
    registry.OpenKeyReadOnly(kSerialPortsKey);
    platform::TRegKeyInfo info;
    if (!registry.GetKeyInfo(info)) {
        PortNumber = 0;
        return false;
    }
    registry.GetValueNames(valueNames);
    for (int i = 0; i < valueNames.Count(); ++i) {
        const std::string& name = valueNames[i];
        const platform::TRegDataType type = registry.GetDataType(name);
        if (type != platform::TRegDataType::rdString &&
            type != platform::TRegDataType::rdExpandString) {
            continue;
        }
        std::string entry = registry.ReadString(name);
        if (Contains(name, kMakerDriverWord)) {
            entry += kMakerSeparator;
            entry += kMakerWord;
        }
        PortList.Add(entry);
    }
    // A key without values, or with values of other types only, lists no port.
    if (PortList.Count() == 0) {
        PortNumber = 0;
        return true;
    }

    SelectedIndex = -1;
    int32_t previousMatch = -1;
    for (int32_t i = 0; i < PortList.Count(); ++i) {
        const std::string& entry = PortList[i];
        const bool marked = Contains(entry, kMakerWord);
        if (marked) {
            SelectedIndex = i;
        }
        if (PortNumberFromName(entry) == previousNumber) {
            previousMatch = i;
        }
        if (marked) {
            break;
        }
    }
    if (SelectedIndex == -1) {
        SelectedIndex = previousMatch >= 0 ? previousMatch : 0;
    }
    PortNumber = PortNumberFromName(PortList[SelectedIndex]);
    return true;
}

int32_t PortSearch::GetPortNumber() {
    if (PortNumber <= 0) {
        SearchPorts();
    }
    return PortNumber;
}

bool PortSearch::PortChanged() {
    const int32_t previousNumber = PortNumber;
    if (!SearchPorts()) {
        return false;
    }
    return PortNumber != previousNumber;
}

bool PortSearch::IsMakerAdapter() {
    if (PortNumber <= 0) {
        SearchPorts();
    }
    if (PortNumber == 0) {
        return false;
    }
    return Contains(PortList[SelectedIndex], kMakerWord);
}
