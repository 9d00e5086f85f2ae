// The ANSI code page from the locale, and names converted at the file-system boundary.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <string>

#include "platform/Platform.h"
#include "platform/posix/CodePage.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw {
namespace {

TEST(CodePageTest, ChosenFromTheFirstSetLocaleVariable) {
    struct Case {
        const char* lcAll;
        const char* lcCtype;
        const char* lang;
        uint32_t expected;
    };
    const Case cases[] = {
        {"", "", "zh_CN.UTF-8", 936},
        {"", "", "zh_SG", 936},
        {"", "", "zh_TW.UTF-8", 950},
        {"", "", "zh_HK.Big5-HKSCS", 950},
        {"", "", "ja_JP.UTF-8", 932},
        {"", "", "ko_KR.EUC-KR", 949},
        {"", "", "ru_RU.UTF-8", 1251},
        {"", "", "uk_UA", 1251},
        {"", "", "bg_BG.UTF-8", 1251},
        {"", "", "kk_KZ", 1251},
        {"", "", "sr_RS", 1251},
        {"", "", "sr_RS@latin", 1252},
        {"", "", "de_DE.UTF-8", 1252},
        {"", "", "en_US", 1252},
        {"", "", "C", 1252},
        {"", "", "POSIX", 1252},
        {"", "", "", 1252},
        {"ja_JP", "ru_RU", "zh_CN", 932},
        {"", "ru_RU", "zh_CN", 1251},
        {"", "", "zh_TW", 950},
        {"C", "ja_JP", "", 1252},
    };
    for (const Case& c : cases) {
        test::ScopedLocale locale(c.lcAll, c.lcCtype, c.lang);
        EXPECT_EQ(os().ansiCodePage(), c.expected)
            << c.lcAll << " / " << c.lcCtype << " / " << c.lang;
    }
}

TEST(CodePageTest, AnsiAndUtf8RoundTrip) {
    struct Case {
        uint32_t codePage;
        std::string ansi;
        std::string utf8;
    };
    const Case cases[] = {
        {936, "\xB0\xB2\xD7\xB0", "安装"},
        {932, "\x83\x5C", "ソ"},
        {932, "a\\\xB1", "a\\ｱ"},
        {949, "\xC7\xD1", "한"},
        {950, "\xA4\xA4", "中"},
        {1251, "\xC4\xE0", "Да"},
        {1252, "\x80\xE9", "€é"},
        // Bytes the code page does not define come back as themselves.
        {1252, "\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        {936, "a\x81", "a\xEF\x9E\x81"},
        {936, "\x81 b", "\xEF\x9E\x81 b"},
        {932, "\xA0", "\xEF\x9E\xA0"},
        {1252, "plain", "plain"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(posix::ansiToUtf8(c.ansi, c.codePage), c.utf8) << c.codePage << " " << c.utf8;
        std::string back;
        EXPECT_TRUE(posix::utf8ToAnsi(c.utf8, c.codePage, back)) << c.utf8;
        EXPECT_EQ(back, c.ansi) << c.codePage << " " << c.utf8;
    }
}

TEST(CodePageTest, Utf8ThatDoesNotFit) {
    struct Case {
        uint32_t codePage;
        std::string utf8;
        bool converts;
        std::string ansi;
    };
    const Case cases[] = {
        {1252, "安装.txt", true, "??.txt"}, {1251, "Ωé", true, "??"},      {936, "😀", true, "?"},
        {1252, "bad\xFF", false, ""},       {1252, "\xC0\xAF", false, ""},  // overlong '/'
        {936, "\xED\xA0\x80", false, ""},                                   // a surrogate
        {1252, "\xE5\xAE", false, ""},                                      // cut short
    };
    for (const Case& c : cases) {
        std::string ansi;
        EXPECT_EQ(posix::utf8ToAnsi(c.utf8, c.codePage, ansi), c.converts) << c.utf8;
        if (c.converts) {
            EXPECT_EQ(ansi, c.ansi) << c.utf8;
        }
    }
    EXPECT_EQ(posix::utf16Length("abc"), 3u);
    EXPECT_EQ(posix::utf16Length("安装"), 2u);
    EXPECT_EQ(posix::utf16Length("😀"), 2u);
    EXPECT_EQ(posix::utf16Length("a\xFF"), 2u);
}

TEST(CodePageTest, NamesCrossTheBoundaryInTheCodePage) {
    test::TempPrefix prefix;
    struct Case {
        const char* locale;
        std::string ansiName;
        std::string hostName;
    };
    const Case cases[] = {
        {"zh_CN.UTF-8", "\xB0\xB2\xD7\xB0", "安装"},
        // The trail byte 0x5C must not split the name into two folders.
        {"ja_JP.UTF-8", "\x83\x5C", "ソ"},
        {"ru_RU.UTF-8", "\xCF\xE0\xEF\xEA\xE0", "Папка"},
    };
    for (const Case& c : cases) {
        test::ScopedLocale locale(c.locale);
        const std::string folder = "C:\\" + c.ansiName;
        ASSERT_TRUE(os().createDirectory(folder.c_str())) << c.hostName;
        struct stat info {};
        EXPECT_EQ(stat((prefix.root() + "/drive_c/" + c.hostName).c_str(), &info), 0);
        const FileHandle file = os().createFile((folder + "\\" + c.ansiName).c_str(), 0, false);
        ASSERT_NE(file, kInvalidFile);
        os().closeFile(file);

        std::set<std::string> names;
        FindEntry entry;
        const FindHandle find = os().findFirst((folder + "\\*").c_str(), entry);
        ASSERT_NE(find, kInvalidFind);
        do {
            names.insert(entry.name);
        } while (os().findNext(find, entry) == FindStep::entry);
        os().findClose(find);
        EXPECT_EQ(names, (std::set<std::string>{".", "..", c.ansiName})) << c.hostName;
    }
}

TEST(CodePageTest, ListedNamesOutsideTheCodePage) {
    test::TempPrefix prefix;
    test::ScopedLocale locale("en_US.UTF-8");
    ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Names\\Ωmega"), ""));
    FindEntry entry;
    const FindHandle find = os().findFirst("C:\\Names\\*mega", entry);
    ASSERT_NE(find, kInvalidFind);
    EXPECT_EQ(entry.name, "?mega");
    EXPECT_EQ(os().findNext(find, entry), FindStep::end);
    os().findClose(find);
}

}  // namespace
}  // namespace fw
