// The installation run end to end on the real file backend in a throw-away drive
// prefix, with notices, the command line and the sleep observed through the seam.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/FerrowickApp.h"
#include "platform/fault/FaultPlatform.h"
#include "tests/app/TestPayload.h"
#include "tests/support/Noise.h"
#include "tests/support/PrefixSnapshot.h"
#include "tests/support/RawZip.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TempPrefix.h"

namespace {

namespace fs = std::filesystem;
using fw::test::EntriesNamed;
using fw::test::PayloadOf;

// The notices as the user must read them, piece by piece.
const std::string kOpening =
    std::string("No problem, you can officially start to install the software 'Orvelin'.\n") +
    "However, it takes about three minutes to unpack the data, please be patient.";
const std::string kPreparation =
    std::string("Note: After closing this message box, it usually takes \n") +
    "no more than one minute to prepare data, please be patient! \n\n" +
    "If you can't start the installation for more than three minutes, \n" +
    "it means that the installation has failed. Please try another computer system.";
const std::string kPatience =
    "It will take more than half a minute to load a large amount of data, please be patient!";
const std::string kCompletion =
    std::string(
        "Data preparation has been completed, now it is time to install the 'Orvelin' tool.\n\n") +
    "(1) Note: If the black blank image of the command box'C:\\ WINDOW \\ system32 \\ cmd.exe'\n" +
    "displayed by the video system still exists, please close it!\n" +
    "(2) When asking about the official installation, please try to select 'Yes'\n" +
    "or 'Continue to the next step', and the installation can be completed in one go.\n\n\n\n" +
    std::string(38, '*') + "\n" + "AFTER INSTALL VISUAL ORVELIN SUCCEEDE," + std::string(2, ' ') +
    "IF YOU WILL \n" + "YOU CAN TO OPEN THE SOFTWARE PRODUCT (half million program code): \n" +
    "C:\\Product_Released\\Pellmoor\\Pellmoor.exe \n" +
    "THAT HAS BEEN MADE BY A MIDDEL SCHOOL STUDEN THEMSELF IN ONE HOUR CLASSROOM TEACHING. \n" +
    std::string(7, ' ') + "TRY  Excute  IT,  SELECT  'form'  IN  MENU  BAR !" + std::string(4, ' ');

const std::string kShippedCommand = "C:/Temp/_Download/_UnZip/disk1/SETUP.exe";
const std::string kRootCommand = "C:/Temp/_Download/_UnZip/SETUP.exe";

class InstallSequenceTest : public ::testing::Test {
  protected:
    fw::test::TempPrefix prefix;
    fw::test::RecordingPlatform platform;

    bool exists(const char* drivePath) const { return fs::exists(prefix.host(drivePath)); }

    // Runs the installation through the application entry; true for exit status 0.
    bool install(const std::vector<std::string>& itemNames) {
        platform.script.payload = PayloadOf(prefix, EntriesNamed(itemNames));
        return run();
    }
    bool run() {
        CFerrowickApp app;
        status = AfxWinMain();
        return status == 0;
    }
    // The first folder that the resource folder copy listed (the staging folder's own
    // listings, which empty it, come first).
    std::string firstCopyPattern() const {
        for (const std::string& pattern : platform.recorded.findPatterns) {
            if (pattern.rfind("C:\\Temp\\_Download\\_UnZip", 0) != 0) {
                return pattern;
            }
        }
        return {};
    }
    int status = -1;
};

TEST_F(InstallSequenceTest, RunsThroughNoticesUnpackingCopyAndLaunchInOrder) {
    ASSERT_TRUE(
        fw::test::writeHostFile(prefix.host("C:\\Tools\\res\\Pellmoor\\Pellmoor.exe"), "p"));
    ASSERT_TRUE(install({"disk1/DATA.TAG", "disk1/SETUP.EXE", "disk1/sub/x.cab"}));

    // Progress is shown from the end of the preparation notice to the completion notice,
    // item by item in archive order, in the items' unpacked bytes.
    const std::vector<std::string> expected = {
        "notice:" + kOpening,
        "notice:" + kPreparation,
        "progress:BRASKETTLE|Unpacking the installation files|3|44",
        "progress end",
        "notice:" + kCompletion,
        "run:" + kShippedCommand,
        "sleep:5000",
    };
    EXPECT_EQ(platform.recorded.events, expected);
    const std::vector<std::pair<uint64_t, uint64_t>> progress = {{1, 14}, {2, 29}, {3, 44}};
    std::vector<std::pair<uint64_t, uint64_t>> updates;
    for (const fw::Progress& p : platform.recorded.progress) {
        updates.emplace_back(p.items, p.bytes);
    }
    EXPECT_EQ(updates, progress);
    for (const std::string& caption : platform.recorded.captions) {
        EXPECT_EQ(caption, fw::test::kTitle);
    }
    EXPECT_EQ(fw::test::readHostFile(prefix.host("C:\\Temp\\_Download\\_UnZip\\disk1\\sub\\x.cab")),
              "disk1/sub/x.cab");
    EXPECT_FALSE(exists("C:\\Temp\\_Download\\_UnZip\\Morvanta.zip"));
    EXPECT_EQ(fw::test::readHostFile(prefix.host("C:\\Product_Released\\Pellmoor\\Pellmoor.exe")),
              "p");
    // The application object's exit removed the set-up program it launched.
    EXPECT_FALSE(exists("C:\\Temp\\_Download\\_UnZip\\disk1\\SETUP.EXE"));
    EXPECT_TRUE(exists("C:\\Temp\\_Download\\_UnZip\\disk1\\DATA.TAG"));
}

// With one worker item 600 is not even begun; with several it may be, but items 0 to 599
// are always unpacked (and reported) before the notice.
TEST_F(InstallSequenceTest, PatienceNoticeComesOnceBeforeItem600OfMoreThan600) {
    for (const auto& [items, workers] : {std::pair{600, 1}, {601, 1}, {600, 4}, {601, 4}}) {
        SCOPED_TRACE(std::to_string(items) + " items, workers " + std::to_string(workers));
        SetUnpackWorkerLimit(workers);
        std::vector<std::string> names;
        for (int i = 0; i < items; ++i) {
            names.push_back("disk1/f" + std::to_string(i));
        }
        platform.recorded = {};
        bool item599Unpacked = false;
        bool item600Unpacked = true;
        platform.script.onNotice = [&](const std::string& text) {
            if (text == kPatience) {
                item599Unpacked = exists("C:\\Temp\\_Download\\_UnZip\\disk1\\f599");
                item600Unpacked = exists("C:\\Temp\\_Download\\_UnZip\\disk1\\f600");
            }
        };
        fs::remove_all(prefix.host("C:\\Temp"));
        ASSERT_TRUE(install(names));

        std::vector<std::string> expected = {kOpening, kPreparation, kCompletion};
        if (items > 600) {
            expected.insert(expected.begin() + 2, kPatience);
            EXPECT_TRUE(item599Unpacked);
            EXPECT_TRUE(workers > 1 || !item600Unpacked);
        }
        EXPECT_EQ(platform.recorded.notices, expected);
        EXPECT_TRUE(
            exists(("C:\\Temp\\_Download\\_UnZip\\disk1\\f" + std::to_string(items - 1)).c_str()));
    }
    SetUnpackWorkerLimit(4);
}

TEST_F(InstallSequenceTest, LaunchesSetupInTheFirstTopFolderFound) {
    struct Case {
        std::vector<std::string> items;
        std::string command;
    };
    const std::vector<Case> cases = {
        {{"readme.txt", "disk1/a.txt", "other/b.txt"}, kShippedCommand},
        {{"a/b\\x.txt"}, "C:/Temp/_Download/_UnZip/a/b/SETUP.exe"},
        {{"disk1 /x.txt"}, kShippedCommand},
        {{"/x.txt", "next/y.txt"}, "C:/Temp/_Download/_UnZip/next/SETUP.exe"},
        {{"a.txt", "b.txt"}, kRootCommand},
        {{}, kRootCommand},
        {{"my disk/a.txt"}, "\"\"C:/Temp/_Download/_UnZip/my disk/SETUP.exe\"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.items.empty() ? std::string("empty archive") : c.items.front());
        platform.recorded = {};
        ASSERT_TRUE(install(c.items));
        EXPECT_EQ(platform.recorded.commands, std::vector<std::string>{c.command});
    }
}

TEST_F(InstallSequenceTest, AnUnpackThatFailedIsReportedAndStopsBeforeTheCopyAndTheLaunch) {
    const std::string unzip = "C:\\Temp\\_Download\\_UnZip\\";
    const std::string good = PayloadOf(prefix, EntriesNamed({"disk1/a.txt", "disk1/sub/b.txt"}));
    std::vector<std::string> many;
    for (int i = 0; i < 7; ++i) {
        many.push_back("disk1/f" + std::to_string(i));
    }
    // The writer ends names at a NUL: the byte goes in afterwards, in both headers.
    std::string withNul = PayloadOf(prefix, EntriesNamed({"disk1/a.txt", "disk1/b~c.txt"}));
    for (std::size_t at = withNul.find("b~c"); at != std::string::npos;
         at = withNul.find("b~c", at)) {
        withNul[at + 1] = '\0';
    }
    struct Case {
        const char* what;
        std::string payload;
        std::function<void()> plant;        // while the preparation notice is up: after the staging
        std::vector<std::string> inNotice;  // pieces the failure notice must hold
    };
    const Case cases[] = {
        // A bare prefix stages an empty file; garbage stages a file that is no archive.
        {"empty archive file",
         std::string(54, 'B'),
         [] {},
         {"The installation archive could not be read"}},
        {"no archive",
         std::string(54, 'B') + "PK junk",
         [] {},
         {"The installation archive could not be read"}},
        {"a file where a folder belongs",
         good,
         [&] { fw::test::writeHostFile(prefix.host(unzip + "disk1\\sub"), "file"); },
         {"1 of the 2 items in the installation archive could not be unpacked:\n"
          "C:/Temp/_Download/_UnZip/disk1/sub/b.txt: its folder could not be made"}},
        {"a folder where a file belongs",
         good,
         [&] { fs::create_directories(prefix.host(unzip + "disk1\\a.txt")); },
         {"C:/Temp/_Download/_UnZip/disk1/a.txt: access to the file was denied"}},
        {"a name with a NUL byte",
         withNul,
         [] {},
         {"1 of the 2 items in the installation archive could not be unpacked:\n",
          "\nitem 2 of the archive: its name in the archive is damaged (it holds a NUL "
          "byte)\n"}},
        {"an item of 4 GiB or more",
         std::string(54, 'B') +
             fw::test::buildArchive(
                 {{.name = "disk1/a.txt", .content = "a"},
                  {.name = "disk1/huge", .content = "h", .zip64CentralSize = uint64_t{5} << 30}}),
         [] {},
         {"\nitem 2 of the archive: it is too large (4 GiB or more)\n"}},
        {"more than five",
         PayloadOf(prefix, EntriesNamed(many)),
         [&] { fw::test::writeHostFile(prefix.host(unzip + "disk1"), "file"); },
         {"7 of the 7 items in the installation archive could not be unpacked. The first of "
          "them:\nC:/Temp/_Download/_UnZip/disk1/f0: ",
          "disk1/f4: its folder could not be made (a file may stand in its place)\n\nThe "
          "set-up program has not been started. Please free some disk space, close any "
          "other set-up windows, and then run this program again."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(prefix.host("C:\\Temp"));
        fs::remove_all(prefix.host("C:\\Product_Released"));
        platform.script.onNotice = [&](const std::string& text) {
            if (text == kPreparation) {
                c.plant();
            }
        };
        platform.recorded = {};
        platform.script.payload = c.payload;
        EXPECT_FALSE(run());
        EXPECT_EQ(status, 2);
        ASSERT_EQ(platform.recorded.notices.size(), 3u);
        EXPECT_EQ(platform.recorded.notices[1], kPreparation);
        const std::string& notice = platform.recorded.notices[2];
        EXPECT_EQ(notice.rfind("The installation files could not be prepared.\n\n", 0), 0u);
        for (const std::string& piece : c.inNotice) {
            EXPECT_NE(notice.find(piece), std::string::npos) << notice;
        }
        EXPECT_EQ(notice.find("f5"), std::string::npos) << "five are named at most";
        EXPECT_TRUE(platform.recorded.commands.empty());
        EXPECT_EQ(platform.recorded.events.back(), "notice:" + notice) << "no wait";
        EXPECT_FALSE(exists("C:\\Temp\\_Download\\_UnZip\\Morvanta.zip"));
        EXPECT_FALSE(exists("C:\\Product_Released"));
    }
}

#ifndef _WIN32
// One worker against four, over payloads that unpack, fail in each way, or touch one path
// from several items: the notices, the log, the exit status and the unpacked tree must be
// the same.
TEST_F(InstallSequenceTest, OneWorkerAndFourLeaveTheSameTreeLogAndStatus) {
    const std::string unzip = "C:\\Temp\\_Download\\_UnZip\\";
    std::vector<std::string> many;
    for (int i = 0; i < 650; ++i) {
        many.push_back("disk1/" + std::to_string(i % 7) + "/f" + std::to_string(i));
    }
    std::vector<fw::test::RawEntry> sharing = {
        {.name = "disk1/SETUP.EXE", .content = "setup"},
        {.name = "disk1/ro.txt", .content = "read-only", .external = 0x21},
        {.name = "disk1/RO.TXT", .content = "after it"},
        {.name = "disk1/a", .content = "a file"},
        {.name = "disk1/A/b.txt", .content = "below a file"},
        {.name = "disk1/huge", .content = "h", .zip64CentralSize = uint64_t{5} << 30},
    };
    for (int i = 0; i < 30; ++i) {
        sharing.push_back({.name = "disk1/big/" + std::to_string(i),
                           .content = fw::test::noise(20000 + 1000 * i),
                           .method = 8});
    }
    struct Case {
        const char* what;
        std::string payload;
        std::function<void()> plant;
    };
    const Case cases[] = {
        {"unpacks", PayloadOf(prefix, EntriesNamed(many)), [] {}},
        {"items touch one path", std::string(54, 'B') + fw::test::buildArchive(sharing), [] {}},
        {"a file where a folder belongs", PayloadOf(prefix, EntriesNamed(many)),
         [&] { fw::test::writeHostFile(prefix.host(unzip + "disk1\\3"), "file"); }},
        {"an earlier run's read-only files", PayloadOf(prefix, EntriesNamed(many)),
         [&] {
             for (const char* name : {"disk1\\1\\f1", "disk1\\2\\f600"}) {
                 fw::test::writeHostFile(prefix.host(unzip + name), "old");
                 fs::permissions(prefix.host(unzip + name), fs::perms::owner_write,
                                 fs::perm_options::remove);
             }
         }},
    };
    struct Run {
        int status = -1;
        std::vector<std::string> events;
        std::string log;
        std::vector<std::string> tree;
    };
    // The log's lines are stamped alike, so that only what they say is compared.
    platform.script.localTime = fw::SystemTime{2026, 12, 5, 11, 12, 3, 4, 123};
    const auto runWith = [&](const Case& c, int workers) {
        fs::remove_all(prefix.host("C:\\Temp"));
        fs::remove_all(prefix.host("C:\\Product_Released"));
        fs::create_directories(prefix.host(unzip));
        c.plant();
        const auto started = fs::file_time_type::clock::now() - std::chrono::seconds(2);
        platform.recorded = {};
        platform.script.payload = c.payload;
        SetUnpackWorkerLimit(workers);
        Run r;
        {
            CFerrowickApp app;
            r.status = AfxWinMain({{{"/log", true}, {"C:\\run.log", true}}});
        }
        r.events = platform.recorded.events;
        r.log = fw::test::readHostFile(prefix.host("C:\\run.log"));
        r.tree = fw::test::treeLines(prefix.host(unzip), started);
        return r;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Run one = runWith(c, 1);
        const Run four = runWith(c, 4);
        EXPECT_EQ(one.status, four.status);
        EXPECT_EQ(one.events, four.events);
        EXPECT_EQ(one.log, four.log);
        EXPECT_EQ(one.tree, four.tree);
        EXPECT_GT(one.tree.size(), 6u);
    }
    SetUnpackWorkerLimit(4);
}

TEST_F(InstallSequenceTest, LinksInTheStagingAndProductFoldersAreNeverFollowed) {
    const std::string unzip = "C:\\Temp\\_Download\\_UnZip\\";
    const std::string outside = prefix.host("C:\\outside");
    const std::string refused = ": a link or junction stands in its way";
    const auto plantLink = [&](const std::string& target, const std::string& drivePath) {
        fs::create_directories(fs::path(prefix.host(drivePath)).parent_path());
        ASSERT_EQ(symlink(target.c_str(), prefix.host(drivePath).c_str()), 0);
    };
    const std::string inItsPlace =
        " cannot be made: a file, or a link or junction, stands in its place";
    enum class When { before, whileUnpacking };  // an earlier run's, or one that comes meanwhile
    struct Case {
        const char* what;
        std::function<void()> plant;
        When when;
        int status;
        std::string reported;  // in the last notice
    };
    const Case cases[] = {
        {"a link at a level", [&] { plantLink(outside, unzip + "disk1"); }, When::whileUnpacking, 2,
         "C:/Temp/_Download/_UnZip/disk1/a.txt" + refused},
        {"a link at a read-only file",
         [&] { plantLink(outside + "/ro.txt", unzip + "disk1\\a.txt"); }, When::whileUnpacking, 2,
         "C:/Temp/_Download/_UnZip/disk1/a.txt" + refused},
        {"a link to nothing at a file",
         [&] { plantLink(outside + "/new.txt", unzip + "disk1\\a.txt"); }, When::whileUnpacking, 2,
         "C:/Temp/_Download/_UnZip/disk1/a.txt" + refused},
        // An earlier run's links are removed themselves, with the staging folder's contents.
        {"a link at a level, left before", [&] { plantLink(outside, unzip + "disk1"); },
         When::before, 0, kCompletion},
        {"a link at a read-only file, left before",
         [&] { plantLink(outside + "/ro.txt", unzip + "disk1\\a.txt"); }, When::before, 0,
         kCompletion},
        {"a link to nothing, left before",
         [&] { plantLink(outside + "/new.txt", unzip + "old\\gone.txt"); }, When::before, 0,
         kCompletion},
        {"a link for the staging archive, left before",
         [&] { plantLink(outside + "/a.txt", unzip + "Morvanta.zip"); }, When::before, 0,
         kCompletion},
        {"a second hard link",
         [&] {
             fs::create_directories(prefix.host(unzip + "disk1"));
             ASSERT_EQ(
                 link((outside + "/a.txt").c_str(), prefix.host(unzip + "disk1\\a.txt").c_str()),
                 0);
         },
         When::before, 0, kCompletion},
        {"a link for the product folder",
         [&] { plantLink(outside, "C:\\Product_Released\\Pellmoor"); }, When::before, 0,
         "Remind ! Failed to copy a resource file 'C:\\Tools\\res\\Pellmoor\\p.txt'"},
        // The launcher's own folders themselves: nothing goes through them.
        {"a link for the staging folder",
         [&] { plantLink(outside, "C:\\Temp\\_Download\\_UnZip"); }, When::before, 1,
         "The folder C:\\Temp\\_Download\\_UnZip" + inItsPlace},
        {"a link for the folder above it", [&] { plantLink(outside, "C:\\Temp\\_Download"); },
         When::before, 1, "The folder C:\\Temp\\_Download" + inItsPlace},
    };
    platform.script.payload = PayloadOf(prefix, EntriesNamed({"disk1/a.txt", "disk1/SETUP.EXE"}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* folder : {"C:\\Temp", "C:\\Product_Released", "C:\\outside"}) {
            fs::remove_all(prefix.host(folder));
        }
        for (const char* name : {"a.txt", "ro.txt", "SETUP.EXE"}) {
            ASSERT_TRUE(fw::test::writeHostFile(outside + "/" + name, "keep"));
        }
        chmod((outside + "/ro.txt").c_str(), 0444);
        ASSERT_TRUE(fw::test::writeHostFile(prefix.host("C:\\Tools\\res\\Pellmoor\\p.txt"), "p"));
        platform.script.onNotice = [&](const std::string& text) {
            if (c.when == When::whileUnpacking && text == kPreparation) {
                c.plant();
            }
        };
        if (c.when == When::before) {
            c.plant();
        }
        const fw::test::PrefixSnapshot before = fw::test::snapshotPrefix(prefix.root());
        platform.recorded = {};

        run();

        EXPECT_EQ(status, c.status);
        ASSERT_FALSE(platform.recorded.notices.empty());
        EXPECT_NE(platform.recorded.notices.back().find(c.reported), std::string::npos)
            << platform.recorded.notices.back();
        const auto changed = fw::test::outside(
            fw::test::changedPaths(before, fw::test::snapshotPrefix(prefix.root())),
            {"drive_c/Temp", "drive_c/Temp/_Download", "drive_c/Product_Released"},
            {"drive_c/Temp/_Download/_UnZip", "drive_c/Product_Released/Pellmoor"});
        EXPECT_TRUE(changed.empty()) << ::testing::PrintToString(changed);
        EXPECT_EQ(std::distance(fs::directory_iterator(outside), {}), 3);
        EXPECT_EQ(fs::status(outside + "/ro.txt").permissions() & fs::perms::owner_write,
                  fs::perms::none);
        if (c.when == When::before && c.status == 0) {
            std::error_code ec;
            for (const auto& e : fs::recursive_directory_iterator(prefix.host(unzip), ec)) {
                EXPECT_FALSE(e.is_symlink()) << e.path();
            }
        }
    }
}

TEST_F(InstallSequenceTest, AFullDiskIsReportedAndNothingIsLaunched) {
    // Room for the staging archive and two of its six items.
    const std::string unzip = prefix.host("C:\\Temp\\_Download\\_UnZip");
    fs::create_directories(unzip);
    if (geteuid() != 0) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    if (mount("tmpfs", unzip.c_str(), "tmpfs", 0, "size=4m") != 0) {
        GTEST_SKIP() << "no tmpfs can be mounted here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{unzip};
    std::vector<fw::zipwrite::Entry> entries =
        EntriesNamed({"disk1/SETUP.EXE", "disk1/a", "disk1/b", "disk1/c", "disk1/d", "disk1/e"});
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].data = fw::test::noise(512 << 10, static_cast<unsigned>(i));
        entries[i].deflate = false;
    }
    platform.script.payload = PayloadOf(prefix, entries);

    EXPECT_FALSE(run());
    EXPECT_EQ(status, 2);
    ASSERT_EQ(platform.recorded.notices.size(), 3u);
    const std::string& notice = platform.recorded.notices.back();
    EXPECT_NE(notice.find(": the disk is full\n"), std::string::npos) << notice;
    EXPECT_TRUE(platform.recorded.commands.empty());
    EXPECT_FALSE(exists("C:\\Product_Released"));
    // Every item whose file is not whole is counted: none passes for complete. (The
    // set-up program is removed at exit: the notice tells whether it failed. Which items
    // the disk had room for depends on the order the workers took them in.)
    int damaged = notice.find("disk1/SETUP.EXE: ") != std::string::npos ? 1 : 0;
    for (const fw::zipwrite::Entry& e : entries) {
        damaged +=
            e.name != "disk1/SETUP.EXE" && fw::test::readHostFile(unzip + "/" + e.name) != e.data;
    }
    EXPECT_GT(damaged, 0);
    EXPECT_NE(notice.find(std::to_string(damaged) + " of the 6 items"), std::string::npos)
        << notice;
}

#endif

TEST_F(InstallSequenceTest, ARunOverAnEarlierRunsTreeReplacesItsReadOnlyFiles) {
    // An earlier run's read-only file, complete or cut short by an interruption, and an
    // older payload's content: the new run leaves exactly its own.
    const std::string unzip = "C:\\Temp\\_Download\\_UnZip\\";
    auto payload = [&](const std::string& text) {
        std::vector<fw::zipwrite::Entry> entries = EntriesNamed({"disk1/a.txt", "disk1/ro.ini"});
        entries[1].data = text;
        entries[1].externalAttributes = 0x21;
        return PayloadOf(prefix, entries);
    };
    ASSERT_TRUE(fw::test::writeHostFile(prefix.host(unzip + "disk1\\a.txt"), "cut"));
    fs::permissions(prefix.host(unzip + "disk1\\a.txt"),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    for (const std::string text : {"older", "newer contents"}) {
        platform.recorded = {};
        platform.script.payload = payload(text);
        ASSERT_TRUE(run()) << text;
        EXPECT_EQ(platform.recorded.notices.back(), kCompletion);
        EXPECT_EQ(fw::test::readHostFile(prefix.host(unzip + "disk1\\ro.ini")), text);
        EXPECT_EQ(fw::test::readHostFile(prefix.host(unzip + "disk1\\a.txt")), "disk1/a.txt");
        EXPECT_EQ(fw::os().getFileAttributes((unzip + "disk1\\ro.ini").c_str()) & 0x01, 0x01u);
    }
}

TEST_F(InstallSequenceTest, ASecondLauncherTouchesNothingAndSaysSetUpIsRunning) {
    const std::string setup = prefix.host("C:\\Temp\\_Download\\_UnZip\\disk1\\SETUP.EXE");
    ASSERT_TRUE(fw::test::writeHostFile(setup, "the first launcher's"));
    platform.script.anotherLauncherRunning = true;
    EXPECT_FALSE(install({"disk1/a.txt"}));
    EXPECT_EQ(status, 3);
    ASSERT_EQ(platform.recorded.events.size(), 1u);
    EXPECT_EQ(platform.recorded.events[0].rfind("notice:Set-up is already running", 0), 0u);
    EXPECT_TRUE(fs::exists(setup));
    EXPECT_FALSE(exists("C:\\Temp\\_Download\\_UnZip\\Morvanta.zip"));
    EXPECT_FALSE(exists("C:\\Product_Released"));
}

TEST_F(InstallSequenceTest, TopFolderThatNoQuotingMakesSafeIsReportedAndLaunchesNothing) {
    EXPECT_FALSE(install({"%PATH%/a.txt", "disk1/b.txt"}));
    EXPECT_EQ(status, 4);
    EXPECT_TRUE(platform.recorded.commands.empty());
    ASSERT_EQ(platform.recorded.notices.size(), 4u);
    EXPECT_EQ(platform.recorded.notices[2], kCompletion);
    EXPECT_EQ(platform.recorded.notices[3].rfind("The installation files have been prepared, but "
                                                 "the set-up program was not started",
                                                 0),
              0u);
    EXPECT_EQ(platform.recorded.events.back(), "notice:" + platform.recorded.notices[3]);
}

// The lines of a log file, without their line ends.
std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

TEST_F(InstallSequenceTest, TheCommandLineDecidesNoticesLaunchLogAndExitStatus) {
    const std::string unzip = "C:\\Temp\\_Download\\_UnZip\\";
    const std::string defaultLog = "C:\\Temp\\_Download\\Ferrowick.log";
    const std::string givenLog = "C:\\Logs\\run.log";
    const std::string direct = "start:\"C:\\Temp\\_Download\\_UnZip\\disk1\\SETUP.exe\"";
    const std::string launchedDirectly =
        "launch command: \"C:\\Temp\\_Download\\_UnZip\\disk1\\SETUP.exe\"";
    // Every line of the log begins with the local time and the process id.
    platform.script.localTime = fw::SystemTime{2026, 12, 5, 11, 12, 3, 4, 123};
    platform.script.processId = 4242;
    const std::string stamp = "2026-12-11 12:03:04.123 [4242] ";
    // What a silent run that reaches the launch logs, around what a row adds.
    const std::vector<std::string> begun = {
        "start: Ferrowick ", "command line: ", "code page: ", "notices: not shown (/S)",
        "notice: No problem, you can officially start to "
        "install the software 'Orvelin'. ...\n"};
    const auto silentRun = [&](std::vector<std::string> middle, std::string end) {
        std::vector<std::string> lines = begun;
        lines.insert(lines.end(), {"staging archive: C:\\Temp\\_Download\\_UnZip\\Morvanta.zip, ",
                                   "notice: Note: After closing this message box, it usually "
                                   "takes ...\n",
                                   "items: 3, 44 bytes unpacked\n", "progress: 30%: 1 of 3 items",
                                   "progress: 60%: 2 of 3 items",
                                   "progress: 100%: 3 of 3 items, 44 of 44 bytes\n",
                                   "notice: Data preparation has been completed, now it is time "
                                   "to install the 'Orvelin' tool. ...\n"});
        lines.insert(lines.end(), middle.begin(), middle.end());
        lines.insert(lines.end(), {"SETUP.exe exit status: 3010\n", std::move(end)});
        return lines;
    };
    const std::string copied =
        "resource folder: C:\\Tools\\res\\Pellmoor to C:\\Product_Released\\Pellmoor: 1 file "
        "copied\n";
    const std::vector<std::string> launched =
        silentRun({copied, launchedDirectly + "\n"}, "end: exit status 3010, SETUP.exe's own\n");
    // Nothing at all; the staging folder made, and nothing unpacked; unpacked; and copied.
    enum class Touched { nothing, staging, unpacked, installed };
    // Faults a row puts over the run, and takes off after it.
    std::optional<fw::fault::FaultInjector> faults;
    const auto failing = [&](fw::fault::Call call, const char* pathPart = "") {
        return [&faults, call, pathPart] {
            faults.emplace();
            faults->failFrom(call, 1, pathPart);
        };
    };
    struct Case {
        std::vector<std::string> arguments;
        std::optional<std::string> tail;  // after "--"
        int status;
        std::vector<std::string> shown;   // the beginnings of the notices shown
        std::string run;                  // the launch or usage event, whole unless it is usage
        std::string log;                  // where the log is, if anywhere
        std::vector<std::string> logged;  // some of its lines, in order: their beginnings,
                                          // or whole with a "\n" at the end
        Touched touched;
        std::function<void()> plant = [] {};
    };
    const Case cases[] = {
        {{},
         std::nullopt,
         0,
         {"No problem", "Note: After", "Data preparation"},
         "run:" + kShippedCommand,
         "",
         {},
         Touched::installed},
        {{"/S"}, std::nullopt, 3010, {}, direct, defaultLog, launched, Touched::installed},
        {{"/quiet"},
         std::nullopt,
         3010,
         {},
         direct,
         defaultLog,
         {"command line: /quiet\n", "end: exit status 3010"},
         Touched::installed},
        {{"-s"},
         std::nullopt,
         3010,
         {},
         direct,
         defaultLog,
         {"command line: -s\n", "end: exit status 3010"},
         Touched::installed},
        {{"/S", "/log", givenLog},
         std::nullopt,
         3010,
         {},
         direct,
         givenLog,
         launched,
         Touched::installed,
         [&] { fs::create_directories(prefix.host("C:\\Logs")); }},
        // What follows "--" reaches SETUP.exe as it stands: '%', quotes, '^', '&', NSIS's
        // "/D=" with blanks last and unquoted.
        {{"/S"},
         "/S %PATH% 50% ^ & \"a b\" /D=C:\\Program Files\\Orvelin Space",
         3010,
         {},
         direct + " /S %PATH% 50% ^ & \"a b\" /D=C:\\Program Files\\Orvelin Space",
         defaultLog,
         {"command line: /S -- /S %PATH% 50% ^ & \"a b\" /D=C:\\Program Files\\Orvelin Space\n",
          launchedDirectly + " /S %PATH% 50% ^ & \"a b\" /D=C:\\Program Files\\Orvelin Space\n",
          "end: exit status 3010, SETUP.exe's own\n"},
         Touched::installed},
        // With notices, arguments for SETUP.exe start it directly too; the run's status is
        // the launcher's own.
        {{},
         "/quiet",
         0,
         {"No problem", "Note: After", "Data preparation"},
         direct + " /quiet",
         "",
         {},
         Touched::installed},
        {{"/x"},
         std::nullopt,
         5,
         {"The command line cannot be used, so nothing has been done: '/x' is not a "
          "switch of this program.\n\nFerrowick "},
         "",
         "",
         {},
         Touched::nothing},
        {{"/?"}, std::nullopt, 0, {}, "usage:Ferrowick ", "", {}, Touched::nothing},
        {{"/S", "/x"},
         std::nullopt,
         1639,
         {},
         "",
         defaultLog,
         {"command line: /S /x\n",
          "notice: The command line cannot be used, so nothing has been "
          "done: '/x' is not a switch of this program. ...\n",
          "end: exit status 1639, the launcher's: the command line cannot be used\n"},
         Touched::nothing},
        {{"/S", "/log", unzip + "run.log"},
         std::nullopt,
         1639,
         {},
         "",
         defaultLog,
         {"notice: The command line cannot be used, so nothing has been done: the log file '" +
              unzip + "run.log' would lie in C:\\Temp\\_Download\\_UnZip, which",
          "end: exit status 1639"},
         Touched::nothing},
        {{"/S", "/log", "C:\\Product_Released\\Pellmoor\\run.log"},
         std::nullopt,
         1639,
         {},
         "",
         defaultLog,
         {"notice: The command line cannot be used, so nothing has been done: the log file "
          "'C:\\Product_Released\\Pellmoor\\run.log' would lie in "
          "C:\\Product_Released\\Pellmoor, which",
          "end: exit status 1639"},
         Touched::nothing},
        {{"/S"},
         "ok a\nb",
         1639,
         {},
         "",
         defaultLog,
         {"command line: /S -- ok a b\n",
          "notice: The set-up program cannot be started, so nothing has been done: its "
          "arguments hold a control character",
          "end: exit status 1639, the launcher's: the arguments for SETUP.exe cannot be passed\n"},
         Touched::nothing},
        {{},
         "a\tb",
         4,
         {"The set-up program cannot be started, so nothing has been done: its arguments hold a "
          "control character"},
         "",
         "",
         {},
         Touched::nothing},
        {{"/S"},
         std::nullopt,
         1618,
         {},
         "",
         defaultLog,
         {"notice: Set-up is already running on this computer. ...\n",
          "end: exit status 1618, the launcher's: another launcher is running\n"},
         Touched::nothing,
         [&] { platform.script.anotherLauncherRunning = true; }},
        // An item that fails under /S: no notice, and the reason in the log.
        {{"/S"},
         std::nullopt,
         1603,
         {},
         "",
         defaultLog,
         {"items: 3", "failed item: C:/Temp/_Download/_UnZip/disk1/sub/b.txt: ",
          "notice: The installation files could not be prepared. ...\n",
          "end: exit status 1603, the launcher's: items could not be unpacked\n"},
         Touched::unpacked,
         failing(fw::fault::Call::createFile, "b.txt")},
        // A payload that is no archive: said so, and nothing is unpacked.
        {{"/S"},
         std::nullopt,
         1603,
         {},
         "",
         defaultLog,
         {"items: none: the staging archive is no ZIP archive that can be read (the installer "
          "set in the program is damaged)\n",
          "end: exit status 1603, the launcher's: items could not be unpacked\n"},
         Touched::staging,
         [&] { platform.script.payload = std::string(54, 'B') + "PK junk"; }},
        // Installation files that cannot be prepared: the reason in the log, 1603.
        {{"/S"},
         std::nullopt,
         1603,
         {},
         "",
         defaultLog,
         {"staging archive: the installer set could not be loaded from the program: ",
          "notice: The installation files could not be prepared. ...\n",
          "end: exit status 1603, the launcher's: the installer set could not be loaded"},
         Touched::staging,
         failing(fw::fault::Call::findResource)},
        {{"/S"},
         std::nullopt,
         1603,
         {},
         "",
         defaultLog,
         {"staging archive: C:\\Temp\\_Download\\_UnZip\\Morvanta.zip could not be written: ",
          "notice: The installation files could not be prepared. ...\n",
          "end: exit status 1603, the launcher's: the staging archive could not be written\n"},
         Touched::staging,
         failing(fw::fault::Call::writeFile, "")},
        {{"/S"},
         std::nullopt,
         1603,
         {},
         "",
         defaultLog,
         {"not removed: C:\\Temp\\_Download\\_UnZip: ",
          "notice: The installation files could not be prepared. ...\n",
          "end: exit status 1603, the launcher's: the staging folder could not be emptied\n"},
         Touched::staging,
         failing(fw::fault::Call::emptyFolder)},
        // A file the copy cannot replace is logged, and the run goes on.
        {{"/S"},
         std::nullopt,
         3010,
         {},
         direct,
         defaultLog,
         silentRun({"not copied: C:\\Tools\\res\\Pellmoor\\p.txt to "
                    "C:\\Product_Released\\Pellmoor\\p.txt: ",
                    "notice: Remind ! Failed to copy",
                    "resource folder: C:\\Tools\\res\\Pellmoor to C:\\Product_Released\\Pellmoor: "
                    "0 files copied, 1 not copied\n",
                    "launch command: "},
                   "end: exit status 3010"),
         Touched::installed,  // a folder stands where p.txt would
         [&] { fs::create_directories(prefix.host("C:\\Product_Released\\Pellmoor\\p.txt")); }},
        // No resource folder beside the launcher: said so, and the run goes on.
        {{"/S"},
         std::nullopt,
         3010,
         {},
         direct,
         defaultLog,
         // (The system's words, which differ between systems, follow.)
         silentRun({"resource folder: C:\\Tools\\res\\Pellmoor cannot be listed, so nothing "
                    "of it is copied to C:\\Product_Released\\Pellmoor: ",
                    launchedDirectly + "\n"},
                   "end: exit status 3010"),
         Touched::unpacked,
         [&] { fs::remove_all(prefix.host("C:\\Tools\\res")); }},
        // SETUP.exe that cannot be started: why, in the system's words.
        {{"/S"},
         std::nullopt,
         1603,
         {},
         direct,
         defaultLog,
         {launchedDirectly + "\n", "SETUP.exe not started: ",
          "notice: The installation files have been prepared, but the set-up program could not "
          "be started: ",
          "end: exit status 1603, the launcher's: SETUP.exe could not be started\n"},
         Touched::installed,
         [&] { platform.script.programError = fw::kErrorPathNotFound; }},
        {{},
         "/quiet",
         4,
         {"No problem", "Note: After", "Data preparation",
          "The installation files have been prepared, but the set-up program could not be "
          "started: "},
         direct + " /quiet",
         "",
         {},
         Touched::installed,
         [&] { platform.script.programError = fw::kErrorPathNotFound; }},
        // Without /S the notices are shown and logged, and the run ends as it always has.
        {{"/log", givenLog},
         std::nullopt,
         0,
         {"No problem", "Note: After", "Data preparation"},
         "run:" + kShippedCommand,
         givenLog,
         {"notices: shown\n", "notice: No problem", "progress: 100%",
          "launch command: " + kShippedCommand + "\n", "SETUP.exe exit status: 3010\n",
          "end: exit status 0, the launcher's: SETUP.exe was started\n"},
         Touched::installed,
         [&] { fs::create_directories(prefix.host("C:\\Logs")); }},
        // A log that cannot be written does not stop the run.
        {{"/S", "/log", "C:\\NoFolder\\run.log"},
         std::nullopt,
         3010,
         {},
         direct,
         "",
         {},
         Touched::installed},
    };
    const std::string payload =
        PayloadOf(prefix, EntriesNamed({"disk1/DATA.TAG", "disk1/SETUP.EXE", "disk1/sub/b.txt"}));
    platform.script.commandStatus = 3010;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments) + " -- " +
                     ::testing::PrintToString(c.tail));
        for (const char* folder : {"C:\\Temp", "C:\\Product_Released", "C:\\Logs"}) {
            fs::remove_all(prefix.host(folder));
        }
        ASSERT_TRUE(fw::test::writeHostFile(prefix.host("C:\\Tools\\res\\Pellmoor\\p.txt"), "p"));
        platform.script.payload = payload;
        platform.script.anotherLauncherRunning = false;
        platform.script.programError = 0;
        // What an earlier run left in the log: a run refused before it holds the
        // single-instance lock adds its lines after it (another launcher may be writing
        // there); a run that holds the lock starts the log afresh.
        const std::string earlier = "end: exit status 0, an earlier run's last line";
        if (!c.log.empty()) {
            ASSERT_TRUE(fw::test::writeHostFile(prefix.host(c.log), earlier + "\r\n"));
        }
        c.plant();
        platform.recorded = {};
        fw::ProcessCommandLine commandLine;
        for (const std::string& a : c.arguments) {
            commandLine.arguments.push_back({a, true});
        }
        if (c.tail) {
            commandLine.tail = fw::CommandArgument{*c.tail, true};
        }
        {
            CFerrowickApp app;
            status = AfxWinMain(commandLine);
        }
        faults.reset();

        EXPECT_EQ(status, c.status);
        ASSERT_EQ(platform.recorded.notices.size(), c.shown.size());
        for (std::size_t i = 0; i < c.shown.size(); ++i) {
            EXPECT_EQ(platform.recorded.notices[i].rfind(c.shown[i], 0), 0u)
                << platform.recorded.notices[i];
        }
        std::vector<std::string> started;
        bool progressShown = false;
        for (const std::string& event : platform.recorded.events) {
            if (event.rfind("run:", 0) == 0 || event.rfind("start:", 0) == 0 ||
                event.rfind("usage:", 0) == 0) {
                started.push_back(event);
            }
            progressShown = progressShown || event.rfind("progress:", 0) == 0;
        }
        if (c.run.empty()) {
            EXPECT_TRUE(started.empty()) << ::testing::PrintToString(started);
        } else {
            ASSERT_EQ(started.size(), 1u);
            EXPECT_EQ(
                c.run.rfind("usage:", 0) == 0 ? started[0].substr(0, c.run.size()) : started[0],
                c.run);
        }
        // Progress is shown where notices are, and only while items are unpacked.
        EXPECT_EQ(progressShown, !c.shown.empty() && c.touched >= Touched::unpacked);

        for (const std::string& log : {defaultLog, givenLog}) {
            EXPECT_EQ(exists(log.c_str()), log == c.log) << log;
        }
        if (!c.log.empty()) {
            const std::string text = fw::test::readHostFile(prefix.host(c.log));
            std::vector<std::string> lines = LinesOf(text);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.front() == earlier, c.touched == Touched::nothing) << lines.front();
            if (lines.front() == earlier) {
                lines.erase(lines.begin());
            }
            for (std::string& line : lines) {
                ASSERT_EQ(line.rfind(stamp, 0), 0u) << line;
                line = line.substr(stamp.size()) + "\n";
            }
            auto at = lines.begin();
            for (const std::string& expected : c.logged) {
                at = std::find_if(at, lines.end(),
                                  [&](const std::string& l) { return l.rfind(expected, 0) == 0; });
                ASSERT_NE(at, lines.end()) << "not logged in this order: " << expected << "\n"
                                           << text;
            }
        }
        EXPECT_EQ(exists("C:\\Temp\\_Download\\_UnZip\\disk1\\DATA.TAG"),
                  c.touched >= Touched::unpacked);
        EXPECT_EQ(exists("C:\\Product_Released\\Pellmoor\\p.txt"), c.touched == Touched::installed);
        EXPECT_EQ(exists("C:\\Temp\\_Download\\_UnZip"), c.touched != Touched::nothing);
        if (c.touched == Touched::nothing) {
            // Only the log, when it goes beside the staging folder, is made.
            EXPECT_EQ(exists("C:\\Temp"), c.log == defaultLog);
            if (c.log == defaultLog) {
                EXPECT_EQ(std::distance(fs::directory_iterator(prefix.host("C:\\Temp\\_Download")),
                                        fs::directory_iterator()),
                          1);
            }
        }
    }
}

TEST_F(InstallSequenceTest, ResourceFolderIsBesideTheExecutableLessOneBuildFolder) {
    struct Case {
        const char* executable;
        const char* resourceFolder;
    };
    const Case cases[] = {
        {"D:\\Work\\Release\\App.exe", "D:\\Work\\res\\Pellmoor"},
        {"D:\\Work\\Debug\\App.exe", "D:\\Work\\res\\Pellmoor"},
        {"D:\\Work\\debug\\App.exe", "D:\\Work\\res\\Pellmoor"},
        {"D:\\Work\\RELEASE\\App.exe", "D:\\Work\\res\\Pellmoor"},
        {"D:\\Work\\Debug\\Release\\App.exe", "D:\\Work\\Debug\\res\\Pellmoor"},
        {"D:\\Work\\Releases\\App.exe", "D:\\Work\\Releases\\res\\Pellmoor"},
        {"D:\\Work\\XDebug\\App.exe", "D:\\Work\\XDebug\\res\\Pellmoor"},
        {"C:\\App.exe", "C:\\res\\Pellmoor"},
        {"C:\\Debug\\App.exe", "C:\\res\\Pellmoor"},
    };
    const std::string payload = PayloadOf(prefix, EntriesNamed({"disk1/a.txt"}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.executable);
        platform.recorded = {};
        platform.script.modulePath = c.executable;
        platform.script.payload = payload;
        ASSERT_TRUE(run());
        EXPECT_EQ(firstCopyPattern(), std::string(c.resourceFolder) + "\\*");
        EXPECT_TRUE(exists("C:\\Product_Released\\Pellmoor"));
    }
}

TEST_F(InstallSequenceTest, ResourceFolderSearchIgnoresTrailBytesThatLookLikeBackslashes) {
    // In code page 936, 0x81 0x5C is one character whose second byte is a backslash.
    platform.script.codePage = 936;
    platform.script.modulePath = "D:\\W\\Debug\\App\x81\\.exe";
    platform.script.payload = PayloadOf(prefix, EntriesNamed({"disk1/a.txt"}));
    ASSERT_TRUE(run());
    EXPECT_EQ(firstCopyPattern(), "D:\\W\\res\\Pellmoor\\*");
}

TEST_F(InstallSequenceTest, InstallationFilesThatCannotBePreparedAreToldAndEndWithStatus1) {
    const std::string failed = "The installation files could not be prepared.\n\n";
    const std::string good = PayloadOf(prefix, EntriesNamed({"disk1/a.txt"}));
    struct Case {
        const char* what;
        bool hasPayload;
        std::string payload;
        std::function<void(fw::fault::FaultInjector&)> arm;
        std::vector<std::string> notices;  // the beginning of each notice shown
    };
    const std::string notLoaded =
        failed +
        "The installation archive could not be loaded from this program, which may be "
        "damaged.\n\nThe set-up program has not been started. Please get a new copy";
    const Case cases[] = {
        {"no payload", false, "", [](auto&) {}, {kOpening, notLoaded}},
        {"a payload of 53 bytes", true, std::string(53, 'B'), [](auto&) {}, {kOpening, notLoaded}},
        {"an empty payload", true, "", [](auto&) {}, {kOpening, notLoaded}},
        {"the staging archive not written",
         true,
         good,
         [](auto& f) { f.failNth(fw::fault::Call::writeFile, 1); },
         {kOpening, failed + "The installation archive could not be written to "
                             "C:\\Temp\\_Download\\_UnZip\\Morvanta.zip: "}},
        {"the staging archive not closed",
         true,
         good,
         [](auto& f) { f.failNth(fw::fault::Call::closeFile, 1, ""); },
         {kOpening, failed + "The installation archive could not be written to "}},
        {"the staging archive not made",
         true,
         good,
         [](auto& f) { f.failNth(fw::fault::Call::createFile, 1, "Morvanta"); },
         {kOpening, failed + "The installation archive could not be written to "}},
        {"an earlier run's tree that cannot be removed",
         true,
         good,
         [&](auto& f) { f.failNth(fw::fault::Call::emptyFolder, 1); },
         {kOpening, failed + "C:\\Temp\\_Download\\_UnZip, left by an earlier installation, "
                             "could not be removed: "}},
        // C:\Temp\_Download comes before the lock, and so before the opening notice. (Last: what it
        // leaves is looked at after the table.)
        {"a file for C:\\Temp",
         true,
         good,
         [&](auto&) { fw::test::writeHostFile(prefix.host("C:\\Temp"), "not a folder"); },
         {failed + "The folder C:\\Temp\\_Download could not be made or checked: "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(prefix.host("C:\\Temp"));
        platform.recorded = {};
        platform.script.hasPayload = c.hasPayload;
        platform.script.payload = c.payload;
        {
            fw::fault::FaultInjector faults;
            c.arm(faults);
            EXPECT_FALSE(run());
        }
        EXPECT_EQ(status, 1);
        ASSERT_EQ(platform.recorded.events.size(), c.notices.size());
        for (std::size_t i = 0; i < c.notices.size(); ++i) {
            EXPECT_EQ(platform.recorded.events[i].rfind("notice:" + c.notices[i], 0), 0u)
                << platform.recorded.events[i];
        }
        EXPECT_FALSE(exists("C:\\Temp\\_Download\\_UnZip\\Morvanta.zip"));
        EXPECT_FALSE(exists("C:\\Temp\\_Download\\_UnZip\\disk1"));
        EXPECT_FALSE(exists("C:\\Product_Released"));
    }
    EXPECT_EQ(fw::test::readHostFile(prefix.host("C:\\Temp")), "not a folder");
}

TEST_F(InstallSequenceTest, ExitRemovesTheUnpackedSetupProgramWhenThereIsOne) {
    const std::string setup = prefix.host("C:\\Temp\\_Download\\_UnZip\\disk1\\SETUP.EXE");
    const std::string neighbour = prefix.host("C:\\Temp\\_Download\\_UnZip\\disk1\\DATA.TAG");
    ASSERT_TRUE(fw::test::writeHostFile(setup, "setup"));
    ASSERT_TRUE(fw::test::writeHostFile(neighbour, "data"));
    { CFerrowickApp app; }
    EXPECT_FALSE(fs::exists(setup));
    EXPECT_TRUE(fs::exists(neighbour));
    // Nothing to remove the second time: the exit is just as quiet.
    { CFerrowickApp app; }
    EXPECT_TRUE(platform.recorded.events.empty());
    EXPECT_TRUE(fs::exists(neighbour));
}

}  // namespace
