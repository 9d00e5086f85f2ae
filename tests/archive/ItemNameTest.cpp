// The clean-up of stored names, including double-byte code pages and parent steps.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "archive/detail/ItemName.h"
#include "tests/archive/ArchiveFixture.h"

namespace fw::test {
namespace {

std::string cleaned(std::string_view stored) {
    char out[kArchiveNameSize];
    EXPECT_TRUE(archive::cleanItemName(stored, out, sizeof out));
    return out;
}

using ItemNameTest = ArchiveFixture;

TEST_F(ItemNameTest, CleanUpTable) {
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

TEST_F(ItemNameTest, DoubleByteTrailBytesAreNoSeparators) {
#ifdef _WIN32
    GTEST_SKIP() << "the ANSI code page is the system's on Windows: no locale makes it 936 here";
#endif
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

TEST_F(ItemNameTest, ResultThatDoesNotFitIsRefused) {
    char small[4];
    EXPECT_TRUE(archive::cleanItemName("/abc", small, sizeof small));
    EXPECT_STREQ(small, "abc");
    EXPECT_FALSE(archive::cleanItemName("abcd", small, sizeof small));
    EXPECT_STREQ(small, "");
}

TEST_F(ItemNameTest, DescriptionsCarryCleanedNames) {
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

// A name flagged as UTF-8 is converted to the ANSI code page before the clean-up, so it
// names the same file as the same name stored in the code page: the item stored second
// replaces the first. A name the code page cannot express, or no UTF-8 at all, is
// refused; nothing stands in for what is missing. On Windows the rows of the prefix's
// code page run.
TEST_F(ItemNameTest, Utf8NamesAreConvertedToTheCodePage) {
    constexpr uint16_t kUtf8 = 0x800;
    struct Case {
        const char* locale;
        uint32_t codePage;
        std::string utf8;
        const char* ansi;  // the name stored in the code page; null: refused
    };
    const Case cases[] = {
        {kWesternEurope, 1252, "caf\u00e9/na\u00efve.txt", "caf\xE9/na\xEFve.txt"},
        {kWesternEurope, 1252, "\u20acuro.txt", "\x80uro.txt"},
        {kWesternEurope, 1252, "../\u00e9t\u00e9.txt", "\xE9t\xE9.txt"},
        {kWesternEurope, 1252, "\u8bf4\u660e.txt", nullptr},
        {kWesternEurope, 1252, "\u0080.txt", nullptr},   // 0x80 is the euro sign's byte
        {kWesternEurope, 1252, "bad\xFF.txt", nullptr},  // no UTF-8
        {kChinese, 936, "\u8bf4\u660e.txt", "\xCB\xB5\xC3\xF7.txt"},
        // 0x81 0x5C: the trail byte is no separator to the clean-up.
        {kChinese, 936, "\u4e57..\\x.txt", "\x81\x5C..\\x.txt"},
        {kChinese, 936, "\ud55c.txt", nullptr},
        {kChinese, 936, "\U0001F600.txt", nullptr},
        {kChinese, 936, "\uf781.txt", nullptr},  // the backend's own stand-in for 0x81
        {kJapanese, 932, "\u30bd.txt", "\x83\x5C.txt"},
        {kJapanese, 932, "\uff71.txt", "\xB1.txt"},
        {kJapanese, 932, "\u8bf4.txt", nullptr},
        // A best fit: 0x81 0x60 is the full-width tilde, not the wave dash.
        {kJapanese, 932, "\u301c.txt", nullptr},
    };
    int ran = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        ScopedLocale locale(c.locale);
        if (os().ansiCodePage() != c.codePage) {
            continue;  // Windows: not the prefix's code page
        }
        ++ran;
        ArchiveHandle h = openRaw({{.name = c.utf8, .content = "utf8", .flags = kUtf8},
                                   {.name = c.ansi ? c.ansi : "other", .content = "ansi"}});
        ASSERT_NE(h, nullptr);
        ArchiveItem utf8;
        ArchiveItem ansi;
        ASSERT_EQ(GetArchiveItem(h, 1, ansi), AR_OK);
        const std::string out = "C:/u" + std::to_string(ran) + "/";
        if (!c.ansi) {
            EXPECT_EQ(GetArchiveItem(h, 0, utf8), AR_NAME_NOT_IN_CODE_PAGE);
            EXPECT_EQ(ExtractArchiveItem(h, 0, (out + "x").c_str()), AR_NAME_NOT_IN_CODE_PAGE);
            EXPECT_FALSE(exists(out));
            continue;
        }
        ASSERT_EQ(GetArchiveItem(h, 0, utf8), AR_OK);
        EXPECT_STREQ(utf8.name, ansi.name);
        EXPECT_EQ(ExtractArchiveItem(h, 0, (out + utf8.name).c_str()), AR_OK);
        EXPECT_EQ(ExtractArchiveItem(h, 1, (out + ansi.name).c_str()), AR_OK);
        EXPECT_EQ(readThroughPlatform(out + ansi.name), "ansi");
        int files = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(prefix.host(out))) {
            files += e.is_regular_file() ? 1 : 0;
        }
        EXPECT_EQ(files, 1);
    }
    EXPECT_GT(ran, 0);
    expectTheCodePageAskedFor();
}

}  // namespace
}  // namespace fw::test
