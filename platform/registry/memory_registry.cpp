#include "platform/registry/MemoryRegistry.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace platform {

namespace {

// A snapshot key that counts itself among the registry's open keys while it lives.
class CountedKey : public SnapshotKey {
  public:
    CountedKey(std::vector<SnapshotValue> values, bool infoReadable, std::shared_ptr<int> live)
        : SnapshotKey(std::move(values), infoReadable), live_(std::move(live)) {
        ++*live_;
    }
    ~CountedKey() override { --*live_; }
    CountedKey(const CountedKey&) = delete;
    CountedKey& operator=(const CountedKey&) = delete;

  private:
    std::shared_ptr<int> live_;
};

}  // namespace

MemoryRegistry::Key* MemoryRegistry::Find(const std::string& path, HKey root) {
    const auto found = std::ranges::find_if(
        keys_, [&](const Key& key) { return key.root == root && SameKeyPath(key.path, path); });
    return found == keys_.end() ? nullptr : &*found;
}

MemoryRegistry::Key& MemoryRegistry::AddKey(const std::string& path, HKey root) {
    if (Key* key = Find(path, root)) {
        return *key;
    }
    Key& key = keys_.emplace_back();
    key.root = root;
    key.path = path;
    return key;
}

void MemoryRegistry::RemoveKey(const std::string& path, HKey root) {
    std::erase_if(keys_,
                  [&](const Key& key) { return key.root == root && SameKeyPath(key.path, path); });
}

void MemoryRegistry::AddString(const std::string& path, const std::string& name,
                               const std::string& text, RegValueType type) {
    // Text values are stored as the registry stores them, with their ending NUL.
    AddKey(path).values.push_back({name, type, text + '\0'});
}

std::unique_ptr<RegistryKey> MemoryRegistry::OpenKey(HKey root, const std::string& path,
                                                     RegAccess access) {
    const Key* key = Find(path, root);
    const bool granted = key != nullptr && (access & ~key->grantedAccess) == 0;
    openings_.push_back({root, path, access, granted});
    if (!granted) {
        return nullptr;
    }
    return std::make_unique<CountedKey>(key->values, key->infoReadable, liveKeys_);
}

}  // namespace platform
