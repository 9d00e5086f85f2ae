// The launcher's own folders on POSIX (owner and mode), the single-instance lock file,
// emptying a folder, and the system's words for an error.
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
#include "tests/support/ScopedEnv.h"
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

TEST_F(OwnFolderTest, EmptiesAFolderWhateverItHoldsAndFollowsNoLink) {
    test::ScopedLocale locale{"en_US.UTF-8"};  // code page 1252
    const std::string folder = prefix.host("C:\\W");
    const std::string outside = prefix.host("C:\\Outside");
    fs::create_directories(outside + "/inner");
    test::writeHostFile(outside + "/keep.txt", "keep");
    const std::vector<std::string> files = {"a.txt",
                                            "sub/deeper/b.txt",
                                            "disk1 /blank.txt",
                                            "\xE6\x95\xB0\xE6\x8D\xAE/c.txt",
                                            "not utf-8 \xFF.txt",
                                            "ro/ro.txt",
                                            "closed/x.txt"};
    for (const std::string& name : files) {
        ASSERT_TRUE(test::writeHostFile(folder + "/" + name, "old"));
    }
    chmod((folder + "/ro/ro.txt").c_str(), 0444);
    chmod((folder + "/ro").c_str(), 0555);
    chmod((folder + "/closed").c_str(), 0);
    ASSERT_EQ(symlink(outside.c_str(), (folder + "/to-folder").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/keep.txt").c_str(), (folder + "/sub/to-file").c_str()), 0);
    ASSERT_EQ(symlink("/nowhere", (folder + "/dangling").c_str()), 0);
    chmod(folder.c_str(), 0700);

    std::string failed;
    ASSERT_TRUE(os().emptyFolder("C:\\w", failed)) << failed;
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_EQ(infoOf("C:\\W").st_mode & 07777, 0700u) << "the folder itself stays as it is";
    EXPECT_EQ(test::readHostFile(outside + "/keep.txt"), "keep");
    EXPECT_TRUE(fs::is_directory(outside + "/inner")) << "what a link leads to stays";
    ASSERT_TRUE(os().emptyFolder("C:\\W", failed)) << "an empty folder is emptied";

    // A link in its place, or on the way to it, is not gone through.
    ASSERT_EQ(symlink(outside.c_str(), prefix.host("C:\\Link").c_str()), 0);
    for (const char* through : {"C:\\Link", "C:\\Link\\inner"}) {
        EXPECT_FALSE(os().emptyFolder(through, failed)) << through;
        EXPECT_EQ(os().lastError(), kErrorCantResolveFilename) << through;
        EXPECT_EQ(failed, through);
    }
    EXPECT_FALSE(os().emptyFolder("C:\\Missing", failed));
    EXPECT_EQ(os().lastError(), kErrorPathNotFound);
    EXPECT_TRUE(fs::is_directory(outside + "/inner"));
}

TEST_F(OwnFolderTest, AnEntryThatCannotBeRemovedIsNamedWithTheSystemsReason) {
    const std::string folder = prefix.host("C:\\W");
    ASSERT_TRUE(test::writeHostFile(folder + "/sub/stuck.txt", "stuck"));
    // An immutable file: not even root may remove it.
    if (!test::setHostFileImmutable(folder + "/sub/stuck.txt", true)) {
        GTEST_SKIP() << "no immutable file can be made here (it needs root and a file system "
                        "that has the flag)";
    }
    std::string failed;
    EXPECT_FALSE(os().emptyFolder("C:\\W", failed));
    EXPECT_EQ(os().lastError(), kErrorAccessDenied);
    EXPECT_EQ(failed, "C:\\W\\sub\\stuck.txt");
    test::setHostFileImmutable(folder + "/sub/stuck.txt", false);
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
