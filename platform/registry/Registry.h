#pragma once

#include <memory>
#include <string>

#include "platform/exceptions/Exception.h"
#include "platform/registry/RegistrySource.h"
#include "platform/stringlist/StringList.h"

namespace platform {

// A registry operation the framework reports as an error (a value of the wrong type read).
class ERegistryException : public Exception {
  public:
    using Exception::Exception;
};

// A value's type as the framework's registry class names it.
enum class TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

using TRegKeyInfo = RegKeyInfo;

// The framework's registry class, with the operations the port search relies on. At most one
// key is current; it is closed when another one is opened, when the root key changes and when
// the object is destroyed.
class TRegistry {
  public:
    // access: the rights the framework keeps for opening keys for writing; the read-only and
    // existence operations below ask for their own fixed rights.
    TRegistry(RegistrySource& source, RegAccess access);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    RegAccess Access() const { return access_; }
    HKey RootKey() const { return rootKey_; }
    // Closes the current key: later paths start at the new root.
    void SetRootKey(HKey rootKey);

    // True when the key can be opened with kKeyExistsRights; it is closed again at once.
    bool KeyExists(const std::string& path);
    // Makes the key current, opened with kKeyRead, else kKeyExistsRights, else kKeyQueryValue.
    // On failure the current key stays as it was.
    bool OpenKeyReadOnly(const std::string& path);
    void CloseKey();
    bool HasCurrentKey() const { return currentKey_ != nullptr; }

    // False when no key is current or the query fails.
    bool GetKeyInfo(TRegKeyInfo& info) const;
    // Empties list, then adds the current key's value names in enumeration order.
    void GetValueNames(TStringList& list) const;
    // rdUnknown for a value that cannot be queried and for the types without a name of their own.
    TRegDataType GetDataType(const std::string& name) const;
    // The value's text up to its first NUL, unexpanded; empty when the value cannot be queried or
    // has no data. A value of a non-text type raises ERegistryException.
    std::string ReadString(const std::string& name) const;

  private:
    RegistrySource& source_;
    RegAccess access_;
    HKey rootKey_ = kHkeyCurrentUser;
    std::unique_ptr<RegistryKey> currentKey_;
};

}  // namespace platform
