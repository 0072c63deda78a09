#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/registry/RegistrySource.h"

namespace platform {

// A registry held in memory, for tests: any key content, rights and failure can be set up, and
// every opening is recorded. An opened key is a snapshot of the key at that moment.
class MemoryRegistry : public RegistrySource {
  public:
    struct Key {
        HKey root = kHkeyLocalMachine;
        std::string path;
        std::vector<SnapshotValue> values;        // in enumeration order
        RegAccess grantedAccess = kKeyAllAccess;  // an opening asking for more is refused
        bool infoReadable = true;  // false: the key opens but its information query fails
    };

    struct Opening {
        HKey root;
        std::string path;
        RegAccess access;
        bool succeeded;
    };

    // The key at path under root, created empty when missing.
    Key& AddKey(const std::string& path, HKey root = kHkeyLocalMachine);
    void RemoveKey(const std::string& path, HKey root = kHkeyLocalMachine);
    // Adds a text value (kRegSz unless said) to the key at path, creating the key.
    void AddString(const std::string& path, const std::string& name, const std::string& text,
                   RegValueType type = kRegSz);

    std::unique_ptr<RegistryKey> OpenKey(HKey root, const std::string& path,
                                         RegAccess access) override;

    const std::vector<Opening>& Openings() const { return openings_; }
    // Keys opened and not yet closed.
    int OpenKeyCount() const { return *liveKeys_; }

  private:
    Key* Find(const std::string& path, HKey root);

    std::vector<Key> keys_;
    std::vector<Opening> openings_;
    std::shared_ptr<int> liveKeys_ = std::make_shared<int>(0);
};

}  // namespace platform
