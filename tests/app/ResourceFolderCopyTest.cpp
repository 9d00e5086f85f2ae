// The recursive resource folder copy, over temporary trees on the real file backend.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/FerrowickApp.h"
#include "platform/fault/FaultPlatform.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TempPrefix.h"

namespace {

namespace fs = std::filesystem;
using fw::fault::Call;

class ResourceFolderCopyTest : public ::testing::Test {
  protected:
    fw::test::TempPrefix prefix;
    fw::test::RecordingPlatform platform;
    CFerrowickApp app;

    std::string host(const std::string& drivePath) const { return prefix.host(drivePath); }
    void put(const std::string& drivePath, const std::string& contents = "x") {
        ASSERT_TRUE(fw::test::writeHostFile(host(drivePath), contents));
    }
    void folder(const std::string& drivePath) { fs::create_directories(host(drivePath)); }
    std::string read(const std::string& drivePath) const {
        return fw::test::readHostFile(host(drivePath));
    }
    bool exists(const std::string& drivePath) const { return fs::exists(host(drivePath)); }
    void copy(const std::string& from = "", const std::string& to = "") {
        app.CopyResourceFolder(from, to, "C:\\src", "C:\\dst");
    }
};

TEST_F(ResourceFolderCopyTest, FolderWithOnlyDotEntriesLeavesTheDestinationAlone) {
    folder("C:\\src");
    fw::fault::FaultInjector counter;
    copy();
    EXPECT_EQ(counter.calls(Call::findFirst), 1);
    EXPECT_GE(counter.calls(Call::findNext), 1);
    EXPECT_EQ(counter.calls(Call::getFileAttributes), 0);
    EXPECT_EQ(counter.calls(Call::createDirectory), 0);
    EXPECT_EQ(counter.calls(Call::findClose), 1);
    EXPECT_FALSE(exists("C:\\dst"));
    EXPECT_TRUE(platform.recorded.events.empty());
    EXPECT_EQ(platform.recorded.standardOutput, "");
}

TEST_F(ResourceFolderCopyTest, MissingSourceReportsOnStandardOutputOnly) {
    copy();
    EXPECT_EQ(platform.recorded.standardOutput, "No files found\n\n");
    EXPECT_FALSE(exists("C:\\dst"));
    EXPECT_TRUE(platform.recorded.events.empty());
}

TEST_F(ResourceFolderCopyTest, CopiesTheWholeTreeDepthFirstReplacingExistingFiles) {
    put("C:\\src\\a.txt", "new a");
    put("C:\\src\\sub\\b.txt", "b");
    put("C:\\src\\sub\\deeper\\c.txt", "c");
    put("C:\\src\\z.txt", "z");
    folder("C:\\src\\empty");
    put("C:\\dst\\a.txt", "old a, longer than the new one");
    folder("C:\\dst\\sub");

    copy();

    EXPECT_EQ(read("C:\\dst\\a.txt"), "new a");
    EXPECT_EQ(read("C:\\dst\\sub\\b.txt"), "b");
    EXPECT_EQ(read("C:\\dst\\sub\\deeper\\c.txt"), "c");
    EXPECT_EQ(read("C:\\dst\\z.txt"), "z");
    EXPECT_TRUE(fs::is_directory(host("C:\\dst\\empty")));
    EXPECT_TRUE(fs::is_empty(host("C:\\dst\\empty")));
    EXPECT_TRUE(platform.recorded.events.empty());

    // Each subfolder is copied whole where it is met: its files come one after another.
    const std::vector<std::string>& sources = platform.recorded.copySources;
    ASSERT_EQ(sources.size(), 4u);
    const auto inSub = [](const std::string& s) { return s.rfind("C:\\src\\sub\\", 0) == 0; };
    const auto first = std::find_if(sources.begin(), sources.end(), inSub);
    ASSERT_LE(first + 2, sources.end());
    EXPECT_TRUE(inSub(first[0]) && inSub(first[1]));
}

TEST_F(ResourceFolderCopyTest, SkipsThumbsDbFilesByTheirTrimmedExactName) {
    put("C:\\src\\Thumbs.db");
    put("C:\\src\\a\\b\\Thumbs.db");
    put("C:\\src\\lower\\thumbs.db");
    put("C:\\src\\upper\\THUMBS.DB");
    put("C:\\src\\blank\\ Thumbs.db");
    put("C:\\src\\blank\\ other.txt");
    put("C:\\src\\asfolder\\Thumbs.db\\inner.txt");
    folder("C:\\dst");

    copy();

    EXPECT_FALSE(exists("C:\\dst\\Thumbs.db"));
    EXPECT_FALSE(exists("C:\\dst\\a\\b\\Thumbs.db"));
    EXPECT_TRUE(fs::is_directory(host("C:\\dst\\a\\b")));
    EXPECT_TRUE(exists("C:\\dst\\lower\\thumbs.db"));
    EXPECT_TRUE(exists("C:\\dst\\upper\\THUMBS.DB"));
    EXPECT_FALSE(exists("C:\\dst\\blank\\ Thumbs.db"));
    EXPECT_TRUE(exists("C:\\dst\\blank\\ other.txt"));
    EXPECT_TRUE(exists("C:\\dst\\asfolder\\Thumbs.db\\inner.txt"));
    EXPECT_TRUE(platform.recorded.events.empty());
}

TEST_F(ResourceFolderCopyTest, ReplacesTextInFileNamesButNeverInFolderNames) {
    struct Case {
        std::string from;
        std::string to;
        std::string name;
        std::string copiedAs;
    };
    const Case cases[] = {
        {"abc", "xyz", "abc_abc.txt", "xyz_xyz.txt"},
        {"", "xyz", "abc_abc.txt", "abc_abc.txt"},
        {"ABC", "xyz", "abc.txt", "abc.txt"},
        {"a", "aa", "aXa.txt", "aaXaa.txt"},  // replaced text is not scanned again
        {"aa", "b", "aaa.txt", "ba.txt"},     // left to right, without overlap
        {"abc", "", "abcd.txt", "d.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from + " -> " + c.to + " in " + c.name);
        fs::remove_all(host("C:\\src"));
        fs::remove_all(host("C:\\dst"));
        put("C:\\src\\abc\\" + c.name, c.name);
        folder("C:\\dst");
        copy(c.from, c.to);
        EXPECT_EQ(read("C:\\dst\\abc\\" + c.copiedAs), c.name);
        EXPECT_EQ(std::distance(fs::directory_iterator(host("C:\\dst")), {}), 1);
        EXPECT_EQ(std::distance(fs::directory_iterator(host("C:\\dst\\abc")), {}), 1);
    }
}

// Planted with POSIX calls; and wine run by root replaces a read-only file.
#ifndef _WIN32
TEST_F(ResourceFolderCopyTest, WhatCannotBeCopiedGetsOneNoticeEachAndTheCopyGoesOn) {
    const auto notice = [](const std::string& source, const std::string& destination) {
        return std::string("Remind ! Failed to copy a resource file '") + source + "'\n" +
               "to the new resource file '" + destination + "'. \n" +
               "Note: if failed be copied files are not used later (such as .ncd ,opt), you "
               "may continue without any problem." +
               "First need to close an running product for it (such as .ncd ,opt).";
    };
    const std::string outside = host("C:\\outside\\keep.txt");
    struct Case {
        const char* what;
        std::function<void()> plant;
        std::string failed;  // the entry named in the notice; empty: none
    };
    const Case cases[] = {
        {"read-only destination file",
         [&] {
             put("C:\\src\\locked.ncd", "new");
             put("C:\\dst\\locked.ncd", "kept");
             ASSERT_EQ(chmod(host("C:\\dst\\locked.ncd").c_str(), 0444), 0);
         },
         "locked.ncd"},
        {"a FIFO, refused at once",
         [&] { ASSERT_EQ(mkfifo(host("C:\\src\\pipe").c_str(), 0644), 0); }, "pipe"},
        {"a name the code page cannot carry", [&] { put("C:\\src\\bad\xFF.txt"); }, "bad?.txt"},
        {"a folder link that loops, not followed",
         [&] { ASSERT_EQ(symlink(".", host("C:\\src\\loop").c_str()), 0); }, "loop"},
        {"a second hard link: a new file, the other link untouched",
         [&] {
             put("C:\\src\\hard.txt", "new");
             ASSERT_EQ(link(outside.c_str(), host("C:\\dst\\hard.txt").c_str()), 0);
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(host("C:\\src"));
        fs::remove_all(host("C:\\dst"));
        put("C:\\outside\\keep.txt", "keep");
        folder("C:\\dst");
        for (const char* name : {"a.txt", "m.txt", "z.txt"}) {
            put(std::string("C:\\src\\") + name, name);
        }
        c.plant();
        platform.recorded = {};

        copy();

        const std::vector<std::string> expected =
            c.failed.empty()
                ? std::vector<std::string>{}
                : std::vector<std::string>{notice("C:\\src\\" + c.failed, "C:\\dst\\" + c.failed)};
        EXPECT_EQ(platform.recorded.notices, expected);
        for (const std::string& caption : platform.recorded.captions) {
            EXPECT_EQ(caption, fw::test::kTitle);
        }
        for (const char* name : {"a.txt", "m.txt", "z.txt"}) {
            EXPECT_EQ(read(std::string("C:\\dst\\") + name), name);
        }
        EXPECT_EQ(fw::test::readHostFile(outside), "keep");
        EXPECT_EQ(std::distance(fs::directory_iterator(host("C:\\outside")), {}), 1);
    }
    EXPECT_EQ(read("C:\\dst\\hard.txt"), "new");
}
#endif

TEST_F(ResourceFolderCopyTest, FailedListingStepEndsThatFolderWithoutRepeatingAnEntry) {
    for (int i = 0; i < 8; ++i) {
        put("C:\\src\\f" + std::to_string(i));
    }
    fw::fault::FaultInjector faults;
    // The first entry comes with the listing's start, two more with the next steps.
    faults.failNth(Call::findNext, 3);

    copy();

    const std::vector<std::string>& sources = platform.recorded.copySources;
    const std::set<std::string> distinct(sources.begin(), sources.end());
    EXPECT_EQ(distinct.size(), sources.size());
    EXPECT_GE(sources.size(), 1u);  // at most "." and ".." came before a file
    EXPECT_LE(sources.size(), 3u);
    EXPECT_EQ(faults.calls(Call::findNext), 3);
    EXPECT_EQ(faults.calls(Call::findClose), 1);
    EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(host("C:\\dst")), {})),
              sources.size());
    EXPECT_TRUE(platform.recorded.events.empty());
    EXPECT_EQ(platform.recorded.standardOutput, "");
}

TEST_F(ResourceFolderCopyTest, PathTheFileSystemRefusesAsTooLongGetsItsOwnNotice) {
#ifdef _WIN32
    GTEST_SKIP() << "wine takes paths beyond MAX_PATH, which Windows refuses";
#endif
    const std::string longName(120, 'n');
    const std::string deepDestination = "C:\\" + std::string(150, 'd');
    put("C:\\src\\" + longName, "long");
    put("C:\\src\\short.txt", "short");

    app.CopyResourceFolder("", "", "C:\\src", deepDestination);

    const std::string destination = deepDestination + "\\" + longName;
    ASSERT_EQ(platform.recorded.notices.size(), 1u);
    EXPECT_NE(platform.recorded.notices[0].find("'" + destination + "'. \n"), std::string::npos);
    EXPECT_NE(platform.recorded.notices[0].find("'C:\\src\\" + longName + "'\n"),
              std::string::npos);
    EXPECT_EQ(read(deepDestination + "\\short.txt"), "short");
}

}  // namespace
