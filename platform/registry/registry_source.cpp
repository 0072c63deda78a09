#include "platform/registry/RegistrySource.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace platform {

namespace {

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string_view WithoutLeadingBackslash(const std::string& path) {
    std::string_view view(path);
    if (!view.empty() && view.front() == '\\') {
        view.remove_prefix(1);
    }
    return view;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return UpperAscii(x) == UpperAscii(y); });
}

}  // namespace

bool SameKeyPath(const std::string& a, const std::string& b) {
    return SameNameIgnoringCase(WithoutLeadingBackslash(a), WithoutLeadingBackslash(b));
}

SnapshotKey::SnapshotKey(std::vector<SnapshotValue> values, bool infoReadable)
    : values_(std::move(values)), infoReadable_(infoReadable) {}

std::optional<RegKeyInfo> SnapshotKey::QueryInfo() {
    if (!infoReadable_) {
        return std::nullopt;
    }
    RegKeyInfo info;
    info.NumValues = static_cast<uint32_t>(values_.size());
    for (const SnapshotValue& value : values_) {
        info.MaxValueLen = std::max(info.MaxValueLen, static_cast<uint32_t>(value.name.size()));
        info.MaxDataLen = std::max(info.MaxDataLen, static_cast<uint32_t>(value.data.size()));
    }
    return info;
}

std::optional<std::string> SnapshotKey::EnumValueName(uint32_t index) {
    if (index >= values_.size()) {
        return std::nullopt;
    }
    return values_[index].name;
}

std::optional<RegValue> SnapshotKey::QueryValue(const std::string& name) {
    // Value names, like key names, ignore case.
    const auto found = std::ranges::find_if(values_, [&name](const SnapshotValue& value) {
        return SameNameIgnoringCase(value.name, name);
    });
    if (found == values_.end() || !found->queryable) {
        return std::nullopt;
    }
    return RegValue{found->type, found->data};
}

}  // namespace platform
