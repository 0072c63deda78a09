#include "platform/registry/Registry.h"

#include <array>

namespace platform {

TRegistry::TRegistry(RegistrySource& source, RegAccess access) : source_(source), access_(access) {}

TRegistry::~TRegistry() {
    CloseKey();
}

void TRegistry::SetRootKey(HKey rootKey) {
    CloseKey();
    rootKey_ = rootKey;
}

bool TRegistry::KeyExists(const std::string& path) {
    return source_.OpenKey(rootKey_, path, kKeyExistsRights) != nullptr;
}

bool TRegistry::OpenKeyReadOnly(const std::string& path) {
    // Each weaker right is tried in turn, so a key locked down to plain queries still opens.
    static constexpr std::array<RegAccess, 3> kTries = {kKeyRead, kKeyExistsRights, kKeyQueryValue};
    for (RegAccess access : kTries) {
        if (std::unique_ptr<RegistryKey> key = source_.OpenKey(rootKey_, path, access)) {
            currentKey_ = std::move(key);
            return true;
        }
    }
    return false;
}

void TRegistry::CloseKey() {
    currentKey_.reset();
}

bool TRegistry::GetKeyInfo(TRegKeyInfo& info) const {
    if (!currentKey_) {
        return false;
    }
    const std::optional<RegKeyInfo> queried = currentKey_->QueryInfo();
    if (!queried) {
        return false;
    }
    info = *queried;
    return true;
}

void TRegistry::GetValueNames(TStringList& list) const {
    list.Clear();
    if (!currentKey_) {
        return;
    }
    // The enumeration runs until the key reports no further value, so a value removed meanwhile
    // shortens the list instead of leaving a stale slot.
    for (uint32_t index = 0;; ++index) {
        const std::optional<std::string> name = currentKey_->EnumValueName(index);
        if (!name) {
            break;
        }
        list.Add(*name);
    }
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
    if (!currentKey_) {
        return TRegDataType::rdUnknown;
    }
    const std::optional<RegValue> value = currentKey_->QueryValue(name);
    if (!value) {
        return TRegDataType::rdUnknown;
    }
    switch (value->type) {
        case kRegSz:
            return TRegDataType::rdString;
        case kRegExpandSz:
            return TRegDataType::rdExpandString;
        case kRegDword:
            return TRegDataType::rdInteger;
        case kRegBinary:
            return TRegDataType::rdBinary;
        default:
            return TRegDataType::rdUnknown;
    }
}

std::string TRegistry::ReadString(const std::string& name) const {
    if (!currentKey_) {
        return {};
    }
    const std::optional<RegValue> value = currentKey_->QueryValue(name);
    if (!value || value->data.empty()) {
        return {};
    }
    if (value->type != kRegSz && value->type != kRegExpandSz) {
        throw ERegistryException("Type de données incorrect pour '" + name + "'");
    }
    return value->data.substr(0, value->data.find('\0'));
}

}  // namespace platform
