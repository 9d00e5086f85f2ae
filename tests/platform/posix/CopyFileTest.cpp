// Copying a file with replacement: contents, read-only bit and last-write time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/Platform.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw {
namespace {

class CopyFileTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Src\\a.txt"), "source"));
        ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Dst\\old.txt"), "old"));
    }

    std::string contents(const char* path) { return test::readHostFile(prefix.host(path)); }

    // Names in a folder of the drive, to see that no temporary file is left behind.
    std::size_t entries(const char* folder) {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& e :
             std::filesystem::directory_iterator(prefix.host(folder))) {
            ++count;
        }
        return count;
    }

    test::ScopedLocale locale{"en_US.UTF-8"};
    test::TempPrefix prefix;
};

TEST_F(CopyFileTest, CopiesContentsTimeAndReadOnlyBit) {
    const std::string src = prefix.host("C:\\Src\\a.txt");
    const timespec times[2] = {{1000, 0}, {-86400 * 365, 500}};  // write time before 1970
    ASSERT_EQ(utimensat(AT_FDCWD, src.c_str(), times, 0), 0);
    ASSERT_EQ(chmod(src.c_str(), 0444), 0);

    ASSERT_TRUE(os().copyFile("C:\\SRC\\A.TXT", "C:\\Dst\\b.txt"));
    EXPECT_EQ(contents("C:\\Dst\\b.txt"), "source");
    EXPECT_EQ(os().getFileAttributes("C:\\Dst\\b.txt"), kAttrArchive | kAttrReadOnly);
    struct stat info {};
    ASSERT_EQ(stat(prefix.host("C:\\Dst\\b.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, -86400 * 365);
    EXPECT_EQ(info.st_mtim.tv_nsec, 500);

    // The copy is read-only now: a second copy over it is refused and changes nothing.
    ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Src\\c.txt"), "other"));
    EXPECT_FALSE(os().copyFile("C:\\Src\\c.txt", "C:\\Dst\\b.txt"));
    EXPECT_EQ(contents("C:\\Dst\\b.txt"), "source");
    EXPECT_EQ(entries("C:\\Dst"), 2u);
}

TEST_F(CopyFileTest, ReplacesAnExistingFileInAnyLetterCase) {
    ASSERT_TRUE(os().copyFile("C:\\Src\\a.txt", "C:\\DST\\OLD.TXT"));
    EXPECT_EQ(contents("C:\\Dst\\old.txt"), "source");
    EXPECT_EQ(os().getFileAttributes("C:\\Dst\\old.txt"), kAttrArchive);
    EXPECT_EQ(entries("C:\\Dst"), 1u);
}

TEST_F(CopyFileTest, RefusedCopiesLeaveEverythingAsItWas) {
    ASSERT_TRUE(os().createDirectory("C:\\Dst\\Folder"));
    const struct {
        const char* source;
        const char* destination;
    } cases[] = {
        {"C:\\Src\\missing.txt", "C:\\Dst\\new.txt"},
        {"C:\\Src", "C:\\Dst\\new.txt"},
        {"C:\\Src\\a.txt", "C:\\Missing\\new.txt"},
        {"C:\\Src\\a.txt", "C:\\Dst\\Folder"},
        {"C:\\Src\\a.txt", "C:\\Src\\A.TXT"},  // onto itself
        {"C:\\Src\\a.txt", "C:\\Dst\\"},
        {"C:\\Src\\a.txt\\", "C:\\Dst\\new.txt"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(os().copyFile(c.source, c.destination)) << c.source << " -> " << c.destination;
    }
    EXPECT_EQ(contents("C:\\Src\\a.txt"), "source");
    EXPECT_EQ(contents("C:\\Dst\\old.txt"), "old");
    EXPECT_EQ(entries("C:\\Src"), 1u);
    EXPECT_EQ(entries("C:\\Dst"), 2u);
    EXPECT_EQ(os().getFileAttributes("C:\\Dst\\Folder"), kAttrDirectory);
}

TEST_F(CopyFileTest, LargeFilesArriveWhole) {
    std::string big(3 * 1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>((i * 131) ^ (i >> 12));
    }
    ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Src\\big.bin"), big));
    ASSERT_TRUE(os().copyFile("C:\\Src\\big.bin", "C:\\Dst\\big.bin"));
    EXPECT_TRUE(contents("C:\\Dst\\big.bin") == big);
}

}  // namespace
}  // namespace fw
