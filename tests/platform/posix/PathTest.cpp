// Drive paths: mapping, "." and "..", relative paths, letter case and length limits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/Platform.h"
#include "platform/posix/FolderNames.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw {
namespace {

class PathTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Temp\\Sub\\file.txt"), "data"));
    }
    test::ScopedLocale locale{"en_US.UTF-8"};
    test::TempPrefix prefix;
};

std::string backslashed(std::string path) {
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

TEST_F(PathTest, AttributesThroughEverySpelling) {
    const std::string zFile = "Z:" + backslashed(prefix.host("C:\\Temp\\Sub\\file.txt"));
    struct Case {
        std::string path;
        uint32_t expected;
    };
    const Case cases[] = {
        {"C:\\Temp", kAttrDirectory},
        {"C:\\", kAttrDirectory},
        {"C:", kAttrDirectory},  // the current directory of C: is its root here
        {"c:/temp/sub/FILE.TXT", kAttrArchive},
        {"C:\\Temp/Sub\\\\file.txt", kAttrArchive},
        {"C:\\Temp\\..\\..\\..\\Temp", kAttrDirectory},
        {"C:\\..\\Temp\\.\\Sub\\", kAttrDirectory},
        {"C:\\Temp\\Sub\\file.txt\\..", kAttrDirectory},
        {"C:\\Temp\\Sub\\file.txt\\", kInvalidAttributes},
        {"C:\\Temp\\Sub\\file.txt.", kAttrArchive},
        {"C:\\Temp\\Sub\\file.txt . ", kAttrArchive},
        {"C:\\Temp.\\Sub\\file.txt", kAttrArchive},
        {"C:\\Temp\\Sub\\missing", kInvalidAttributes},
        {"C:\\Temp\\Sub\\file.txt\\x", kInvalidAttributes},
        {"D:\\Temp", kInvalidAttributes},
        {zFile, kAttrArchive},
        {zFile.substr(2), kAttrArchive},  // from the root of the current drive, Z:
        {"\\\\server\\share", kInvalidAttributes},
        {"//server/share/x", kInvalidAttributes},
        {"", kInvalidAttributes},
        {"1:\\Temp", kInvalidAttributes},
        {"C:\\Temp\\Sub\\file.txt:stream", kInvalidAttributes},
        {"C:\\Temp\\Sub\\file.tx?", kInvalidAttributes},
        {"C:\\Temp\\Sub\\*", kInvalidAttributes},
        {"C:\\Temp\\Sub\\\"file.txt\"", kInvalidAttributes},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(os().getFileAttributes(c.path.c_str()), c.expected) << c.path;
    }
    EXPECT_EQ(os().getFileAttributes(nullptr), kInvalidAttributes);
}

TEST_F(PathTest, DotDotNeverLeavesTheDrive) {
    // A file beside drive_c must not be reachable from C:.
    ASSERT_TRUE(test::writeHostFile(prefix.root() + "/outside.txt", "x"));
    EXPECT_EQ(os().getFileAttributes("C:\\..\\outside.txt"), kInvalidAttributes);
    const FileHandle file = os().createFile("C:\\..\\..\\escape.txt", 0, false);
    ASSERT_NE(file, kInvalidFile);
    os().closeFile(file);
    struct stat info {};
    EXPECT_NE(stat((prefix.root() + "/escape.txt").c_str(), &info), 0);
    EXPECT_EQ(stat((prefix.root() + "/drive_c/escape.txt").c_str(), &info), 0);
}

TEST_F(PathTest, RelativePathsAndCurrentDirectory) {
    struct Case {
        std::string hostFolder;
        std::string expectedCwd;
        const char* relative;
        uint32_t expected;
    };
    const std::string root = prefix.root();
    const Case cases[] = {
        {root + "/drive_c/Temp", "C:\\Temp", "Sub\\file.txt", kAttrArchive},
        {root + "/drive_c/Temp", "C:\\Temp", "\\Temp\\Sub", kAttrDirectory},
        {root + "/drive_c/Temp", "C:\\Temp", "..\\..\\Temp\\Sub", kAttrDirectory},
        {root + "/drive_c/Temp", "C:\\Temp", "C:Sub", kAttrDirectory},
        {root + "/drive_c/Temp/Sub", "C:\\Temp\\Sub", ".\\file.txt", kAttrArchive},
        {root + "/drive_c", "C:\\", "Temp", kAttrDirectory},
        {root, "Z:" + backslashed(root), "drive_c\\Temp", kAttrDirectory},
        {root, "Z:" + backslashed(root), "C:Temp", kAttrDirectory},  // C: from its root
    };
    for (const Case& c : cases) {
        test::ScopedCwd cwd(c.hostFolder);
        ASSERT_TRUE(cwd.ok()) << c.hostFolder;
        std::string current;
        ASSERT_TRUE(os().currentDirectory(current));
        EXPECT_EQ(current, c.expectedCwd);
        EXPECT_EQ(os().getFileAttributes(current.c_str()), kAttrDirectory) << current;
        EXPECT_EQ(os().getFileAttributes(c.relative), c.expected) << c.relative;
    }
}

TEST_F(PathTest, ExistingNamesAreFoundInAnyLetterCase) {
    // Created through a spelling in another case: the existing file is replaced.
    const FileHandle file = os().createFile("C:\\TEMP\\sub\\File.TXT", 0, false);
    ASSERT_NE(file, kInvalidFile);
    ASSERT_TRUE(os().writeFile(file, "new", 3));
    ASSERT_TRUE(os().closeFile(file));
    EXPECT_EQ(test::readHostFile(prefix.host("C:\\Temp\\Sub\\file.txt")), "new");
    EXPECT_EQ(test::readHostFile(prefix.host("C:\\Temp\\Sub\\File.TXT")), "");

    // A new name goes into the folder that exists, under the spelling given.
    const FileHandle other = os().createFile("c:\\TEMP\\SUB\\New.txt", 0, false);
    ASSERT_NE(other, kInvalidFile);
    os().closeFile(other);
    struct stat info {};
    EXPECT_EQ(stat(prefix.host("C:\\Temp\\Sub\\New.txt").c_str(), &info), 0);

    EXPECT_FALSE(os().createDirectory("C:\\temp\\SUB"));
    EXPECT_FALSE(os().createDirectory("C:\\TEMP"));
    for (const char* bad : {"C:\\Temp\\a<b", "C:\\Temp\\a|b", "C:\\Temp\\a\tb"}) {
        EXPECT_EQ(os().createFile(bad, 0, false), kInvalidFile) << bad;
        EXPECT_FALSE(os().createDirectory(bad)) << bad;
    }
    EXPECT_TRUE(os().createDirectory("C:\\TEMP\\Sub2"));
    EXPECT_EQ(stat(prefix.host("C:\\Temp\\Sub2").c_str(), &info), 0);
}

TEST_F(PathTest, ExactSpellingWinsOverOtherCase) {
    ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Temp\\ab"), "lower"));
    ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Temp\\AB"), "upper"));
    for (const auto& [path, expected] :
         {std::pair{"C:\\Temp\\ab", "lower"}, std::pair{"C:\\Temp\\AB", "upper"}}) {
        const FileHandle file = os().openFile(path);
        ASSERT_NE(file, kInvalidFile);
        char buffer[16] = {};
        EXPECT_EQ(os().readFile(file, buffer, sizeof buffer), 5);
        EXPECT_STREQ(buffer, expected);
        os().closeFile(file);
    }
}

// Letter-case lookups keep folder listings between calls; these check that a listing
// never answers for a folder that has changed since.
TEST_F(PathTest, LookupsSeeChangesMadeBehindTheBackendsBack) {
    namespace fs = std::filesystem;
    const std::string sub = prefix.host("C:\\Temp\\Sub");
    auto attributes = [](const char* path) { return os().getFileAttributes(path); };
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\FILE.TXT"), kAttrArchive);
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\LATER.TXT"), kInvalidAttributes);

    ASSERT_TRUE(test::writeHostFile(sub + "/Later.txt", "x"));
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\LATER.TXT"), kAttrArchive);

    fs::remove(sub + "/file.txt");
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\FILE.TXT"), kInvalidAttributes);

    fs::rename(sub + "/Later.txt", sub + "/Renamed.txt");
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\LATER.TXT"), kInvalidAttributes);
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\RENAMED.TXT"), kAttrArchive);

    // The folder itself replaced by another of the same name.
    fs::rename(sub, prefix.host("C:\\Temp\\Old"));
    ASSERT_TRUE(test::writeHostFile(sub + "/Fresh.txt", "x"));
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\RENAMED.TXT"), kInvalidAttributes);
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\FRESH.TXT"), kAttrArchive);

    // A name created as a folder behind the back is found as a folder.
    fs::create_directory(sub + "/Inner");
    EXPECT_EQ(attributes("C:\\Temp\\SUB\\INNER"), kAttrDirectory);
}

TEST_F(PathTest, LookupsFollowTheBackendsOwnChanges) {
    namespace fs = std::filesystem;
    const std::string sub = prefix.host("C:\\Temp\\Sub");
    auto attributes = [](const char* path) { return os().getFileAttributes(path); };
    EXPECT_EQ(attributes("C:\\TEMP\\SUB\\NEW.TXT"), kInvalidAttributes);  // listed

    const FileHandle made = os().createFile("C:\\Temp\\Sub\\New.txt", 0, false);
    ASSERT_NE(made, kInvalidFile);
    os().closeFile(made);
    EXPECT_EQ(attributes("C:\\TEMP\\SUB\\NEW.TXT"), kAttrArchive);
    ASSERT_TRUE(os().createDirectory("C:\\Temp\\Sub\\Folder"));
    EXPECT_EQ(attributes("C:\\TEMP\\SUB\\FOLDER"), kAttrDirectory);
    ASSERT_TRUE(os().copyFile("C:\\Temp\\Sub\\file.txt", "C:\\Temp\\Sub\\Copy.txt"));
    EXPECT_EQ(attributes("C:\\TEMP\\SUB\\COPY.TXT"), kAttrArchive);

    // Our change, then one behind our back.
    ASSERT_TRUE(test::writeHostFile(sub + "/Behind.txt", "x"));
    EXPECT_EQ(attributes("C:\\TEMP\\SUB\\BEHIND.TXT"), kAttrArchive);
    // The same within the clock tick of our change, as the folder's stamp shows it: a
    // name asked as spelled is found, and a read-only one is not replaced.
    const FileHandle first = os().createFile("C:\\Temp\\Sub\\First.txt", 0, false);
    ASSERT_NE(first, kInvalidFile);
    os().closeFile(first);
    struct stat stamp {};
    ASSERT_EQ(stat(sub.c_str(), &stamp), 0);
    for (const char* name : {"/Locked.txt", "/Locked2.txt"}) {
        ASSERT_TRUE(test::writeHostFile(sub + name, "x"));
        fs::permissions(sub + name, fs::perms::owner_read);
    }
    const timespec times[2] = {stamp.st_atim, stamp.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, sub.c_str(), times, 0), 0);
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\Locked.txt"), kAttrArchive | kAttrReadOnly);
    EXPECT_EQ(os().createFile("C:\\Temp\\Sub\\Locked2.txt", 0, false), kInvalidFile);
    EXPECT_EQ(os().lastError(), kErrorAccessDenied);
    EXPECT_EQ(test::readHostFile(sub + "/Locked2.txt"), "x");

    ASSERT_TRUE(os().removeFile("C:\\Temp\\Sub\\new.TXT"));
    EXPECT_EQ(attributes("C:\\TEMP\\SUB\\NEW.TXT"), kInvalidAttributes);
    // Made again under another spelling: a new file of that spelling, not a twin.
    const FileHandle again = os().createFile("C:\\Temp\\Sub\\NEW.TXT", 0, false);
    ASSERT_NE(again, kInvalidFile);
    os().closeFile(again);
    EXPECT_TRUE(fs::exists(sub + "/NEW.TXT"));
    EXPECT_FALSE(fs::exists(sub + "/New.txt"));

    // Of two names that differ in case only, removing one leaves the other to answer.
    ASSERT_TRUE(test::writeHostFile(sub + "/twin", "lower"));
    ASSERT_TRUE(test::writeHostFile(sub + "/TWIN", "upper"));
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\Twin"), kAttrArchive);
    ASSERT_TRUE(os().removeFile("C:\\Temp\\Sub\\TWIN"));
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\Twin"), kAttrArchive);
    ASSERT_TRUE(os().removeFile("C:\\Temp\\Sub\\Twin"));
    EXPECT_EQ(attributes("C:\\Temp\\Sub\\Twin"), kInvalidAttributes);
}

TEST_F(PathTest, LookupsStayRightInMoreFoldersThanAreKept) {
    constexpr int kFolders = 150;
    auto drivePath = [](int folder, const char* name) {
        return "C:\\Many\\F" + std::to_string(folder) + "\\" + name;
    };
    for (int i = 0; i < kFolders; ++i) {
        ASSERT_TRUE(test::writeHostFile(prefix.host(drivePath(i, "file.txt")), "x"));
    }
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < kFolders; ++i) {
            EXPECT_EQ(os().getFileAttributes(drivePath(i, "FILE.TXT").c_str()), kAttrArchive);
        }
    }
    for (int i : {0, kFolders / 2, kFolders - 1}) {
        ASSERT_TRUE(test::writeHostFile(prefix.host(drivePath(i, "more.txt")), "x"));
        EXPECT_EQ(os().getFileAttributes(drivePath(i, "MORE.TXT").c_str()), kAttrArchive) << i;
        std::filesystem::remove(prefix.host(drivePath(i, "file.txt")));
        EXPECT_EQ(os().getFileAttributes(drivePath(i, "FILE.TXT").c_str()), kInvalidAttributes)
            << i;
    }
}

// A folder of more names than all kept listings together is still listed once: each new
// name then costs the same lookups however many names the folder holds.
TEST_F(PathTest, AFolderOfManyNamesIsListedOnce) {
    constexpr int kNames = 100'000;
    static_assert(kNames > posix::kCachedNames);
    // In memory where the host has it: on a disk, making this many files costs seconds,
    // and many more while the inodes of an earlier run are recently freed.
    std::optional<test::ScopedEnv> inMemoryTemporary;
    if (std::error_code error; std::filesystem::is_directory("/dev/shm", error)) {
        inMemoryTemporary.emplace("TMPDIR", "/dev/shm");
    }
    test::TempPrefix inMemory;
    const std::string big = inMemory.host("C:/Big");
    std::filesystem::create_directories(big);
    for (int i = 0; i < kNames; ++i) {
        const int fd = ::open((big + "/Old" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    EXPECT_EQ(os().getFileAttributes("C:\\BIG\\OLD77"), kAttrArchive);  // lists the folder
    const uint64_t listed = posix::folderListings();
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "C:\\Big\\New" + std::to_string(i);
        const FileHandle made = os().createFile(name.c_str(), 0, false);
        ASSERT_NE(made, kInvalidFile);
        os().closeFile(made);
        EXPECT_EQ(os().getFileAttributes(("C:\\BIG\\NEW" + std::to_string(i)).c_str()),
                  kAttrArchive);
    }
    EXPECT_EQ(os().getFileAttributes("C:\\BIG\\OLD99999"), kAttrArchive);
    EXPECT_EQ(posix::folderListings(), listed);
}

TEST_F(PathTest, PathsOfMaxPathUnitsAreRefused) {
    // "C:\" + 100 + "\" + 100 + "\" + n characters: 205 + n in all.
    const std::string a(100, 'a');
    const std::string b(100, 'b');
    ASSERT_TRUE(test::writeHostFile(
        prefix.root() + "/drive_c/" + a + "/" + b + "/" + std::string(54, 'c'), "x"));
    ASSERT_TRUE(test::writeHostFile(
        prefix.root() + "/drive_c/" + a + "/" + b + "/" + std::string(55, 'c'), "x"));
    const std::string folder = "C:\\" + a + "\\" + b + "\\";
    EXPECT_EQ(os().getFileAttributes((folder + std::string(54, 'c')).c_str()), kAttrArchive);
    EXPECT_EQ(os().getFileAttributes((folder + std::string(55, 'c')).c_str()), kInvalidAttributes);
    EXPECT_EQ(os().openFile((folder + std::string(55, 'c')).c_str()), kInvalidFile);
    EXPECT_EQ(os().createFile((folder + std::string(56, 'c')).c_str(), 0, false), kInvalidFile);

    // The limit counts characters, not bytes: 164 characters in 324 GBK bytes.
    test::ScopedLocale chinese("zh_CN.UTF-8");
    std::string gbk;
    for (int i = 0; i < 80; ++i) {
        gbk += "\xB0\xB2";  // 安
    }
    const std::string inner = "C:\\" + gbk + "\\" + gbk;
    EXPECT_TRUE(os().createDirectory(("C:\\" + gbk).c_str()));
    EXPECT_TRUE(os().createDirectory(inner.c_str()));
    EXPECT_EQ(os().getFileAttributes(inner.c_str()), kAttrDirectory);
}

}  // namespace
}  // namespace fw
