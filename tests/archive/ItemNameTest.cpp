// The clean-up of stored names, including double-byte code pages and parent steps.
#include <gtest/gtest.h>

#include <string>

#include "archive/ItemName.h"
#include "tests/archive/ArchiveFixture.h"

namespace fw::test {
namespace {

std::string cleaned(std::string_view stored) {
    char out[kArchiveNameSize];
    EXPECT_TRUE(archive::cleanItemName(stored, out, sizeof out));
    return out;
}

TEST(ItemName, CleanUpTable) {
    ScopedLocale westernEurope(kWesternEurope);
    ASSERT_EQ(os().ansiCodePage(), 1252u);
    const std::pair<std::string, std::string> table[] = {
        {"C:\\dir\\file.txt", "dir\\file.txt"},
        {"/abs/x", "abs/x"},
        {"\\\\server\\share\\f", "server\\share\\f"},
        {"a/b/../c/d.txt", "c/d.txt"},
        {"x/..\\y", "y"},
        {"C:/../../z", "z"},
        {"../../x", "x"},
        {"a:b/y", "b/y"},
        {"dir/a..b/y", "dir/a..b/y"},
        {"disk1/SETUP.EXE", "disk1/SETUP.EXE"},
        {"", ""},
        {"C", "C"},
        // A parent step at the start never survives.
        {"../x", "x"},
        {"..\\x", "x"},
        {"/..", ""},
        {"..", ""},
        {"../..", ""},
        {"..\\../..\\x", "x"},
        {"C:..\\x", "x"},
        {"...", "..."},
        {"..x/y", "..x/y"},
    };
    for (const auto& [stored, expected] : table) {
        EXPECT_EQ(cleaned(stored), expected) << "stored: " << stored;
    }
}

TEST(ItemName, DoubleByteTrailBytesAreNoSeparators) {
    // 0x81 0x5C is one character in code page 936; its 0x5C is no backslash.
    const std::string lead = "\x81\x5C";
    {
        ScopedLocale chinese(kChinese);
        ASSERT_EQ(os().ansiCodePage(), 936u);
        EXPECT_EQ(cleaned(lead + "..\\x"), lead + "..\\x");
        EXPECT_EQ(cleaned("a" + lead + "..\\x"), "a" + lead + "..\\x");
        EXPECT_EQ(cleaned(lead + "/../x"), "x");
    }
    {
        // In a single-byte code page the same bytes hold "\..\".
        ScopedLocale westernEurope(kWesternEurope);
        ASSERT_EQ(os().ansiCodePage(), 1252u);
        EXPECT_EQ(cleaned(lead + "..\\x"), "x");
    }
}

TEST(ItemName, ResultThatDoesNotFitIsRefused) {
    char small[4];
    EXPECT_TRUE(archive::cleanItemName("/abc", small, sizeof small));
    EXPECT_STREQ(small, "abc");
    EXPECT_FALSE(archive::cleanItemName("abcd", small, sizeof small));
    EXPECT_STREQ(small, "");
}

using ItemNameArchiveTest = ArchiveFixture;

TEST_F(ItemNameArchiveTest, DescriptionsCarryCleanedNames) {
    ArchiveHandle h = openZip({{.name = "C:\\dir\\f.txt", .data = "1"},
                               {.name = "../../escape.txt", .data = "2"},
                               {.name = "/..", .data = ""}});
    ASSERT_NE(h, nullptr);
    const char* expected[] = {"dir\\f.txt", "escape.txt", ""};
    for (int i = 0; i < 3; ++i) {
        ArchiveItem item;
        ASSERT_EQ(GetArchiveItem(h, i, item), AR_OK);
        EXPECT_STREQ(item.name, expected[i]);
    }
}

}  // namespace
}  // namespace fw::test
