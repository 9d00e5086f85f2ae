// The process entries of the POSIX backend: the command line, the own path as a drive
// path, the notices and About box on standard error, the process id, and progress on a
// terminal.
#include <fcntl.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/posix/Backend.h"
#include "tests/support/Programs.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {
namespace {

TEST(ProcessTest, ModuleFileNameIsTheOwnPathOnDriveZ) {
    TempPrefix prefix;  // the test program does not lie inside it
    std::string host(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", host.data(), host.size());
    ASSERT_GT(n, 0);
    host.resize(static_cast<std::size_t>(n));

    std::string expected = "Z:";
    for (char c : host) {
        expected += c == '/' ? '\\' : c;
    }
    std::string path;
    ASSERT_TRUE(hostPlatform().moduleFileName(path));
    EXPECT_EQ(path, expected);
}

TEST(ProcessTest, NoticeAndAboutBoxGoToStandardErrorWithoutWaiting) {
    // Input that is no terminal: the boxes are acknowledged at once.
    const int savedInput = dup(STDIN_FILENO);
    const int devNull = open("/dev/null", O_RDONLY);
    ASSERT_GE(devNull, 0);
    dup2(devNull, STDIN_FILENO);
    close(devNull);
    StderrCapture capture;
    hostPlatform().messageBox("line one\nline two, exactly:  \t!", "BRASKETTLE");
    const int about = hostPlatform().dialogBox(100);
    const int missing = hostPlatform().dialogBox(101);
    const std::string text = capture.text();
    dup2(savedInput, STDIN_FILENO);
    close(savedInput);

    EXPECT_EQ(about, 1);
    EXPECT_EQ(missing, -1);
    const std::string notice = "BRASKETTLE\nline one\nline two, exactly:  \t!\n\n";
    EXPECT_EQ(text.substr(0, notice.size()), notice);
    const std::string rest = text.substr(notice.size());
    std::size_t at = 0;
    for (const char* line : {"About Ferrowick\n", "Ferrowick Version 1.0\n", "[OK]\n"}) {
        const std::size_t found = rest.find(line, at);
        EXPECT_NE(found, std::string::npos) << line;
        at = found == std::string::npos ? at : found;
    }
    EXPECT_EQ(rest.find("About Ferrowick"), 0u);
}

// main's arguments as the entry hands them on: the launcher's own converted one by one,
// what follows "--" joined as a Windows command line holds it.
TEST(ProcessTest, TheCommandLineEndsItsOwnArgumentsAtTwoDashes) {
    struct Case {
        std::vector<const char*> argv;  // UTF-8, after the program's name
        std::vector<CommandArgument> arguments;
        std::optional<CommandArgument> tail;
    };
    const Case cases[] = {
        {{}, {}, std::nullopt},
        {{"/S", "/log", "a b.log"},
         {{"/S", true}, {"/log", true}, {"a b.log", true}},
         std::nullopt},
        {{"/S", "--", "/S", "/D=C:\\Program Files\\X", "%PATH%", "q\"r"},
         {{"/S", true}},
         CommandArgument{"/S \"/D=C:\\Program Files\\X\" %PATH% \"q\\\"r\"", true}},
        {{"--"}, {}, CommandArgument{"", true}},
        {{"--", "--", ""}, {}, CommandArgument{"-- \"\"", true}},
        // Code page 936: one argument it cannot express, before "--" and after it.
        {{"\xE8\xAF\xB4", "\xF0\x9F\x98\x80", "--", "\xE8\xAF\xB4"},
         {{"\xCB\xB5", true}, {"", false}},
         CommandArgument{"\xCB\xB5", true}},
        {{"--", "a", "\xF0\x9F\x98\x80"}, {}, CommandArgument{"a ", false}},
    };
    ScopedLocale locale("zh_CN.UTF-8");
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"ferrowick"};
        argv.insert(argv.end(), c.argv.begin(), c.argv.end());
        SCOPED_TRACE(::testing::PrintToString(c.argv));
        const ProcessCommandLine line =
            posix::commandLine(static_cast<int>(argv.size()), argv.data());
        ASSERT_EQ(line.arguments.size(), c.arguments.size());
        for (std::size_t i = 0; i < c.arguments.size(); ++i) {
            EXPECT_EQ(line.arguments[i].expressible, c.arguments[i].expressible) << i;
            if (c.arguments[i].expressible) {
                EXPECT_EQ(line.arguments[i].text, c.arguments[i].text) << i;
            }
        }
        ASSERT_EQ(line.tail.has_value(), c.tail.has_value());
        if (c.tail) {
            EXPECT_EQ(line.tail->expressible, c.tail->expressible);
            if (c.tail->expressible) {
                EXPECT_EQ(line.tail->text, c.tail->text);
            }
        }
    }
    EXPECT_EQ(hostPlatform().processId(), static_cast<uint32_t>(getpid()));
}

// Standard error on a terminal for the length of a call: what was written to it.
template <typename Call>
std::string onTerminal(Call call) {
    int master = -1;
    int slave = -1;
    if (!openTerminal(master, slave)) {
        ADD_FAILURE() << "no pseudo-terminal";
        return {};
    }
    const int saved = dup(STDERR_FILENO);
    dup2(slave, STDERR_FILENO);
    call();
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(slave);
    std::string out;
    char buffer[4096];
    fcntl(master, F_SETFL, O_NONBLOCK);
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(master);
    return out;
}

// One line on the terminal, drawn over and over, wiped for a notice and drawn again
// below it, and wiped at the end; nothing where standard error is no terminal.
TEST(ProcessTest, ProgressIsOneLineOnATerminalThatIsWipedAtTheEnd) {
    if (const std::string missing = terminalsMissing(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    const auto work = [] {
        hostPlatform().progressBegin("BRASKETTLE", "Unpacking", Progress{2, 3000});
        hostPlatform().progressUpdate(Progress{1, 1536});
        hostPlatform().messageBox("Be patient!", "BRASKETTLE");
        hostPlatform().progressUpdate(Progress{2, 3000});
        hostPlatform().progressEnd();
    };
    const int savedInput = dup(STDIN_FILENO);  // input that is no terminal: no waiting
    const int devNull = open("/dev/null", O_RDONLY);
    ASSERT_GE(devNull, 0);
    dup2(devNull, STDIN_FILENO);
    close(devNull);
    const std::string drawn = onTerminal(work);
    StderrCapture capture;
    work();
    const std::string inFile = capture.text();
    dup2(savedInput, STDIN_FILENO);
    close(savedInput);

    const std::string first = "\rUnpacking [....................] 0 of 2 items, 0 of 3 KB";
    const std::string wipe = "\r" + std::string(first.size() - 1, ' ') + "\r";
    const std::string last = "\rUnpacking [####################] 2 of 2 items, 3 of 3 KB";
    EXPECT_EQ(drawn.rfind(first + wipe + "BRASKETTLE\r\nBe patient!\r\n\r\n", 0), 0u) << drawn;
    const std::size_t end = drawn.find(last);
    ASSERT_NE(end, std::string::npos) << drawn;
    // Wiped: blanks over the longest drawing, and the cursor back at the start.
    EXPECT_EQ(drawn.substr(end + last.size()), wipe) << drawn;
    // The line never ends: a notice's own lines are the only ones.
    EXPECT_EQ(drawn.find('\n', drawn.find("\r\n\r\n") + 4), std::string::npos) << drawn;
    // In a file, the notice alone.
    EXPECT_EQ(inFile, "BRASKETTLE\nBe patient!\n\n");
}

}  // namespace
}  // namespace fw::test
