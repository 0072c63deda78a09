#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/registry/MemoryRegistry.h"
#include "platform/registry/PortMapRegistry.h"
#include "platform/registry/Registry.h"

namespace platform {
namespace {

const std::string kKey = "\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

std::vector<std::string> Names(TRegistry& registry) {
    TStringList list;
    list.Add("left over from before");
    registry.GetValueNames(list);
    std::vector<std::string> names;
    for (int i = 0; i < list.Count(); ++i) {
        names.push_back(list[i]);
    }
    return names;
}

std::vector<RegAccess> AccessesAsked(const MemoryRegistry& memory) {
    std::vector<RegAccess> accesses;
    for (const MemoryRegistry::Opening& opening : memory.Openings()) {
        accesses.push_back(opening.access);
    }
    return accesses;
}

struct RightsCase {
    const char* what;
    bool keyPresent;
    RegAccess granted;
    bool exists;
    bool opens;
    std::vector<RegAccess> asked;  // by KeyExists, then by OpenKeyReadOnly
};

TEST(RegistryTest, ExistenceAndReadOnlyOpeningAskForTheirRights) {
    const std::vector<RightsCase> cases = {
        {"full rights", true, kKeyAllAccess, true, true, {0x20009, 0x20019}},
        {"no notification", true, 0x20009, true, true, {0x20009, 0x20019, 0x20009}},
        {"queries only", true, kKeyQueryValue, false, true, {0x20009, 0x20019, 0x20009, 0x0001}},
        {"no rights", true, 0, false, false, {0x20009, 0x20019, 0x20009, 0x0001}},
        {"missing key", false, kKeyAllAccess, false, false, {0x20009, 0x20019, 0x20009, 0x0001}},
    };
    for (const RightsCase& c : cases) {
        MemoryRegistry memory;
        if (c.keyPresent) {
            memory.AddKey(kKey).grantedAccess = c.granted;
        }
        TRegistry registry(memory, kKeyRead);
        registry.SetRootKey(kHkeyLocalMachine);
        EXPECT_EQ(registry.KeyExists(kKey), c.exists) << c.what;
        EXPECT_EQ(memory.OpenKeyCount(), 0) << c.what << ": the existence test closes its key";
        EXPECT_EQ(registry.OpenKeyReadOnly(kKey), c.opens) << c.what;
        EXPECT_EQ(registry.HasCurrentKey(), c.opens) << c.what;
        EXPECT_EQ(AccessesAsked(memory), c.asked) << c.what;
    }
}

TEST(RegistryTest, PathsStartAtTheRootKeyWhateverTheirCase) {
    MemoryRegistry memory;
    memory.AddKey("HARDWARE\\DEVICEMAP\\SERIALCOMM");
    TRegistry registry(memory, kKeyRead);
    EXPECT_EQ(registry.RootKey(), kHkeyCurrentUser);
    EXPECT_FALSE(registry.KeyExists(kKey));  // not under the default root
    registry.SetRootKey(kHkeyLocalMachine);
    EXPECT_TRUE(registry.KeyExists(kKey));
    EXPECT_TRUE(registry.KeyExists("hardware\\devicemap\\serialcomm"));
    EXPECT_FALSE(registry.KeyExists("\\HARDWARE\\DEVICEMAP"));
}

TEST(RegistryTest, CurrentKeyIsClosedWhenReplacedOrReleased) {
    MemoryRegistry memory;
    memory.AddKey(kKey);
    {
        TRegistry registry(memory, kKeyRead);
        registry.SetRootKey(kHkeyLocalMachine);
        ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
        ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
        EXPECT_EQ(memory.OpenKeyCount(), 1);
        EXPECT_FALSE(registry.OpenKeyReadOnly("\\SOFTWARE"));
        EXPECT_TRUE(registry.HasCurrentKey()) << "a failed opening keeps the current key";
        registry.SetRootKey(kHkeyLocalMachine);
        EXPECT_EQ(memory.OpenKeyCount(), 0);
        ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
    }
    EXPECT_EQ(memory.OpenKeyCount(), 0);
}

TEST(RegistryTest, KeyInfoAndValueNames) {
    MemoryRegistry memory;
    MemoryRegistry::Key& key = memory.AddKey(kKey);
    TRegistry registry(memory, kKeyRead);
    registry.SetRootKey(kHkeyLocalMachine);
    TRegKeyInfo info;
    EXPECT_FALSE(registry.GetKeyInfo(info)) << "no key is current";
    EXPECT_TRUE(Names(registry).empty());

    ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
    ASSERT_TRUE(registry.GetKeyInfo(info));
    EXPECT_EQ(info.NumValues, 0u);
    EXPECT_TRUE(Names(registry).empty());

    memory.AddString(kKey, "\\Device\\Serial1", "COM2");
    memory.AddString(kKey, "\\Device\\Serial0", "COM1");
    key.values.push_back({"\\Device\\Gone0", kRegSz, "COM9", false});
    ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
    ASSERT_TRUE(registry.GetKeyInfo(info));
    EXPECT_EQ(info.NumValues, 3u);
    EXPECT_EQ(info.MaxValueLen, 15u);
    EXPECT_EQ(Names(registry), (std::vector<std::string>{"\\Device\\Serial1", "\\Device\\Serial0",
                                                         "\\Device\\Gone0"}));

    key.infoReadable = false;
    ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
    EXPECT_FALSE(registry.GetKeyInfo(info));
}

struct ValueCase {
    const char* name;
    RegValueType type;
    std::string data;
    bool queryable;
    TRegDataType dataType;
    std::string text;  // what ReadString gives; "!" when it raises
};

TEST(RegistryTest, DataTypeAndTextOfEachKindOfValue) {
    const std::vector<ValueCase> cases = {
        {"sz", kRegSz, std::string("COM1\0", 5), true, TRegDataType::rdString, "COM1"},
        {"sz cut at NUL", kRegSz, std::string("COM1\0COM2\0", 10), true, TRegDataType::rdString,
         "COM1"},
        {"sz without NUL", kRegSz, "COM3", true, TRegDataType::rdString, "COM3"},
        {"sz empty", kRegSz, "", true, TRegDataType::rdString, ""},
        {"expand", kRegExpandSz, std::string("%PORT%\0", 7), true, TRegDataType::rdExpandString,
         "%PORT%"},
        {"dword", kRegDword, std::string("\x04\0\0\0", 4), true, TRegDataType::rdInteger, "!"},
        {"binary", kRegBinary, "\x01\x02", true, TRegDataType::rdBinary, "!"},
        {"multi", kRegMultiSz, std::string("COM1\0COM2\0\0", 11), true, TRegDataType::rdUnknown,
         "!"},
        {"vanished", kRegSz, std::string("COM4\0", 5), false, TRegDataType::rdUnknown, ""},
    };
    MemoryRegistry memory;
    for (const ValueCase& c : cases) {
        memory.AddKey(kKey).values.push_back({c.name, c.type, c.data, c.queryable});
    }
    TRegistry registry(memory, kKeyRead);
    registry.SetRootKey(kHkeyLocalMachine);
    ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
    for (const ValueCase& c : cases) {
        EXPECT_EQ(registry.GetDataType(c.name), c.dataType) << c.name;
        if (c.text == "!") {
            EXPECT_THROW(registry.ReadString(c.name), ERegistryException) << c.name;
        } else {
            EXPECT_EQ(registry.ReadString(c.name), c.text) << c.name;
        }
    }
    EXPECT_EQ(registry.GetDataType("no such value"), TRegDataType::rdUnknown);
    EXPECT_EQ(registry.ReadString("no such value"), "");
}

class FakePortMap : public PortMap {
  public:
    std::vector<PortInfo> ports;
    bool fails = false;
    int scans = 0;
    std::vector<PortInfo> Scan() override {
        ++scans;
        if (fails) {
            throw std::runtime_error("unreadable");
        }
        return ports;
    }
};

PortInfo Port(int number, const std::string& valueName) {
    PortInfo port;
    port.comNumber = number;
    port.valueName = valueName;
    port.data = "COM" + std::to_string(number);
    return port;
}

TEST(PortMapRegistryTest, SerialPortKeyListsTheMapsPortsAsTextValues) {
    FakePortMap map;
    map.ports = {Port(1, "\\Device\\Serial0"), Port(101, "\\Device\\Silabser0"),
                 Port(201, "\\Device\\USBSER000")};
    PortMapRegistry source(map);
    TRegistry registry(source, kKeyRead);
    registry.SetRootKey(kHkeyLocalMachine);
    ASSERT_TRUE(registry.KeyExists(kKey));
    ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
    EXPECT_EQ(Names(registry), (std::vector<std::string>{"\\Device\\Serial0", "\\Device\\Silabser0",
                                                         "\\Device\\USBSER000"}));
    for (const PortInfo& port : map.ports) {
        EXPECT_EQ(registry.GetDataType(port.valueName), TRegDataType::rdString);
        EXPECT_EQ(registry.ReadString(port.valueName), port.data);
    }

    // The open key keeps what the map held when it was opened; the next opening sees the change.
    map.ports.pop_back();
    EXPECT_EQ(Names(registry).size(), 3u);
    ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
    EXPECT_EQ(Names(registry).size(), 2u);
}

TEST(PortMapRegistryTest, OtherKeysAndWritingAreRefused) {
    FakePortMap map;
    map.ports = {Port(1, "\\Device\\Serial0")};
    PortMapRegistry source(map);
    EXPECT_NE(source.OpenKey(kHkeyLocalMachine, "hardware\\devicemap\\serialcomm", kKeyRead),
              nullptr);
    EXPECT_EQ(source.OpenKey(kHkeyCurrentUser, kKey, kKeyRead), nullptr);
    EXPECT_EQ(source.OpenKey(kHkeyLocalMachine, "\\HARDWARE\\DEVICEMAP", kKeyRead), nullptr);
    EXPECT_EQ(source.OpenKey(kHkeyLocalMachine, kKey + "\\Sub", kKeyRead), nullptr);
    EXPECT_EQ(source.OpenKey(kHkeyLocalMachine, kKey, kKeySetValue), nullptr);
    EXPECT_EQ(source.OpenKey(kHkeyLocalMachine, kKey, kKeyAllAccess), nullptr);
}

TEST(PortMapRegistryTest, MapWithoutPortsShowsAnEmptyKeyAndAFailingMapAnUnreadableKey) {
    FakePortMap map;
    PortMapRegistry source(map);
    TRegistry registry(source, kKeyRead);
    registry.SetRootKey(kHkeyLocalMachine);
    ASSERT_TRUE(registry.KeyExists(kKey));
    EXPECT_EQ(map.scans, 0);  // asking whether the key exists scans nothing
    ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
    TRegKeyInfo info;
    ASSERT_TRUE(registry.GetKeyInfo(info));
    EXPECT_EQ(info.NumValues, 0u);
    EXPECT_EQ(map.scans, 1);

    map.fails = true;
    EXPECT_TRUE(registry.KeyExists(kKey));
    ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
    EXPECT_FALSE(registry.GetKeyInfo(info));
}

}  // namespace
}  // namespace platform
