// The launcher's own folders on POSIX (owner and mode), the single-instance lock file,
// removing folders and links, and the system's words for an error.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "tests/support/TempPrefix.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 4242;

class OwnFolderTest : public testing::Test {
  protected:
    struct stat infoOf(const char* drivePath) const {
        struct stat info {};
        lstat(prefix.host(drivePath).c_str(), &info);
        return info;
    }
    test::TempPrefix prefix;
};

TEST_F(OwnFolderTest, MakesChecksTightensOrRefusesALevel) {
    const std::string host = prefix.host("C:\\Own");
    const std::string outside = prefix.host("C:\\Outside");
    fs::create_directories(outside);
    struct Case {
        const char* what;
        std::function<void()> plant;  // what stands at C:\Own before
        bool everyoneReads;
        bool needsRoot;  // chown to another user
        FolderVerdict verdict;
        mode_t modeAfter;  // 0: none to look at
        uid_t ownerAfter;
    };
    const uid_t me = geteuid();
    const Case cases[] = {
        {"missing", [] {}, false, false, FolderVerdict::made, 0700, me},
        {"missing, for everyone to read", [] {}, true, false, FolderVerdict::made, 0755, me},
        {"the running user's, tight", [&] { mkdir(host.c_str(), 0700); }, false, false,
         FolderVerdict::accepted, 0700, me},
        {"the running user's, tighter than asked", [&] { mkdir(host.c_str(), 0500); }, true, false,
         FolderVerdict::accepted, 0500, me},
        {"the running user's, open to all",
         [&] {
             mkdir(host.c_str(), 0700);
             chmod(host.c_str(), 0777);
         },
         false, false, FolderVerdict::tightened, 0700, me},
        {"the running user's, readable by all", [&] { mkdir(host.c_str(), 0755); }, false, false,
         FolderVerdict::tightened, 0700, me},
        {"the running user's, group-writable product folder",
         [&] {
             mkdir(host.c_str(), 0700);
             chmod(host.c_str(), 02775);
         },
         true, false, FolderVerdict::tightened, 0755, me},
        {"another user's",
         [&] {
             mkdir(host.c_str(), 0700);
             ASSERT_EQ(chown(host.c_str(), kOtherUser, kOtherUser), 0);
         },
         false, true, FolderVerdict::ownedByAnother, 0700, kOtherUser},
        {"another user's, group-writable",
         [&] {
             mkdir(host.c_str(), 0700);
             chmod(host.c_str(), 0770);
             ASSERT_EQ(chown(host.c_str(), kOtherUser, kOtherUser), 0);
         },
         false, true, FolderVerdict::ownedByAnother, 0770, kOtherUser},
        {"a file in its place", [&] { test::writeHostFile(host, "file"); }, false, false,
         FolderVerdict::occupied, 0, me},
        {"a link to a folder of the running user's",
         [&] { ASSERT_EQ(symlink(outside.c_str(), host.c_str()), 0); }, false, false,
         FolderVerdict::occupied, 0, me},
        {"a link to nothing", [&] { ASSERT_EQ(symlink("/nowhere", host.c_str()), 0); }, false,
         false, FolderVerdict::occupied, 0, me},
    };
    std::vector<std::string> skipped;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && me != 0) {
            skipped.push_back(c.what);
            continue;
        }
        fs::remove_all(host);
        c.plant();
        const mode_t before = umask(077);  // what the launcher makes is as asked, whatever this is
        EXPECT_EQ(os().makeOwnFolder("C:\\Own", c.everyoneReads), c.verdict);
        umask(before);
        if (c.modeAfter != 0) {
            const struct stat info = infoOf("C:\\Own");
            EXPECT_TRUE(S_ISDIR(info.st_mode));
            EXPECT_EQ(info.st_mode & 07777, c.modeAfter);
            EXPECT_EQ(info.st_uid, c.ownerAfter);
        }
    }
    EXPECT_EQ(infoOf("C:\\Outside").st_mode & 07777, 0755u) << "a link is never followed";
    if (!skipped.empty()) {
        GTEST_SKIP() << "not run as root, so no folder of another user could be made for: "
                     << testing::PrintToString(skipped);
    }
}

TEST_F(OwnFolderTest, NoLevelAboveIsGoneThroughALink) {
    const std::string outside = prefix.host("C:\\Outside");
    fs::create_directories(outside);
    ASSERT_EQ(symlink(outside.c_str(), prefix.host("C:\\Temp").c_str()), 0);
    EXPECT_EQ(os().makeOwnFolder("C:\\Temp\\_Download", false), FolderVerdict::failed);
    EXPECT_EQ(os().lastError(), kErrorCantResolveFilename);
    EXPECT_TRUE(fs::is_empty(outside));
}

TEST_F(OwnFolderTest, TheLockFileIsHeldByOneProcessAndRemovedWhenGivenUp) {
    ASSERT_EQ(os().makeOwnFolder("C:\\Locks", false), FolderVerdict::made);
    const std::string lockFile = prefix.host("C:\\Locks\\run.lock");
    ASSERT_TRUE(os().claimSingleInstance("C:\\Locks\\run.lock"));
    ASSERT_TRUE(os().claimSingleInstance("C:\\LOCKS\\RUN.LOCK")) << "held already";
    EXPECT_EQ(infoOf("C:\\Locks\\run.lock").st_mode & 0777, 0600u);

    // Another holder (another open file, as another process has) keeps it.
    const int other = open(lockFile.c_str(), O_RDWR);
    ASSERT_GE(other, 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    os().releaseSingleInstance();
    EXPECT_FALSE(fs::exists(lockFile));
    // The name is gone: a launcher that locked the old file meanwhile makes a new one.
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    ASSERT_TRUE(os().claimSingleInstance("C:\\Locks\\run.lock"));
    os().releaseSingleInstance();
    close(other);

    // A file left by a run that was killed holds nothing; one that is locked holds.
    test::writeHostFile(lockFile, "");
    const int holder = open(lockFile.c_str(), O_RDWR);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(os().claimSingleInstance("C:\\Locks\\run.lock"));
    close(holder);
    EXPECT_TRUE(os().claimSingleInstance("C:\\Locks\\run.lock"));
    os().releaseSingleInstance();
    EXPECT_FALSE(fs::exists(lockFile));
}

TEST_F(OwnFolderTest, RemovesEmptyFoldersAndLinksThemselves) {
    const std::string outside = prefix.host("C:\\Outside");
    fs::create_directories(outside + "/inner");
    fs::create_directories(prefix.host("C:\\W\\empty"));
    fs::create_directories(prefix.host("C:\\W\\full\\x"));
    test::writeHostFile(prefix.host("C:\\W\\file"), "f");
    ASSERT_EQ(symlink(outside.c_str(), prefix.host("C:\\W\\link").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/inner").c_str(), prefix.host("C:\\W\\full\\x\\deep").c_str()),
              0);

    EXPECT_TRUE(os().removeDirectory("C:\\W\\EMPTY"));
    EXPECT_TRUE(os().removeDirectory("C:\\W\\link"));
    EXPECT_FALSE(os().removeDirectory("C:\\W\\full"));
    EXPECT_FALSE(os().removeDirectory("C:\\W\\file"));
    EXPECT_FALSE(os().removeDirectory("C:\\W\\missing"));
    EXPECT_FALSE(os().removeDirectory("C:\\W\\link\\inner")) << "through a link";
    EXPECT_TRUE(os().removeDirectory("C:\\W\\Full\\x\\deep"));
    EXPECT_FALSE(fs::exists(prefix.host("C:\\W\\empty")));
    EXPECT_FALSE(fs::exists(prefix.host("C:\\W\\link")));
    EXPECT_TRUE(fs::exists(prefix.host("C:\\W\\file")));
    EXPECT_TRUE(fs::is_directory(outside + "/inner")) << "what a link leads to stays";
    // A trailing blank is kept before a separator, as Windows keeps it there.
    fs::create_directories(prefix.host("C:\\W\\blank "));
    EXPECT_TRUE(os().removeDirectory("C:\\W\\blank \\"));
    EXPECT_FALSE(fs::exists(prefix.host("C:\\W\\blank ")));
}

TEST_F(OwnFolderTest, TellsAnErrorInTheSystemsWords) {
    std::string text;
    errno = ENOSPC;
    ASSERT_TRUE(os().errorText(os().lastError(), text));
    EXPECT_EQ(text, "No space left on device");
    errno = EDQUOT;  // also "the disk is full", in its own words when it is the last
    ASSERT_TRUE(os().errorText(kErrorDiskFull, text));
    EXPECT_EQ(text, "Disk quota exceeded");
    errno = 0;
    ASSERT_TRUE(os().errorText(kErrorAccessDenied, text));
    EXPECT_EQ(text, "Permission denied");
    EXPECT_FALSE(os().errorText(1813, text));
}

}  // namespace
}  // namespace fw
