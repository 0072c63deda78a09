#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/strings/Strings.h"

namespace {

using platform::Copy;
using platform::Format;
using platform::Pos;
using platform::StrToIntDef;
using platform::Trim;
using platform::UpperCase;

// A default no accepted text below yields, so a wrong fallback cannot pass for a parse.
constexpr int32_t kDefault = -77;

TEST(StrToIntDef, AcceptsTheFrameworkFormsAndRejectsTheRest) {
    struct Case {
        std::string text;
        int32_t expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"1", 1},
        {"01", 1},
        {"+1", 1},
        {"-1", -1},
        {"-0", 0},
        {"0000000000000000000042", 42},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", kDefault},
        {"-2147483649", kDefault},
        {"99999999999999999999", kDefault},
        {"$1", 1},
        {"x1f", 31},
        {"X1F", 31},
        {"0x1", 1},
        {"0XaB", 171},
        {"$7FFFFFFF", INT_MAX},
        {"0x80000000", kDefault},
        {"$FFFFFFFF", kDefault},
        {"-0x1", kDefault},
        {"+$1", kDefault},
        {"0x", kDefault},
        {"$", kDefault},
        {"+", kDefault},
        {"-", kDefault},
        {"", kDefault},
        {" 1", kDefault},
        {"1 ", kDefault},
        {"1a", kDefault},
        {"0x1g", kDefault},
        {"00x1", kDefault},
        {"1.0", kDefault},
        {"--1", kDefault},
        {std::string("1\0", 2), kDefault},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StrToIntDef(c.text, kDefault), c.expected) << "text \"" << c.text << "\"";
    }
}

TEST(Trim, RemovesBytesUpToBlankAtBothEndsOnly) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"   ", ""},
        {"a", "a"},
        {" \t\r\n a b \n\r", "a b"},
        {std::string("\0\x01x\x1f\x20", 5), "x"},
        // 0x21 and bytes above 0x7F (UTF-8 sequences) are not blanks.
        {"!x!", "!x!"},
        {"\xc3\xa9 ", "\xc3\xa9"},
        {"\x7f", "\x7f"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Trim(c.text), c.expected) << "text \"" << c.text << "\"";
    }
}

TEST(UpperCase, UpperCasesAsciiLettersOnly) {
    EXPECT_EQ(UpperCase("com1 Silabser-z{@`"), "COM1 SILABSER-Z{@`");
    EXPECT_EQ(UpperCase("\xc3\xa9"), "\xc3\xa9");
}

TEST(Pos, FindsTheFirstOccurrenceOneBased) {
    EXPECT_EQ(Pos("Langue", "Langue=1;"), 1);
    EXPECT_EQ(Pos("=", "a=b=c"), 2);
    EXPECT_EQ(Pos("Langue", "langue=1;"), 0);
    EXPECT_EQ(Pos("", "abc"), 0);
    EXPECT_EQ(Pos("abcd", "abc"), 0);
}

TEST(Copy, ClampsIndexAndCount) {
    struct Case {
        int index;
        int count;
        std::string expected;
    };
    const Case cases[] = {
        {1, 3, "abc"},   {2, 2, "bc"}, {0, 2, "ab"}, {-5, 1, "a"},
        {3, 99, "cdef"}, {7, 1, ""},   {2, 0, ""},   {2, -3, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Copy("abcdef", c.index, c.count), c.expected)
            << "index " << c.index << " count " << c.count;
    }
}

TEST(Format, FormatsWithoutTruncation) {
    EXPECT_EQ(Format("%s=%i%s\n\r", "Langue", 1, ";"), "Langue=1;\n\r");
    const std::string longText(5000, 'q');
    EXPECT_EQ(Format("<%s>%d", longText.c_str(), -12), "<" + longText + ">-12");
    EXPECT_EQ(Format("%s", ""), "");
}

}  // namespace
