// The fault layer over the real backend: chosen calls fail, everything else passes.
#include "platform/fault/FaultPlatform.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Platform.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw {
namespace {

using fault::Call;
using fault::FaultInjector;

class FaultPlatformTest : public testing::Test {
  protected:
    FileHandle create(const char* path) { return os().createFile(path, 0, false); }

    test::ScopedLocale locale{"en_US.UTF-8"};
    test::TempPrefix prefix;
};

TEST_F(FaultPlatformTest, FailsTheNthMatchingCallOnly) {
    FaultInjector faults;
    faults.failNth(Call::createFile, 2);
    faults.failNth(Call::openFile, 1, "b.txt");
    const char* paths[] = {"C:\\a.txt", "C:\\b.txt", "C:\\c.txt"};
    const bool created[] = {true, false, true};
    for (int i = 0; i < 3; ++i) {
        const FileHandle file = create(paths[i]);
        EXPECT_EQ(file != kInvalidFile, created[i]) << paths[i];
        os().closeFile(file);
    }
    EXPECT_EQ(os().getFileAttributes("C:\\b.txt"), kInvalidAttributes);  // never reached the disk

    // The path filter: only opening a name with "b.txt" in it counts and fails.
    const FileHandle made = create("C:\\b.txt");
    ASSERT_NE(made, kInvalidFile);
    os().closeFile(made);  // an open writer would keep every reader out on Windows
    const FileHandle a = os().openFile("C:\\a.txt");
    EXPECT_NE(a, kInvalidFile);
    os().closeFile(a);
    EXPECT_EQ(os().openFile("C:\\b.txt"), kInvalidFile);
    const FileHandle b = os().openFile("C:\\b.txt");
    EXPECT_NE(b, kInvalidFile);
    os().closeFile(b);

    EXPECT_EQ(faults.calls(Call::createFile), 4);
    EXPECT_EQ(faults.calls(Call::openFile), 3);
    EXPECT_EQ(faults.injected(), 2);
}

TEST_F(FaultPlatformTest, FailsEveryCallFromTheNthOn) {
    const FileHandle file = create("C:\\w.txt");
    ASSERT_NE(file, kInvalidFile);
    {
        FaultInjector faults;
        faults.failFrom(Call::writeFile, 2);
        EXPECT_TRUE(os().writeFile(file, "ab", 2));
        for (int i = 0; i < 3; ++i) {
            EXPECT_FALSE(os().writeFile(file, "cd", 2));
        }
        EXPECT_EQ(faults.injected(), 3);
    }
    EXPECT_TRUE(os().writeFile(file, "ef", 2));  // the layer is gone
    os().closeFile(file);
    EXPECT_EQ(test::readHostFile(prefix.host("C:\\w.txt")), "abef");
}

TEST_F(FaultPlatformTest, ShortReads) {
    ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\r.txt"), "0123456789"));
    const FileHandle file = os().openFile("C:\\r.txt");
    ASSERT_NE(file, kInvalidFile);
    FaultInjector faults;
    faults.shortReadNth(Call::readFile, 1, 3);
    faults.shortReadNth(Call::readFile, 2, 0);
    faults.shortReadFrom(Call::readFile, 4, 1);
    char buffer[16] = {};
    EXPECT_EQ(os().readFile(file, buffer, sizeof buffer), 3);
    EXPECT_EQ(os().readFile(file, buffer, sizeof buffer), 0);  // looks like the end
    EXPECT_EQ(os().readFile(file, buffer, 2), 2);
    EXPECT_EQ(os().readFile(file, buffer, sizeof buffer), 1);
    EXPECT_EQ(os().readFile(file, buffer, sizeof buffer), 1);
    EXPECT_EQ(buffer[0], '6');
    os().closeFile(file);
}

// A stand-in table that a test might have put in force before the fault layer.
uint32_t fixedCodePage() {
    return 936;
}

TEST_F(FaultPlatformTest, PutsBackTheTableItReplaced) {
    EXPECT_EQ(&os(), &hostPlatform());
    {
        FaultInjector faults;
        EXPECT_NE(&os(), &hostPlatform());
        EXPECT_EQ(&faults.below(), &hostPlatform());
    }
    EXPECT_EQ(&os(), &hostPlatform());

    Platform custom = hostPlatform();
    custom.ansiCodePage = fixedCodePage;
    setPlatform(&custom);
    {
        FaultInjector faults;
        EXPECT_EQ(&faults.below(), &custom);
        EXPECT_EQ(os().ansiCodePage(), 936u);  // forwarded to the table below
        faults.failNth(Call::ansiCodePage, 1);
        EXPECT_EQ(os().ansiCodePage(), kInvalidAttributes);
        EXPECT_EQ(faults.calls(Call::ansiCodePage), 2);
    }
    EXPECT_EQ(&os(), &custom);
    EXPECT_EQ(setPlatform(nullptr), &custom);
    EXPECT_EQ(&os(), &hostPlatform());
}

}  // namespace
}  // namespace fw
