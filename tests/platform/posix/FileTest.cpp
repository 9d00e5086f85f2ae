// Opening, creating, reading, writing, time stamps and removal of files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/Platform.h"
#include "platform/posix/Time.h"
#include "tests/support/ScopedEnv.h"
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

    EXPECT_EQ(os().lastError(), kErrorAccessDenied);

    // Replacing a writable file with the read-only bit makes it read-only.
    make("C:\\Work\\rw.txt", "old");
    make("C:\\Work\\rw.txt", "new", kAttrReadOnly);
    EXPECT_EQ(contents("C:\\Work\\rw.txt"), "new");
    EXPECT_EQ(os().getFileAttributes("C:\\Work\\rw.txt"), kAttrArchive | kAttrReadOnly);

    // Clearing the bit gives the owner write permission back, and the file is writable.
    EXPECT_TRUE(os().setFileAttributes("C:\\work\\RW.TXT", kAttrArchive));
    EXPECT_EQ(mode("C:\\Work\\rw.txt") & 0200, 0200u);
    make("C:\\Work\\rw.txt", "again");
    EXPECT_TRUE(os().setFileAttributes("C:\\Work\\rw.txt", kAttrReadOnly));
    EXPECT_EQ(mode("C:\\Work\\rw.txt") & 0222, 0u);
    EXPECT_FALSE(os().setFileAttributes("C:\\Work\\absent.txt", kAttrArchive));
    EXPECT_EQ(os().lastError(), kErrorPathNotFound);
}

TEST_F(FileTest, NothingIsWrittenThroughALinkAndOnlyRegularFilesOpen) {
    // Links and a FIFO in a drive folder, all leading to one file outside it.
    ASSERT_TRUE(os().createDirectory("C:\\Outside"));
    make("C:\\Outside\\keep.txt", "keep");
    make("C:\\Work\\src.txt", "new");
    const std::string outside = prefix.host("C:\\Outside");
    ASSERT_EQ(symlink(outside.c_str(), prefix.host("C:\\Work\\dirlink").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/keep.txt").c_str(), prefix.host("C:\\Work\\filelink").c_str()),
              0);
    ASSERT_EQ(link((outside + "/keep.txt").c_str(), prefix.host("C:\\Work\\hard.txt").c_str()), 0);
    ASSERT_EQ(mkfifo(prefix.host("C:\\Work\\fifo").c_str(), 0644), 0);
    const auto created = [](const char* path) {
        const FileHandle file = os().createFile(path, 0, false);
        return file != kInvalidFile && os().writeFile(file, "new", 3) && os().closeFile(file);
    };
    const std::string throughZ = "Z:" + outside + "/z.txt";
    struct Case {
        const char* what;
        std::function<bool()> call;
        bool succeeds;
        uint32_t error;  // the last error of a refusal
    } cases[] = {
        {"create below a linked folder", [&] { return created("C:\\Work\\dirlink\\n.txt"); }, false,
         kErrorCantResolveFilename},
        {"create at a link", [&] { return created("C:\\Work\\filelink"); }, false,
         kErrorCantResolveFilename},
        {"folder below a linked folder",
         [] { return os().createDirectory("C:\\Work\\dirlink\\sub"); }, false,
         kErrorCantResolveFilename},
        {"remove below a linked folder",
         [] { return os().removeFile("C:\\Work\\dirlink\\keep.txt"); }, false,
         kErrorCantResolveFilename},
        {"copy below a linked folder",
         [] { return os().copyFile("C:\\Work\\src.txt", "C:\\Work\\dirlink\\c.txt"); }, false,
         kErrorCantResolveFilename},
        {"copy onto a link",
         [] { return os().copyFile("C:\\Work\\src.txt", "C:\\Work\\filelink"); }, false,
         kErrorCantResolveFilename},
        {"attributes at a link",
         [] { return os().setFileAttributes("C:\\Work\\filelink", kAttrReadOnly); }, false,
         kErrorCantResolveFilename},
        {"open a FIFO, at once", [] { return os().openFile("C:\\Work\\fifo") != kInvalidFile; },
         false, kErrorAccessDenied},
        {"create at a FIFO", [&] { return created("C:\\Work\\fifo"); }, false, kErrorAccessDenied},
        {"copy a FIFO, at once", [] { return os().copyFile("C:\\Work\\fifo", "C:\\Work\\f.txt"); },
         false, kErrorAccessDenied},
        {"append below a linked folder",
         [] { return os().appendText("C:\\Work\\dirlink\\keep.txt", "x\n"); }, false,
         kErrorCantResolveFilename},
        {"append at a link", [] { return os().appendText("C:\\Work\\filelink", "x\n"); }, false,
         kErrorCantResolveFilename},
        {"append to a FIFO, at once", [] { return os().appendText("C:\\Work\\fifo", "x\n"); },
         false, kErrorAccessDenied},
        {"append to a second hard link", [] { return os().appendText("C:\\Work\\hard.txt", "x"); },
         false, kErrorAccessDenied},
        {"create at a second hard link: a new file", [&] { return created("C:\\Work\\hard.txt"); },
         true, 0},
        {"remove a link itself", [] { return os().removeFile("C:\\Work\\filelink"); }, true, 0},
        {"create and make a folder with the prefix reached through a link",
         [&] {
             test::ScopedEnv linked("FERROWICK_PREFIX", prefix.root() + "-link");
             return created("C:\\Work\\via.txt") && os().createDirectory("C:\\Work\\Via");
         },
         true, 0},
    };
    ASSERT_EQ(symlink(prefix.root().c_str(), (prefix.root() + "-link").c_str()), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.succeeds);
        if (!c.succeeds) {
            EXPECT_EQ(os().lastError(), c.error);
        }
        EXPECT_EQ(contents("C:\\Outside\\keep.txt"), "keep");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outside), {}), 1);
    }
    unlink((prefix.root() + "-link").c_str());
    EXPECT_EQ(contents("C:\\Work\\via.txt"), "new");
    EXPECT_EQ(contents("C:\\Work\\hard.txt"), "new");
    // Z: is the host's own tree, links and all.
    EXPECT_TRUE(created(throughZ.c_str()));
    EXPECT_EQ(test::readHostFile(outside + "/z.txt"), "new");
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

TEST_F(FileTest, AppendedTextGoesAfterWhatIsThereInUtf8) {
    test::ScopedLocale chinese("zh_CN.UTF-8");
    // "说明" in code page 936, and a name whose trail byte is a backslash.
    ASSERT_TRUE(os().appendText("C:\\Work\\log.txt", "one \xCB\xB5\xC3\xF7\n"));
    ASSERT_TRUE(os().appendText("c:\\work\\LOG.TXT", "two \x9C\x5C\n"));
    EXPECT_EQ(contents("C:\\Work\\log.txt"), "one \xE8\xAF\xB4\xE6\x98\x8E\ntwo \xE6\xB7\xBA\n");
    EXPECT_TRUE(os().appendText("C:\\Work\\log.txt", ""));
    EXPECT_EQ(mode("C:\\Work\\log.txt") & 0600, 0600u);

    // What a writer could not change, an appender cannot either.
    make("C:\\Work\\ro.txt", "kept", kAttrReadOnly);
    ASSERT_TRUE(os().createDirectory("C:\\Work\\Folder"));
    for (const char* refused :
         {"C:\\Work\\ro.txt", "C:\\Work\\Folder", "C:\\Work\\No\\log.txt", "C:\\Work\\log.txt\\"}) {
        SCOPED_TRACE(refused);
        EXPECT_FALSE(os().appendText(refused, "x\n"));
    }
    EXPECT_EQ(contents("C:\\Work\\ro.txt"), "kept");
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
    // At an offset; at and past the end nothing is read.
    EXPECT_EQ(os().seekFile(file, 2, SeekOrigin::begin), 2);
    EXPECT_EQ(os().readFileAt(file, buffer, 3, 7), 3);
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(os().readFileAt(file, buffer, sizeof buffer, 10), 0);
    EXPECT_EQ(os().readFileAt(file, buffer, sizeof buffer, uint64_t{1} << 40), 0);
    EXPECT_EQ(os().readFileAt(file, buffer, 1, uint64_t{1} << 63), -1);
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
