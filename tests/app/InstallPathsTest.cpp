// The texts derived from item names: the top folder and the launch command line.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/InstallPaths.h"
#include "tests/support/RecordingPlatform.h"

namespace {

TEST(InstallPathsTest, IsTheTextBeforeTheFirstBackslashElseTheFirstSlash) {
    struct Case {
        uint32_t codePage;
        std::string name;
        std::string top;
    };
    const Case cases[] = {
        {1252, "disk1/a.txt", "disk1"},
        {1252, "a/b\\x.txt", "a/b"},
        {1252, "a\\b/x.txt", "a"},
        {1252, "readme.txt", ""},
        {1252, "/x.txt", ""},
        {1252, "\\x.txt", ""},
        {1252, "", ""},
        {1252, "disk1 \t\n\r\v\f/x.txt", "disk1"},
        {1252, " disk1/x.txt", " disk1"},
        // 0x81 0x5C and 0x81 0x2F are single characters in code page 936.
        {936, "ab\x81\\c/x.txt", "ab\x81\\c"},
        {936, "ab\x81/c\\x.txt", "ab\x81/c"},
        {936, "ab\x81\\", ""},
        // In a single-byte code page the same bytes are plain separators.
        {1252, "ab\x81\\c/x.txt", "ab\x81"},
    };
    fw::test::RecordingPlatform platform;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.script.codePage = c.codePage;
        EXPECT_EQ(TopFolderOf(c.name), c.top);
    }
}

TEST(InstallPathsTest, QuotesWhatTheInterpreterWouldSplitAndRefusesWhatItWouldExpand) {
    struct Case {
        uint32_t codePage;
        std::string top;
        std::optional<std::string> command;
    };
    const std::string p = "C:/Temp/_Download/_UnZip/";
    std::vector<Case> cases = {
        {1252, "", p + "SETUP.exe"},
        {1252, "disk1", p + "disk1/SETUP.exe"},
        {1252, "a/b", p + "a/b/SETUP.exe"},
        {1252, "my disk", "\"\"" + p + "my disk/SETUP.exe\"\""},
        {1252, "50%", std::nullopt},
        {1252, "%PATH%", std::nullopt},
        {1252, "a\"b", std::nullopt},
        {1252, "a\tb", std::nullopt},
        {1252, "a\nb", std::nullopt},
        // The program must lie below the unpack folder.
        {1252, "..", std::nullopt},
        {1252, "a/../..", std::nullopt},
        {1252, "a/.. ", std::nullopt},
        {1252, "...", std::nullopt},
        {1252, ".", p + "./SETUP.exe"},
        {1252, "..a", p + "..a/SETUP.exe"},
        // A trail byte equal to '|' or '^' is part of a character, not an operator.
        {936, "\x81|\x81^", p + "\x81|\x81^/SETUP.exe"},
        {1252, "\x81|", "\"\"" + p + "\x81|/SETUP.exe\"\""},
    };
    for (const char special : std::string("&|<>^()!,;=")) {
        const std::string top = std::string("a") + special + "b";
        cases.push_back({1252, top, "\"\"" + p + top + "/SETUP.exe\"\""});
    }
    fw::test::RecordingPlatform platform;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.top);
        platform.script.codePage = c.codePage;
        EXPECT_EQ(LaunchCommandFor(c.top), c.command);
    }
}

}  // namespace
