// How SETUP.exe is started: the interpreter's line of the run without arguments, and the
// program that is started directly, with its arguments reaching it as they were given.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/LaunchCommand.h"
#include "platform/Platform.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TempPrefix.h"
#ifndef _WIN32
#include "platform/posix/Command.h"
#include "tests/support/ScopedEnv.h"
#endif

namespace {

TEST(LaunchCommandTest, QuotesWhatTheInterpreterWouldSplitAndRefusesWhatItWouldExpand) {
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

// Started directly, no interpreter reads the path: only what no path holds is refused.
TEST(LaunchCommandTest, NamesSetupInItsFolderForAStartWithoutInterpreter) {
    struct Case {
        std::string top;
        std::optional<std::string> program;
    };
    const std::string unzip = "C:\\Temp\\_Download\\_UnZip\\";
    const Case cases[] = {
        {"", unzip + "SETUP.exe"},
        {"disk1", unzip + "disk1\\SETUP.exe"},
        {"a/b", unzip + "a\\b\\SETUP.exe"},
        {"50% & (more)", unzip + "50% & (more)\\SETUP.exe"},
        {"%PATH%", unzip + "%PATH%\\SETUP.exe"},
        // 0x81 0x5C is one character of code page 936; 0x2F is never a trail byte.
        {"\x81\\x", unzip + "\x81\\x\\SETUP.exe"},
        {"a\"b", std::nullopt},
        {"a\tb", std::nullopt},
        {"..", std::nullopt},
        {"a/../..", std::nullopt},
    };
    fw::test::RecordingPlatform platform;
    platform.script.codePage = 936;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.top);
        EXPECT_EQ(SetupProgramFor(c.top), c.program);
    }
}

#ifndef _WIN32
// A top folder through the POSIX backend's interpreter, which reads a line as "/c" does:
// the quoted program is found.
TEST(LaunchCommandTest, TheInterpreterLineReachesSetUpInAQuotedFolder) {
    fw::test::TempPrefix prefix;
    for (const char* top : {"disk1", "my (disk) & more"}) {
        SCOPED_TRACE(top);
        const std::string folder = std::string("C:\\Temp\\_Download\\_UnZip\\") + top;
        ASSERT_TRUE(fw::test::writeHostFile(
            prefix.host(folder + "\\SETUP.exe"),
            "#!/bin/sh\nprintf '%s\\n' \"$#\" > \"$(dirname \"$0\")/ran.txt\"\n"));
        const std::optional<std::string> command = LaunchCommandFor(top);
        ASSERT_TRUE(command.has_value());
        EXPECT_EQ(fw::hostPlatform().runCommand(command->c_str()), 0) << *command;
        EXPECT_EQ(fw::test::readHostFile(prefix.host(folder + "\\ran.txt")), "0\n");
    }
}

// Started directly, with the text after "--" as the Linux launcher's entry makes it of
// its arguments: each one reaches SETUP.exe as it was given, whatever it holds.
TEST(LaunchCommandTest, ArgumentsReachAProgramStartedDirectlyAsGiven) {
    fw::test::TempPrefix prefix;
    struct Case {
        const char* locale;
        std::vector<std::string> arguments;  // ANSI
        std::string received;                // UTF-8
    };
    const Case cases[] = {
        {"C.UTF-8",
         {"/S", "/D=C:\\Program Files\\Orvelin Space", "%PATH%", "50%", "^", "&", "a b", "q\"r",
          "\"", "", "tr\\ x\\", "a|b<c>d", "!x!", "C:\\Program Files\\X\\", "\\\"\\", "\t"},
         "[/S]\n[/D=C:\\Program Files\\Orvelin Space]\n[%PATH%]\n[50%]\n[^]\n[&]\n[a b]\n"
         "[q\"r]\n[\"]\n[]\n[tr\\ x\\]\n[a|b<c>d]\n[!x!]\n[C:\\Program Files\\X\\]\n[\\\"\\]\n"
         "[\t]\n"},
        // Trail bytes 0x5C and 0x7C are parts of their characters, never a backslash.
        {"zh_CN.UTF-8",
         {"\x81|\x81^ \x9C\x5C", "\x9C\x5C", "\x9C\x5C\""},
         "[\xE4\xBA\x85\xE4\xB9\x9B \xE6\xB7\xBA]\n[\xE6\xB7\xBA]\n[\xE6\xB7\xBA\"]\n"},
    };
    for (const char* top : {"disk1", "my (disk) & 50%"}) {
        const std::string folder = std::string("C:\\Temp\\_Download\\_UnZip\\") + top;
        ASSERT_TRUE(fw::test::writeHostFile(
            prefix.host(folder + "\\SETUP.exe"),
            "#!/bin/sh\nprintf '[%s]\\n' \"$@\" > \"$(dirname \"$0\")/args.txt\"\nexit 194\n"));
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(top) + ", " + c.locale);
            fw::test::ScopedLocale locale(c.locale);
            const std::optional<std::string> program = SetupProgramFor(top);
            ASSERT_TRUE(program.has_value());
            const std::string arguments = fw::posix::joinArguments(c.arguments);
            uint32_t status = 0;
            ASSERT_TRUE(fw::hostPlatform().runProgram(program->c_str(), arguments.c_str(), status))
                << arguments;
            EXPECT_EQ(status, 194u);
            EXPECT_EQ(fw::test::readHostFile(prefix.host(folder + "\\args.txt")), c.received)
                << arguments;
        }
    }
}
#endif

}  // namespace
