// Opening, creating, reading, writing, time stamps and removal of files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/Platform.h"
#include "platform/posix/PosixTime.h"
#include "tests/platform/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw {
namespace {

class FileTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(os().createDirectory("C:\\Work")); }

    // Creates `path` with `contents` through the backend.
    void make(const char* path, std::string_view contents, uint32_t attributes = 0) {
        const FileHandle file = os().createFile(path, attributes, false);
        ASSERT_NE(file, kInvalidFile) << path;
        ASSERT_TRUE(os().writeFile(file, contents.data(), contents.size()));
        ASSERT_TRUE(os().closeFile(file));
    }

    std::string contents(const char* path) { return test::readHostFile(prefix.host(path)); }

    mode_t mode(const char* path) {
        struct stat info {};
        return stat(prefix.host(path).c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
    }

    test::ScopedLocale locale{"en_US.UTF-8"};
    test::TempPrefix prefix;
};

TEST_F(FileTest, ReadOnlyFilesAreRefusedToWritersEvenAsRoot) {
    // Made read-only: the handle that made it still writes.
    make("C:\\Work\\ro.txt", "kept", kAttrReadOnly);
    EXPECT_EQ(contents("C:\\Work\\ro.txt"), "kept");
    EXPECT_EQ(mode("C:\\Work\\ro.txt") & 0222, 0u);
    EXPECT_EQ(os().getFileAttributes("C:\\Work\\ro.txt"), kAttrArchive | kAttrReadOnly);

    EXPECT_EQ(os().createFile("C:\\Work\\ro.txt", 0, false), kInvalidFile);
    EXPECT_EQ(os().createFile("C:\\WORK\\RO.TXT", 0, true), kInvalidFile);
    EXPECT_FALSE(os().removeFile("C:\\Work\\ro.txt"));
    const FileHandle reader = os().openFile("C:\\Work\\ro.txt");
    EXPECT_NE(reader, kInvalidFile);
    os().closeFile(reader);
    EXPECT_EQ(contents("C:\\Work\\ro.txt"), "kept");

    // Replacing a writable file with the read-only bit makes it read-only.
    make("C:\\Work\\rw.txt", "old");
    make("C:\\Work\\rw.txt", "new", kAttrReadOnly);
    EXPECT_EQ(contents("C:\\Work\\rw.txt"), "new");
    EXPECT_EQ(os().getFileAttributes("C:\\Work\\rw.txt"), kAttrArchive | kAttrReadOnly);
}

TEST_F(FileTest, FoldersAreNotFiles) {
    ASSERT_TRUE(os().createDirectory("C:\\Work\\Folder"));
    EXPECT_EQ(os().openFile("C:\\Work\\Folder"), kInvalidFile);
    EXPECT_EQ(os().createFile("C:\\Work\\Folder", 0, false), kInvalidFile);
    EXPECT_EQ(os().createFile("C:\\", 0, false), kInvalidFile);
    EXPECT_FALSE(os().removeFile("C:\\Work\\Folder"));
    EXPECT_EQ(os().getFileAttributes("C:\\Work\\Folder"), kAttrDirectory);

    EXPECT_FALSE(os().createDirectory("C:\\Work\\Folder"));
    EXPECT_FALSE(os().createDirectory("C:\\Work\\Missing\\Child"));
    EXPECT_FALSE(os().createDirectory("C:\\"));
    EXPECT_EQ(os().createFile("C:\\Work\\Missing\\file", 0, false), kInvalidFile);
    EXPECT_EQ(os().openFile("C:\\Work\\absent"), kInvalidFile);
    EXPECT_FALSE(os().removeFile("C:\\Work\\absent"));

    make("C:\\Work\\gone.txt", "x");
    EXPECT_TRUE(os().removeFile("c:\\work\\GONE.TXT"));
    EXPECT_EQ(os().getFileAttributes("C:\\Work\\gone.txt"), kInvalidAttributes);
}

TEST_F(FileTest, ReadWriteAndSeek) {
    const FileHandle file = os().createFile("C:\\Work\\data.bin", 0, true);
    ASSERT_NE(file, kInvalidFile);
    const std::string text = "0123456789";
    ASSERT_TRUE(os().writeFile(file, text.data(), text.size()));
    EXPECT_EQ(os().seekFile(file, 0, SeekOrigin::current), 10);
    EXPECT_EQ(os().seekFile(file, -4, SeekOrigin::end), 6);
    char buffer[8] = {};
    EXPECT_EQ(os().readFile(file, buffer, sizeof buffer), 4);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(os().readFile(file, buffer, sizeof buffer), 0);
    EXPECT_EQ(os().seekFile(file, 2, SeekOrigin::begin), 2);
    EXPECT_EQ(os().seekFile(file, -3, SeekOrigin::current), -1);
    EXPECT_TRUE(os().writeFile(file, "", 0));
    EXPECT_TRUE(os().closeFile(file));

    // Opened for reading only: writes fail; a closed handle reads nothing.
    const FileHandle reader = os().openFile("C:\\Work\\data.bin");
    ASSERT_NE(reader, kInvalidFile);
    EXPECT_FALSE(os().writeFile(reader, "x", 1));
    EXPECT_TRUE(os().closeFile(reader));
    EXPECT_EQ(os().readFile(reader, buffer, 1), -1);
    EXPECT_FALSE(os().closeFile(kInvalidFile));

    // Creating again empties it.
    make("C:\\Work\\data.bin", "");
    EXPECT_EQ(contents("C:\\Work\\data.bin"), "");
}

FileTime ticks(uint64_t value) {
    return FileTime::fromTicks(value);
}

TEST_F(FileTest, TimesAreSetAndKept) {
    constexpr uint64_t k2020 = 132223104000000000;  // 2020-01-01 00:00:00
    constexpr uint64_t k1950 = 110133216000000000;  // 1950-01-01 00:00:00, before 1970
    struct Case {
        const FileTime* access;
        const FileTime* write;
        uint64_t expectedAccess;
        uint64_t expectedWrite;
    };
    const FileTime a2020 = ticks(k2020 + 1234567);
    const FileTime w1950 = ticks(k1950);
    const FileTime zero = ticks(0);
    const FileTime w2020 = ticks(k2020);
    // Each row starts from the times the previous one left.
    const Case cases[] = {
        {&a2020, &w1950, k2020 + 1234567, k1950},
        {nullptr, &w2020, k2020 + 1234567, k2020},
        {&zero, nullptr, k2020 + 1234567, k2020},
        {&w1950, &zero, k1950, k2020},
    };
    const FileHandle file = os().createFile("C:\\Work\\t.txt", 0, false);
    ASSERT_NE(file, kInvalidFile);
    const FileTime creation = ticks(k2020);
    for (const Case& c : cases) {
        ASSERT_TRUE(os().setFileTimes(file, &creation, c.access, c.write));
        struct stat info {};
        ASSERT_EQ(stat(prefix.host("C:\\Work\\t.txt").c_str(), &info), 0);
        FileTime access;
        FileTime write;
        ASSERT_TRUE(posix::fileTimeFromTimespec(info.st_atim, access));
        ASSERT_TRUE(posix::fileTimeFromTimespec(info.st_mtim, write));
        EXPECT_EQ(access.ticks(), c.expectedAccess);
        EXPECT_EQ(write.ticks(), c.expectedWrite);
    }
    const FileTime tooLate = ticks(0x8000000000000000u);
    EXPECT_FALSE(os().setFileTimes(file, nullptr, nullptr, &tooLate));
    EXPECT_TRUE(os().closeFile(file));
    EXPECT_FALSE(os().setFileTimes(file, nullptr, nullptr, &w2020));
}

}  // namespace
}  // namespace fw
