// The texts derived from item names and from the command line: the top folder, the
// launch command line with its arguments, and where a path lies.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/InstallPaths.h"
#include "platform/Platform.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TempPrefix.h"
#ifndef _WIN32
#include "tests/support/ScopedEnv.h"
#endif

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
        std::vector<std::string> arguments = {};
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
        // Arguments follow the program; "/c" takes off an outer pair only where there is one.
        {1252, "disk1", p + "disk1/SETUP.exe /quiet /norestart", {"/quiet", "/norestart"}},
        {1252, "", p + "SETUP.exe ^\"a b^\" x^&y", {"a b", "x&y"}},
        {1252, "my disk", "\"\"" + p + "my disk/SETUP.exe\" ^\"a b^\" x\"", {"a b", "x"}},
        {1252, "disk1", std::nullopt, {"ok", "50%"}},
        {1252, "disk1", std::nullopt, {"a\nb"}},
        {1252,
         "disk1",
         p + "disk1/SETUP.exe " + std::string(kSetupArgumentsLimit - 1, 'x'),
         {std::string(kSetupArgumentsLimit - 1, 'x')}},
        {1252, "disk1", std::nullopt, {std::string(kSetupArgumentsLimit, 'x')}},
    };
    for (const char special : std::string("&|<>^()!,;=")) {
        const std::string top = std::string("a") + special + "b";
        cases.push_back({1252, top, "\"\"" + p + top + "/SETUP.exe\"\""});
    }
    fw::test::RecordingPlatform platform;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.top);
        platform.script.codePage = c.codePage;
        EXPECT_EQ(LaunchCommandFor(c.top, c.arguments), c.command);
    }
}

// Each argument as the interpreter's "/c" is to see it (what reaches the program is
// checked below): quoted only where it must be, as an installer reading its own command
// line may look for "/quiet" as it is; per character; refused when nothing passes it.
TEST(InstallPathsTest, EscapesArgumentsForTheInterpreterAndRefusesWhatItWouldChange) {
    struct Case {
        uint32_t codePage;
        std::string argument;
        std::optional<std::string> passed;
    };
    const Case cases[] = {
        {1252, "/quiet", "/quiet"},
        {1252, "a\\b&c", "a\\b^&c"},
        {1252, "", "^\"^\""},
        // A trail byte equal to '|', '^' or '\\' is part of its character in code page 936.
        {936, "\x81|\x81^ \x9C\x5C", "^\"\x81|\x81^ \x9C\x5C^\""},
        {1252, "\x81|\x81^ \x9C\x5C", "^\"\x81^|\x81^^ \x9C\x5C\\^\""},
        {1252, "50%", std::nullopt},
        {1252, "%PATH%", std::nullopt},
        {1252, "a\tb", std::nullopt},
        {1252, "line\r\n", std::nullopt},
    };
    fw::test::RecordingPlatform platform;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argument);
        platform.script.codePage = c.codePage;
        EXPECT_EQ(ArgumentForCommandLine(c.argument), c.passed);
        EXPECT_EQ(WhyArgumentCannotBePassed(c.argument).empty(), c.passed.has_value());
    }
}

TEST(InstallPathsTest, TellsAPathInAFolderHoweverItIsSpelled) {
    const std::string unzip = "C:\\Temp\\_Download\\_UnZip";
    const std::string product = "C:\\Product_Released\\Pellmoor";
    struct Case {
        std::string path;
        std::string folder;
        std::string currentDirectory;
        bool within;
    };
    const Case cases[] = {
        {"C:\\Temp\\_Download\\_UnZip\\x.log", unzip, "Z:\\home", true},
        {"c:/temp/_download/_unzip", unzip, "Z:\\home", true},
        {"C:\\Temp\\_Download\\_UnZip.\\x.log", unzip, "Z:\\home", true},
        {"C:\\Temp\\_Download\\_UnZip \\x.log", unzip, "Z:\\home", true},
        {"C:\\Temp\\_Download\\x\\..\\.\\_UnZip\\y", unzip, "Z:\\home", true},
        {"C:\\..\\..\\Temp\\_Download\\_UnZip\\x", unzip, "Z:\\home", true},
        {"\\\\?\\C:\\Temp\\_Download\\_UnZip\\x", unzip, "Z:\\home", true},
        {"C:\\Temp\\_Download\\Ferrowick.log", unzip, "Z:\\home", false},
        {"C:\\Temp\\_Download\\_UnZipped\\x", unzip, "Z:\\home", false},
        {"D:\\Temp\\_Download\\_UnZip\\x", unzip, "Z:\\home", false},
        {"\\\\server\\C$\\Temp\\_Download\\_UnZip\\x", unzip, "C:\\", false},
        // Without a drive or root: from the current folder, or that drive's root.
        {"x.log", unzip, "C:\\Temp\\_Download\\_UnZip\\disk1", true},
        {"..\\..\\x.log", unzip, "C:\\Temp\\_Download\\_UnZip\\disk1", false},
        {"C:x.log", unzip, "c:\\temp\\_download\\_unzip", true},
        {"C:x.log", unzip, "D:\\Temp\\_Download\\_UnZip", false},
        {"\\Temp\\_Download\\_UnZip\\x", unzip, "C:\\Users", true},
        {"\\Temp\\_Download\\_UnZip\\x", unzip, "D:\\Work", false},
        {"x.log", unzip, "", false},
        {"C:\\Product_Released\\Pellmoor\\sub\\a.log", product, "Z:\\home", true},
        {"C:\\Product_Released\\a.log", product, "Z:\\home", false},
    };
    fw::test::RecordingPlatform platform;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " in " + c.folder + " from " + c.currentDirectory);
        EXPECT_EQ(LiesWithin(c.path, c.folder, c.currentDirectory), c.within);
    }
}

#ifndef _WIN32
// Through the POSIX backend's interpreter, which reads a line as "/c" does: every argument
// reaches the program as it was given.
TEST(InstallPathsTest, ArgumentsReachTheProgramThroughTheInterpreterAsGiven) {
    fw::test::TempPrefix prefix;
    for (const char* top : {"disk1", "my (disk) & more"}) {
        const std::string setup =
            prefix.host(std::string("C:\\Temp\\_Download\\_UnZip\\") + top + "\\SETUP.exe");
        ASSERT_TRUE(fw::test::writeHostFile(
            setup, "#!/bin/sh\nprintf '[%s]\\n' \"$@\" > \"$(dirname \"$0\")/args.txt\"\n"));
    }
    struct Case {
        const char* locale;
        std::vector<std::string> arguments;
        std::string received;  // UTF-8
    };
    const Case cases[] = {
        {"C.UTF-8",
         {"/quiet", "a b", "a&b", "a^b", "(x)", "q\"r", "\"", "", "tr\\ x\\", "a|b<c>d", "!x!",
          "C:\\Program Files\\X\\", "x,y;z=w", "\\\"\\"},
         "[/quiet]\n[a b]\n[a&b]\n[a^b]\n[(x)]\n[q\"r]\n[\"]\n[]\n[tr\\ x\\]\n[a|b<c>d]\n[!x!]\n"
         "[C:\\Program Files\\X\\]\n[x,y;z=w]\n[\\\"\\]\n"},
        {"zh_CN.UTF-8",
         {"\x81|\x81^ \x9C\x5C", "\x9C\x5C"},
         "[\xE4\xBA\x85\xE4\xB9\x9B \xE6\xB7\xBA]\n[\xE6\xB7\xBA]\n"},
    };
    for (const char* top : {"disk1", "my (disk) & more"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(top) + ", " + c.locale);
            fw::test::ScopedLocale locale(c.locale);
            const std::optional<std::string> command = LaunchCommandFor(top, c.arguments);
            ASSERT_TRUE(command.has_value());
            EXPECT_EQ(fw::hostPlatform().runCommand(command->c_str()), 0) << *command;
            const std::string args =
                prefix.host(std::string("C:\\Temp\\_Download\\_UnZip\\") + top + "\\args.txt");
            EXPECT_EQ(fw::test::readHostFile(args), c.received) << *command;
        }
    }
}
#endif

}  // namespace
