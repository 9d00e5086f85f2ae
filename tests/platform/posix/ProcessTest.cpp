// The process entries of the POSIX backend: the own path as a drive path, and the
// notices and About box on standard error.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "tests/support/Programs.h"
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

}  // namespace
}  // namespace fw::test
