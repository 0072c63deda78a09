#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/exceptions/Exception.h"
#include "platform/stringlist/StringList.h"

namespace platform {
namespace {

std::vector<std::string> Entries(const TStringList& list) {
    std::vector<std::string> entries;
    for (int i = 0; i < list.Count(); ++i) {
        entries.push_back(list[i]);
    }
    return entries;
}

TStringList SortedList(bool caseSensitive) {
    TStringList list;
    list.SetCaseSensitive(caseSensitive);
    list.SetSorted(true);
    return list;
}

struct OrderCase {
    const char* what;
    bool caseSensitive;
    std::vector<std::string> added;
    std::vector<std::string> expected;
};

TEST(StringListTest, SortedInsertionPutsEachTextAtItsPlace) {
    const std::vector<OrderCase> cases = {
        {"digits compare as characters",
         true,
         {"COM2", "COM10", "COM1"},
         {"COM1", "COM10", "COM2"}},
        {"marked entries among plain ones",
         true,
         {"COM5 : KELDRAN", "COM3", "COM3 : KELDRAN", "COM12"},
         {"COM12", "COM3", "COM3 : KELDRAN", "COM5 : KELDRAN"}},
        {"case-sensitive: capitals first", true, {"com1", "COM2"}, {"COM2", "com1"}},
        {"case-insensitive: letters alike", false, {"com2", "COM1"}, {"COM1", "com2"}},
        {"bytes above 127 after ASCII", true, {"\xC9T", "ZZ", "A"}, {"A", "ZZ", "\xC9T"}},
        {"empty text first", true, {"COM1", ""}, {"", "COM1"}},
    };
    for (const OrderCase& c : cases) {
        TStringList list = SortedList(c.caseSensitive);
        for (const std::string& text : c.added) {
            list.Add(text);
        }
        EXPECT_EQ(Entries(list), c.expected) << c.what;
    }
}

TEST(StringListTest, SortedAddReturnsTheIndexWhereTheTextWent) {
    TStringList list = SortedList(true);
    EXPECT_EQ(list.Add("COM2"), 0);
    EXPECT_EQ(list.Add("COM10"), 0);
    EXPECT_EQ(list.Add("COM3"), 2);
    EXPECT_EQ(list.Add("COM1"), 0);
}

TEST(StringListTest, EqualTextIsIgnoredByTheListsComparison) {
    TStringList sensitive = SortedList(true);
    sensitive.Add("COM1");
    sensitive.Add("COM3");
    EXPECT_EQ(sensitive.Add("COM3"), 1);
    EXPECT_EQ(sensitive.Add("com3"), 2);  // another text under a case-sensitive comparison
    EXPECT_EQ(Entries(sensitive), (std::vector<std::string>{"COM1", "COM3", "com3"}));

    TStringList insensitive = SortedList(false);
    insensitive.Add("COM3");
    EXPECT_EQ(insensitive.Add("com3"), 0);
    EXPECT_EQ(Entries(insensitive), (std::vector<std::string>{"COM3"}));

    TStringList accepting = SortedList(true);
    accepting.SetDuplicates(TDuplicates::dupAccept);
    accepting.Add("COM3");
    accepting.Add("COM3");
    EXPECT_EQ(accepting.Count(), 2);
}

TEST(StringListTest, UnsortedListKeepsInsertionOrderAndEveryText) {
    TStringList list;
    EXPECT_EQ(list.Add("\\Device\\Serial1"), 0);
    EXPECT_EQ(list.Add("\\Device\\Serial0"), 1);
    EXPECT_EQ(list.Add("\\Device\\Serial1"), 2);
    EXPECT_EQ(Entries(list), (std::vector<std::string>{"\\Device\\Serial1", "\\Device\\Serial0",
                                                       "\\Device\\Serial1"}));
}

TEST(StringListTest, SwitchingSortingOnSortsTheEntriesPresent) {
    TStringList list;
    list.SetCaseSensitive(true);
    list.Add("COM2");
    list.Add("com1");
    list.Add("COM10");
    list.SetSorted(true);
    EXPECT_EQ(Entries(list), (std::vector<std::string>{"COM10", "COM2", "com1"}));
    list.SetCaseSensitive(false);
    EXPECT_EQ(Entries(list), (std::vector<std::string>{"com1", "COM10", "COM2"}));
}

TEST(StringListTest, IndexOutsideTheListRaisesTheListError) {
    TStringList list;
    list.Add("COM1");
    list.Add("COM2");
    for (int index : {-1, 2, 1000}) {
        try {
            (void)list[index];
            ADD_FAILURE() << "no error for index " << index;
        } catch (const EStringListError& error) {
            EXPECT_EQ(error.Message(),
                      "Index de liste hors limites (" + std::to_string(index) + ")");
        }
    }
    EXPECT_EQ(list.Strings(1), "COM2");
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_THROW((void)list.Strings(0), EStringListError);
}

}  // namespace
}  // namespace platform
