// The command interpreter: the program is found through the drive mapping and started
// directly with the arguments the command line gives it, and its exit status comes back.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/posix/Command.h"
#include "tests/support/Programs.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {
namespace {

namespace fs = std::filesystem;

// Records its arguments, one a line, in args.txt beside itself, and exits with $STATUS.
const char* const kRecorder =
    "#!/bin/sh\n"
    "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args.txt\"\n"
    "exit \"${STATUS:-0}\"\n";

// The first bytes of a Windows program and of a Linux one, which say what they are.
const std::string kWindowsProgram = std::string("MZ\x90\x00\x03", 5) + std::string(100, '\0');
const std::string kLinuxProgram = std::string(
                                      "\x7F"
                                      "ELF\x02\x01\x01",
                                      7) +
                                  std::string(100, '\0');

class CommandTest : public ::testing::Test {
  protected:
    void install(const std::string& drivePath, const std::string& contents, bool executable) {
        const std::string host = prefix.host(drivePath);
        ASSERT_TRUE(writeHostFile(host, contents));
        ASSERT_EQ(chmod(host.c_str(), executable ? 0755 : 0644), 0);
    }
    std::string argsOf(const std::string& folder) const {
        return readHostFile(prefix.host(folder + "\\args.txt"));
    }
    TempPrefix prefix;
};

TEST_F(CommandTest, RunsScriptsWithTheirArgumentsAndPassesTheStatusBack) {
    install("C:\\Tools\\run.sh", kRecorder, true);
    install("C:\\My Tools\\plain.sh", kRecorder, false);
    install("C:\\Opt\\dash.sh", std::string("#!/bin/sh -e\n") + (kRecorder + 10), false);
    for (const char* folder : {"C:\\A&B", "C:\\A,B", "C:\\A (B)"}) {
        install(std::string(folder) + "\\run.sh", kRecorder, true);
    }

    struct Case {
        const char* what;
        const char* command;
        int status;
        const char* folder;
        const char* args;
        const char* locale = "C.UTF-8";
    } cases[] = {
        {"executable script", "C:\\Tools\\run.sh one two", 0, "C:\\Tools", "one\ntwo\n"},
        {"forward slashes", "C:/Tools/run.sh", 0, "C:\\Tools", "\n"},
        {"script without execute bit", "\"C:\\My Tools\\plain.sh\" x", 0, "C:\\My Tools", "x\n"},
        {"letter case ignored", "\"c:/MY TOOLS/PLAIN.SH\" y", 0, "C:\\My Tools", "y\n"},
        {"interpreter with an argument", "C:\\Opt\\dash.sh z", 0, "C:\\Opt", "z\n"},
        {"quoted arguments", "C:\\Tools\\run.sh \"a b\"  c\\\"d \"\" \"e\"\"f\"", 0, "C:\\Tools",
         "a b\nc\"d\n\ne\"f\n"},
        // Quoted once more, as a launch command is: "/c" takes off the outer pair.
        {"doubly quoted", "\"\"C:\\My Tools\\plain.sh\" x\"", 0, "C:\\My Tools", "x\n"},
        {"doubly quoted &", "\"\"C:\\A&B\\run.sh\"\"", 0, "C:\\A&B", "\n"},
        {"doubly quoted ,", "\"\"C:\\A,B\\run.sh\"\"", 0, "C:\\A,B", "\n"},
        {"doubly quoted ( )", "\"\"C:\\A (B)\\run.sh\"\"", 0, "C:\\A (B)", "\n"},
        // In code page 936 a trail byte equal to '|', '^' or '\\' is part of its character.
        {"double-byte characters", "C:\\Tools\\run.sh \x81| \x81^ \"a \x9C\x5C\" ^\"b\x9C\x5C^\"",
         0, "C:\\Tools", "\xE4\xBA\x85\n\xE4\xB9\x9B\na \xE6\xB7\xBA\nb\xE6\xB7\xBA\n",
         "zh_CN.UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedLocale locale(c.locale);
        std::error_code ignored;
        fs::remove(prefix.host(std::string(c.folder) + "\\args.txt"), ignored);
        EXPECT_EQ(hostPlatform().runCommand(c.command), c.status);
        EXPECT_EQ(argsOf(c.folder), c.args);
    }

    setenv("STATUS", "42", 1);
    EXPECT_EQ(hostPlatform().runCommand("C:\\Tools\\run.sh"), 42);
    unsetenv("STATUS");
}

TEST_F(CommandTest, FindsAProgramWithoutItsExtension) {
    install("C:\\Setup\\SETUP.EXE", kRecorder, false);
    EXPECT_EQ(hostPlatform().runCommand("C:\\Setup\\setup now"), 0);
    EXPECT_EQ(argsOf("C:\\Setup"), "now\n");
}

TEST_F(CommandTest, StartsAWindowsProgramThroughWineWithTheSameDrives) {
    install("C:\\Win\\SETUP.exe", std::string("MZ\x90\x00\x03", 5), false);
    const std::string bin = prefix.root() + "/bin";
    ASSERT_TRUE(writeHostFile(bin + "/wine",
                              "#!/bin/sh\n"
                              "{ echo \"$WINEPREFIX\"; printf '%s\\n' \"$@\"; } > \"$0.log\"\n"
                              "exit 3\n"));
    ASSERT_EQ(chmod((bin + "/wine").c_str(), 0755), 0);
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", bin.c_str(), 1);
    const int status = hostPlatform().runCommand("c:/win/setup.exe /s \"x y\"");
    setenv("PATH", savedPath.c_str(), 1);

    EXPECT_EQ(status, 3);
    EXPECT_EQ(readHostFile(bin + "/wine.log"),
              prefix.root() + "\n" + prefix.host("C:\\Win\\SETUP.exe") + "\n/s\nx y\n");
}

TEST_F(CommandTest, NeverHandsTheLineToAShell) {
    // A shell's characters reach the program as text; the interpreter's '^' makes its
    // own plain, and its unescaped '&' ends the command: nothing after it runs.
    install("C:\\Tools\\run.sh", kRecorder, true);
    const std::string marker = prefix.host("C:\\pwned");
    const std::string line = "C:\\Tools\\run.sh ; $(touch " + marker + ") `touch " + marker +
                             "` ^& ^| ^>x \"a&b\" & touch " + marker;
    EXPECT_EQ(hostPlatform().runCommand(line.c_str()), 0);
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_EQ(argsOf("C:\\Tools"),
              ";\n$(touch\n" + marker + ")\n`touch\n" + marker + "`\n&\n|\n>x\na&b\n");
}

TEST_F(CommandTest, ReportsWhatItCannotStart) {
    install("C:\\Win\\SETUP.exe", kWindowsProgram, true);
    install("C:\\Bin\\tool", kLinuxProgram, false);
    install("C:\\Doc\\readme.exe", "just text\n", true);
    install("C:\\A&B\\run.sh", kRecorder, true);
    install("C:\\A,B\\run.sh", kRecorder, true);
    fs::create_directories(prefix.host("C:\\Folder.exe"));
    const std::string emptyPath = prefix.root() + "/empty-path";
    fs::create_directories(emptyPath);
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", emptyPath.c_str(), 1);

    struct Case {
        const char* command;
        const char* message;
    } cases[] = {
        {"C:\\Nowhere\\missing.exe /q",
         "'C:\\Nowhere\\missing.exe' is not recognized as an internal or external command,\n"
         "operable program or batch file.\n"},
        // Quotes around what names no program go, as "/c" takes them off.
        {"\"C:\\No Where\\x.exe\"",
         "'C:\\No' is not recognized as an internal or external command,\n"
         "operable program or batch file.\n"},
        {"\"C:\\A&B\\run.sh\"", "'C:\\A' is not recognized"},
        {"\"C:\\A,B\\run.sh\"", "'C:\\A' is not recognized"},
        {"C:\\Folder.exe",
         "'C:\\Folder.exe' is not recognized as an internal or external command,\n"
         "operable program or batch file.\n"},
        {"C:/Win/SETUP.exe", "wine is not on PATH"},
        {"C:\\Bin\\tool", "not executable"},
        {"C:\\Doc\\readme.exe", "not a program"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        StderrCapture capture;
        const int status = hostPlatform().runCommand(c.command);
        const std::string err = capture.text();
        EXPECT_EQ(status, 1);
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
    setenv("PATH", savedPath.c_str(), 1);
}

TEST_F(CommandTest, SplitsAsTheRunTimeLibraryDoes) {
    struct Case {
        const char* line;
        const char* program;
        std::vector<std::string> arguments;
        const char* locale = "C.UTF-8";
    } cases[] = {
        {"C:/Temp/_Download/_UnZip/disk1/SETUP.exe",
         "C:/Temp/_Download/_UnZip/disk1/SETUP.exe",
         {}},
        {"  \"C:\\A B\\x.exe\"\targ", "C:\\A B\\x.exe", {"arg"}},
        {"p a\\\\b \\\"q\\\" \"r s\"", "p", {"a\\\\b", "\"q\"", "r s"}},
        {"p \"a\\\\\"b c\"", "p", {"a\\b", "c"}},
        {"p \"unterminated arg", "p", {"unterminated arg"}},
        {"p trailing\\", "p", {"trailing\\"}},
        {"p \"\"", "p", {""}},
        {"\"C:\\Progs\"\\x.exe y", "C:\\Progs\\x.exe", {"y"}},
        {"", "", {}},
        // A trail byte 0x5C is no backslash in code page 936; in 1252 it is one.
        {"p \"a \x9C\x5C\" \x81\x5C\\\"q", "p", {"a \x9C\x5C", "\x81\x5C\"q"}, "zh_CN.UTF-8"},
        {"p \"a \x9C\x5C\" \x81\x5C\\\"q", "p", {"a \x9C\" \x81\\q"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ScopedLocale locale(c.locale);
        const posix::CommandLine split = posix::splitCommandLine(c.line);
        EXPECT_EQ(split.program, c.program);
        EXPECT_EQ(split.arguments, c.arguments);
        // Joined again, the arguments read back as they are.
        EXPECT_EQ(posix::splitArguments(posix::joinArguments(c.arguments)), c.arguments);
    }
}

// What the Linux launcher's entry makes of its arguments after "--": quoted only where
// they must be (an installer may look for "/quiet" as it is), read back as they were.
TEST_F(CommandTest, JoinsArgumentsSoThatTheyReadBackAsTheyWere) {
    struct Case {
        std::vector<std::string> arguments;
        std::string line;
        const char* locale = "C.UTF-8";
    } cases[] = {
        {{"/quiet", "/norestart"}, "/quiet /norestart"},
        {{"/D=C:\\Program Files\\X"}, "\"/D=C:\\Program Files\\X\""},
        {{"C:\\X\\", "C:\\A B\\"}, "C:\\X\\ \"C:\\A B\\\\\""},
        {{"", "%PATH%", "a&b"}, "\"\" %PATH% a&b"},
        {{"q\"r", "\\\""}, "\"q\\\"r\" \"\\\\\\\"\""},
        {{"a\tb"}, "\"a\tb\""},
        // A trail byte 0x5C before the closing quote is no backslash to double.
        {{"a \x9C\x5C"}, "\"a \x9C\x5C\"", "zh_CN.UTF-8"},
        {{"a \x9C\x5C"}, "\"a \x9C\x5C\\\"", "C.UTF-8"},
        {{}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ScopedLocale locale(c.locale);
        EXPECT_EQ(posix::joinArguments(c.arguments), c.line);
        EXPECT_EQ(posix::splitArguments(c.line), c.arguments);
    }
}

// CreateProcess's way: the program named by its path alone, its arguments as they stand,
// no interpreter, and why it failed when it cannot be started.
TEST_F(CommandTest, StartsAProgramByItsPathWithItsArgumentsAsTheyStand) {
    install("C:\\My Tools\\run.sh", kRecorder, true);
    install("C:\\Win\\SETUP.exe", kWindowsProgram, true);
    install("C:\\Bin\\tool", kLinuxProgram, false);
    // No wine to be found: a Windows program cannot be started.
    const std::string emptyPath = prefix.root() + "/empty-path";
    fs::create_directories(emptyPath);
    ScopedEnv status("STATUS", "3010");
    struct Case {
        const char* program;
        const char* arguments;
        bool started;
        uint32_t errorOrStatus;  // the exit status when started, else lastError
        const char* args = "";   // what the program received, one a line
    } cases[] = {
        {"C:\\My Tools\\run.sh", "one \"two three\" %PATH% 50% ^ & > x", true, 3010 & 0xFF,
         "one\ntwo three\n%PATH%\n50%\n^\n&\n>\nx\n"},
        {"C:/My Tools/RUN.SH", "", true, 3010 & 0xFF, "\n"},
        // No search and no extension added: the path is the program.
        {"C:\\My Tools\\run", "", false, kErrorPathNotFound},
        {"run.sh", "", false, kErrorPathNotFound},
        {"C:\\Nowhere\\SETUP.exe", "", false, kErrorPathNotFound},
        {"C:\\My Tools", "", false, kErrorPathNotFound},
        {"C:\\Win\\SETUP.exe", "/S", false, kErrorBadExeFormat},
        {"C:\\Bin\\tool", "", false, kErrorAccessDenied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        fs::remove(prefix.host("C:\\My Tools\\args.txt"));
        uint32_t exited = 12345;
        std::optional<ScopedEnv> noWine;
        if (std::string_view(c.program).find("Win") != std::string_view::npos) {
            noWine.emplace("PATH", emptyPath);
        }
        const bool started = hostPlatform().runProgram(c.program, c.arguments, exited);
        ASSERT_EQ(started, c.started);
        if (started) {
            EXPECT_EQ(exited, c.errorOrStatus);
            EXPECT_EQ(argsOf("C:\\My Tools"), c.args);
            continue;
        }
        const uint32_t error = hostPlatform().lastError();
        EXPECT_EQ(error, c.errorOrStatus);
        std::string words;
        EXPECT_TRUE(hostPlatform().errorText(error, words));
        EXPECT_FALSE(words.empty());
    }
}

TEST_F(CommandTest, ReadsTheInterpreterLine) {
    struct Case {
        const char* head;
        bool ok;
        const char* interpreter;
        const char* argument;
    } cases[] = {
        {"#!/bin/sh\necho", true, "/bin/sh", ""},
        {"#! /usr/bin/env  python3 -u \r\nx", true, "/usr/bin/env", "python3 -u"},
        {"#!\n", false, "", ""},
        {"echo", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.head);
        std::string interpreter;
        std::string argument;
        EXPECT_EQ(posix::parseInterpreterLine(c.head, interpreter, argument), c.ok);
        if (c.ok) {
            EXPECT_EQ(interpreter, c.interpreter);
            EXPECT_EQ(argument, c.argument);
        }
    }
}

}  // namespace
}  // namespace fw::test
