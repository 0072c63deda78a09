#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "forms/PortSearch.h"
#include "platform/portmap/PortMap.h"
#include "platform/registry/MemoryRegistry.h"
#include "platform/registry/PortMapRegistry.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/TempDir.h"

namespace {

using platform::kRegDword;
using platform::kRegExpandSz;
using platform::kRegMultiSz;
using platform::kRegSz;
using platform::MemoryRegistry;
using platform::SnapshotValue;

const std::string kKey = "\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

// A text value as the registry stores it, with its ending NUL.
SnapshotValue Text(const std::string& name, const std::string& text,
                   platform::RegValueType type = kRegSz) {
    return {name, type, text + '\0'};
}

SnapshotValue Dword(const std::string& name) {
    return {name, kRegDword, std::string("\x01\0\0\0", 4)};
}

std::vector<std::string> Entries(const PortSearch& search) {
    std::vector<std::string> entries;
    for (int i = 0; i < search.PortList.Count(); ++i) {
        entries.push_back(search.PortList[i]);
    }
    return entries;
}

// Every search starts with exactly one existence test of the key.
int Searches(const MemoryRegistry& memory) {
    return static_cast<int>(
        std::ranges::count_if(memory.Openings(), [](const MemoryRegistry::Opening& opening) {
            return opening.access == platform::kKeyExistsRights;
        }));
}

struct NameCase {
    std::string text;
    int32_t number;
};

TEST(PortNumberFromNameTest, WorkedExamples) {
    const std::vector<NameCase> cases = {
        {"COM4 : KELDRAN", 4},
        {" com12 ", 12},
        {"COM10", 10},
        {"COM100", 100},
        {"COM90", 90},
        {"COMX1", 0},
        {"XYZ", 0},
        {"AB12", 12},
        {" com7 : KELDRAN ", 7},
        {"\tCOM3\r\n", 3},
        {"COM007", 7},
        {"COM0", 0},
        {"COM2147483647", 2147483647},
        {"COM2147483648", 0},
        {"COM12345678901", 0},
        {"COM 5", 0},
        {"XCOM5", 5},
        {"COM3COM4", 3},
        {"\xA0"
         "AB12",
         0},  // a byte above 127 is no blank
        // Nothing after "COM", or too short to hold a number without it: no port.
        {"COM", 0},
        {"  COM  ", 0},
        {"COM : KELDRAN", 0},
        {"", 0},
        {"AB", 0},
        {" \t ", 0},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(PortSearch::PortNumberFromName(c.text), c.number) << '"' << c.text << '"';
    }
}

class PortSearchTest : public ::testing::Test {
  protected:
    void SetValues(std::vector<SnapshotValue> values) {
        memory.AddKey(kKey).values = std::move(values);
    }

    MemoryRegistry memory;
    PortSearch search{memory};
};

TEST_F(PortSearchTest, WorkedExample) {
    SetValues({Text("\\Device\\Serial0", "COM1"), Text("\\Device\\Silabser0", "COM4"),
               Dword("\\Device\\Other0")});
    EXPECT_TRUE(search.PortChanged());
    EXPECT_EQ(Entries(search), (std::vector<std::string>{"COM1", "COM4 : KELDRAN"}));
    EXPECT_EQ(search.SelectedIndex, 1);
    EXPECT_EQ(search.PortNumber, 4);
    EXPECT_TRUE(search.HasPort());
    EXPECT_TRUE(search.IsMakerAdapter());
    EXPECT_EQ(search.GetPortNumber(), 4);
    EXPECT_FALSE(search.PortChanged());
    EXPECT_EQ(memory.OpenKeyCount(), 0) << "every search closes its key";
}

struct ResultCase {
    const char* what;
    std::function<void(MemoryRegistry&)> change;
    bool result;
    std::vector<std::string> entries;
    int32_t selectedIndex;
    int32_t portNumber;
};

// Each case follows a search that chose COM4 : KELDRAN at index 1.
TEST_F(PortSearchTest, ResultsByCase) {
    const std::vector<ResultCase> cases = {
        {"key absent", [](MemoryRegistry& m) { m.RemoveKey(kKey); }, true, {}, 1, 0},
        {"key unreadable",
         [](MemoryRegistry& m) { m.AddKey(kKey).infoReadable = false; },
         false,
         {},
         1,
         0},
        {"key without values",
         [](MemoryRegistry& m) { m.AddKey(kKey).values.clear(); },
         true,
         {},
         1,
         0},
        {"values",
         [](MemoryRegistry& m) {
             m.AddKey(kKey).values = {Text("a", "COM7"), Text("b", "COM2")};
         },
         true,
         {"COM2", "COM7"},
         0,
         2},
        {"only values of other types",
         [](MemoryRegistry& m) {
             m.AddKey(kKey).values = {Dword("a"), {"b", kRegMultiSz, std::string("COM1\0\0", 6)}};
         },
         true,
         {},
         1,
         0},
        {"only values gone since the enumeration",
         [](MemoryRegistry& m) {
             m.AddKey(kKey).values = {{"a", kRegSz, "COM1", false}};
         },
         true,
         {},
         1,
         0},
    };
    for (const ResultCase& c : cases) {
        MemoryRegistry memory;
        memory.AddKey(kKey).values = {Text("\\Device\\Serial0", "COM1"),
                                      Text("\\Device\\Silabser0", "COM4")};
        PortSearch search(memory);
        ASSERT_TRUE(search.SearchPorts());
        ASSERT_EQ(search.SelectedIndex, 1);
        c.change(memory);
        EXPECT_EQ(search.SearchPorts(), c.result) << c.what;
        EXPECT_EQ(Entries(search), c.entries) << c.what;
        EXPECT_EQ(search.SelectedIndex, c.selectedIndex) << c.what;
        EXPECT_EQ(search.PortNumber, c.portNumber) << c.what;
        EXPECT_EQ(memory.OpenKeyCount(), 0) << c.what;
    }
}

struct ChoiceCase {
    const char* what;
    std::vector<SnapshotValue> values;
    int32_t previousNumber;
    std::vector<std::string> entries;
    int32_t selectedIndex;
    int32_t portNumber;
    bool changed;
};

TEST_F(PortSearchTest, ChoiceOfThePort) {
    const SnapshotValue com1 = Text("\\Device\\Serial0", "COM1");
    const SnapshotValue com2 = Text("\\Device\\Serial1", "COM2");
    const SnapshotValue adapter5 = Text("\\Device\\Silabser0", "COM5");
    const SnapshotValue adapter3 = Text("\\Device\\Silabser1", "COM3");
    const std::vector<ChoiceCase> cases = {
        {"previous port still listed", {com1, com2}, 2, {"COM1", "COM2"}, 1, 2, false},
        {"first search", {com1, com2}, 0, {"COM1", "COM2"}, 0, 1, true},
        {"previous port gone", {com1, com2}, 7, {"COM1", "COM2"}, 0, 1, true},
        {"last entry with the previous number",
         {com2, Text("x", "COM02")},
         2,
         {"COM02", "COM2"},
         1,
         2,
         false},
        {"two adapters",
         {adapter5, adapter3, com1},
         0,
         {"COM1", "COM3 : KELDRAN", "COM5 : KELDRAN"},
         1,
         3,
         true},
        {"first marked entry ends the scan",
         {adapter5, adapter3},
         5,
         {"COM3 : KELDRAN", "COM5 : KELDRAN"},
         0,
         3,
         true},
        {"marked entry wins over the previous port",
         {com1, adapter5},
         1,
         {"COM1", "COM5 : KELDRAN"},
         1,
         5,
         true},
        {"equal data give one entry",
         {Text("a", "COM3"), Text("b", "COM3")},
         0,
         {"COM3"},
         0,
         3,
         true},
        {"character order",
         {Text("a", "COM2"), Text("b", "COM10"), Text("c", "COM1")},
         10,
         {"COM1", "COM10", "COM2"},
         1,
         10,
         false},
        {"expandable text taken unexpanded, multi-text skipped",
         {Text("a", "COM%N%", kRegExpandSz), Text("b", "COM6", kRegExpandSz),
          Text("c", "COM8", kRegMultiSz)},
         6,
         {"COM%N%", "COM6"},
         1,
         6,
         false},
        {"driver word is case-sensitive",
         {Text("\\Device\\silabser0", "COM4"), com1},
         0,
         {"COM1", "COM4"},
         0,
         1,
         true},
        {"maker word in the data marks it",
         {com1, Text("\\Device\\Serial9", "COM9 KELDRAN")},
         0,
         {"COM1", "COM9 KELDRAN"},
         1,
         9,
         true},
        {"value gone since the enumeration",
         {{"\\Device\\Serial0", kRegSz, "COM1", false}, com2},
         1,
         {"COM2"},
         0,
         2,
         true},
        {"entries without a number",
         {Text("a", "COM"), Text("b", "COM3")},
         3,
         {"COM", "COM3"},
         1,
         3,
         false},
        {"empty entry matches no previous port",
         {Text("a", ""), com2},
         0,
         {"", "COM2"},
         0,
         0,
         false},
    };
    for (const ChoiceCase& c : cases) {
        MemoryRegistry memory;
        memory.AddKey(kKey).values = c.values;
        PortSearch search(memory);
        search.PortNumber = c.previousNumber;
        EXPECT_EQ(search.PortChanged(), c.changed) << c.what;
        EXPECT_EQ(Entries(search), c.entries) << c.what;
        EXPECT_EQ(search.SelectedIndex, c.selectedIndex) << c.what;
        EXPECT_EQ(search.PortNumber, c.portNumber) << c.what;
    }
}

TEST_F(PortSearchTest, LastPortVanishing) {
    const std::vector<std::function<void(MemoryRegistry&)>> vanishings = {
        [](MemoryRegistry& m) { m.AddKey(kKey).values.clear(); },
        [](MemoryRegistry& m) { m.RemoveKey(kKey); },
    };
    for (const auto& vanish : vanishings) {
        MemoryRegistry memory;
        memory.AddKey(kKey).values = {Text("\\Device\\Serial0", "COM1")};
        PortSearch search(memory);
        ASSERT_TRUE(search.PortChanged());
        ASSERT_TRUE(search.HasPort());
        vanish(memory);
        EXPECT_TRUE(search.PortChanged());
        EXPECT_FALSE(search.HasPort());
        EXPECT_FALSE(search.IsMakerAdapter());
    }
}

TEST_F(PortSearchTest, FailedSearchIsReportedByPortChanged) {
    SetValues({Text("\\Device\\Serial0", "COM1")});
    ASSERT_TRUE(search.PortChanged());
    memory.AddKey(kKey).infoReadable = false;
    EXPECT_FALSE(search.PortChanged()) << "even though the number went from 1 to 0";
    EXPECT_EQ(search.PortNumber, 0);
}

TEST_F(PortSearchTest, QueriesSearchOnlyWhileNoPortIsHeld) {
    EXPECT_FALSE(search.HasPort());
    EXPECT_EQ(Searches(memory), 0);
    EXPECT_FALSE(search.IsMakerAdapter());  // no key: a search that finds nothing
    EXPECT_EQ(Searches(memory), 1);
    EXPECT_EQ(search.GetPortNumber(), 0);
    EXPECT_EQ(Searches(memory), 2);

    SetValues({Text("\\Device\\Silabser0", "COM4")});
    EXPECT_EQ(search.GetPortNumber(), 4);
    EXPECT_EQ(Searches(memory), 3);
    SetValues({Text("\\Device\\Serial0", "COM1")});
    EXPECT_EQ(search.GetPortNumber(), 4);
    EXPECT_TRUE(search.IsMakerAdapter());
    EXPECT_TRUE(search.HasPort());
    EXPECT_EQ(Searches(memory), 3) << "a held port is answered without searching";
}

TEST_F(PortSearchTest, HundredsOfPortsAndOddNamesNeverCrash) {
    const std::vector<std::string> oddData = {"",
                                              "COM",
                                              " ",
                                              "COM99999999999",
                                              "com",
                                              "\x01\x02",
                                              "KELDRAN",
                                              "COM-1",
                                              "\xFF\xFE",
                                              "X",
                                              "COM4294967297",
                                              "COM 7",
                                              std::string("CO\0M3", 5)};
    std::mt19937 random(20261211);
    std::vector<SnapshotValue> values;
    for (int i = 0; i < 600; ++i) {
        const std::string name =
            (random() % 5 == 0 ? "\\Device\\Silabser" : "\\Device\\Serial") + std::to_string(i);
        const std::string data = random() % 3 == 0 ? oddData[random() % oddData.size()]
                                                   : "COM" + std::to_string(random() % 400);
        switch (random() % 6) {
            case 0:
                values.push_back(Dword(name));
                break;
            case 1:
                values.push_back({name, kRegSz, data, false});
                break;
            default:
                values.push_back(Text(name, data, random() % 2 ? kRegSz : kRegExpandSz));
        }
    }
    for (int round = 0; round < 3; ++round) {
        SetValues(values);
        ASSERT_TRUE(search.SearchPorts());
        const std::vector<std::string> entries = Entries(search);
        ASSERT_FALSE(entries.empty());
        EXPECT_TRUE(std::ranges::adjacent_find(entries, std::ranges::greater_equal{}) ==
                    entries.end())
            << "ascending, without duplicates";
        ASSERT_GE(search.SelectedIndex, 0);
        ASSERT_LT(search.SelectedIndex, search.PortList.Count());
        EXPECT_EQ(search.PortNumber,
                  PortSearch::PortNumberFromName(search.PortList[search.SelectedIndex]));
        const auto firstMarked = std::ranges::find_if(
            entries, [](const std::string& e) { return e.find("KELDRAN") != std::string::npos; });
        if (firstMarked != entries.end()) {
            EXPECT_EQ(search.SelectedIndex, firstMarked - entries.begin());
        }
        values.resize(values.size() / 3);
    }
}

// The machine's port map on a made-up sysfs tree: a real UART and the maker's adapter, which is
// then unplugged.
TEST(PortSearchOnPortMapTest, MakersAdapterFoundInSysfsAndUnplugged) {
    namespace fs = std::filesystem;
    const test_support::TempDir tempDir("portsearch");
    const fs::path root = tempDir.Path();
    const fs::path sys = root / "sys";
    const fs::path dev = root / "dev";
    test_support::AddFakeTty(sys, dev, {"ttyS0", "serial8250", "4", ""});
    test_support::AddFakeTty(sys, dev, {"ttyUSB0", "cp210x", "4", ""});

    platform::PosixPortMap map(sys, root / "map", dev);
    platform::PortMapRegistry registry(map);
    PortSearch search(registry);
    EXPECT_TRUE(search.PortChanged());
    EXPECT_EQ(Entries(search), (std::vector<std::string>{"COM1", "COM101 : KELDRAN"}));
    EXPECT_EQ(search.PortNumber, 101);
    EXPECT_TRUE(search.IsMakerAdapter());

    fs::remove_all(sys / "class" / "tty" / "ttyUSB0");
    EXPECT_TRUE(search.PortChanged());
    EXPECT_EQ(Entries(search), (std::vector<std::string>{"COM1"}));
    EXPECT_EQ(search.PortNumber, 1);
    EXPECT_FALSE(search.IsMakerAdapter());
}

}  // namespace
