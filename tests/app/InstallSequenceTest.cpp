// The installation run end to end on the real file backend in a throw-away drive
// prefix, with notices, the command line and the sleep observed through the seam.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/FerrowickApp.h"
#include "platform/fault/FaultPlatform.h"
#include "tests/app/RecordingPlatform.h"
#include "tests/app/TestPayload.h"
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

class InstallSequence : public ::testing::Test {
  protected:
    fw::test::TempPrefix prefix;
    fw::test::RecordingPlatform platform;

    bool exists(const char* drivePath) const { return fs::exists(prefix.host(drivePath)); }

    // Runs the installation through the application entry; true for exit code 0.
    bool install(const std::vector<std::string>& itemNames) {
        platform.script.payload = PayloadOf(prefix, EntriesNamed(itemNames));
        return run();
    }
    bool run() {
        CFerrowickApp app;
        return AfxWinMain() == 0;
    }
};

TEST_F(InstallSequence, RunsThroughNoticesUnpackingCopyAndLaunchInOrder) {
    ASSERT_TRUE(
        fw::test::writeHostFile(prefix.host("C:\\Tools\\res\\Pellmoor\\Pellmoor.exe"), "p"));
    ASSERT_TRUE(install({"disk1/DATA.TAG", "disk1/SETUP.EXE", "disk1/sub/x.cab"}));

    const std::vector<std::string> expected = {
        "notice:" + kOpening,
        "notice:" + kPreparation,
        "notice:" + kCompletion,
        "run:" + kShippedCommand,
        "sleep:5000",
    };
    EXPECT_EQ(platform.recorded.events, expected);
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

TEST_F(InstallSequence, PatienceNoticeComesOnceBeforeItem600OfMoreThan600) {
    for (const int items : {600, 601}) {
        SCOPED_TRACE(items);
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
            EXPECT_FALSE(item600Unpacked);
        }
        EXPECT_EQ(platform.recorded.notices, expected);
        EXPECT_TRUE(
            exists(("C:\\Temp\\_Download\\_UnZip\\disk1\\f" + std::to_string(items - 1)).c_str()));
    }
}

TEST_F(InstallSequence, LaunchesSetupInTheFirstTopFolderFound) {
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
        {{"my disk/a.txt"}, "\"C:/Temp/_Download/_UnZip/my disk/SETUP.exe\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.items.empty() ? std::string("empty archive") : c.items.front());
        platform.recorded = {};
        ASSERT_TRUE(install(c.items));
        EXPECT_EQ(platform.recorded.commands, std::vector<std::string>{c.command});
    }
}

TEST_F(InstallSequence, UnreadableArchiveIsPassedOverAndLaunchesFromTheRoot) {
    // A bare prefix stages an empty file; garbage stages a file that is no archive.
    for (const std::string& payload : {std::string(54, 'B'), std::string(54, 'B') + "PK junk"}) {
        platform.recorded = {};
        platform.script.payload = payload;
        ASSERT_TRUE(run());
        EXPECT_EQ(platform.recorded.notices,
                  (std::vector<std::string>{kOpening, kPreparation, kCompletion}));
        EXPECT_EQ(platform.recorded.commands, std::vector<std::string>{kRootCommand});
        EXPECT_FALSE(exists("C:\\Temp\\_Download\\_UnZip\\Morvanta.zip"));
    }
}

TEST_F(InstallSequence, TopFolderThatNoQuotingMakesSafeLaunchesNothing) {
    ASSERT_TRUE(install({"%PATH%/a.txt", "disk1/b.txt"}));
    EXPECT_TRUE(platform.recorded.commands.empty());
    EXPECT_EQ(platform.recorded.events.back(), "sleep:5000");
}

TEST_F(InstallSequence, ResourceFolderIsBesideTheExecutableLessOneBuildFolder) {
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
        ASSERT_FALSE(platform.recorded.findPatterns.empty());
        EXPECT_EQ(platform.recorded.findPatterns.front(), std::string(c.resourceFolder) + "\\*");
        EXPECT_TRUE(exists("C:\\Product_Released\\Pellmoor"));
    }
}

TEST_F(InstallSequence, ResourceFolderSearchIgnoresTrailBytesThatLookLikeBackslashes) {
    // In code page 936, 0x81 0x5C is one character whose second byte is a backslash.
    platform.script.codePage = 936;
    platform.script.modulePath = "D:\\W\\Debug\\App\x81\\.exe";
    platform.script.payload = PayloadOf(prefix, EntriesNamed({"disk1/a.txt"}));
    ASSERT_TRUE(run());
    ASSERT_FALSE(platform.recorded.findPatterns.empty());
    EXPECT_EQ(platform.recorded.findPatterns.front(), "D:\\W\\res\\Pellmoor\\*");
}

TEST_F(InstallSequence, EndsSilentlyWhenThePayloadIsMissingOrShorterThanItsPrefix) {
    struct Case {
        const char* what;
        bool hasPayload;
        std::string payload;
    };
    const Case cases[] = {
        {"missing", false, ""},
        {"53 bytes", true, std::string(53, 'B')},
        {"empty", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform.recorded = {};
        platform.script.hasPayload = c.hasPayload;
        platform.script.payload = c.payload;
        EXPECT_FALSE(run());
        EXPECT_EQ(platform.recorded.events, std::vector<std::string>{"notice:" + kOpening});
        EXPECT_TRUE(fs::is_directory(prefix.host("C:\\Temp\\_Download\\_UnZip")));
        EXPECT_FALSE(exists("C:\\Temp\\_Download\\_UnZip\\Morvanta.zip"));
    }
}

TEST_F(InstallSequence, EndsSilentlyWhenTheStagingArchiveCannotBeMade) {
    // A file where the first staging folder level should be.
    ASSERT_TRUE(fw::test::writeHostFile(prefix.host("C:\\Temp"), "not a folder"));
    EXPECT_FALSE(install({"disk1/a.txt"}));
    EXPECT_EQ(platform.recorded.events, std::vector<std::string>{"notice:" + kOpening});
    EXPECT_EQ(fw::test::readHostFile(prefix.host("C:\\Temp")), "not a folder");
}

TEST_F(InstallSequence, FailedStagingWriteEndsSilentlyAndLeavesNoPartialArchive) {
    platform.script.payload = PayloadOf(prefix, EntriesNamed({"disk1/a.txt"}));
    fw::fault::FaultInjector faults;
    faults.failNth(fw::fault::Call::writeFile, 1);
    EXPECT_FALSE(run());
    EXPECT_EQ(faults.injected(), 1);
    EXPECT_EQ(platform.recorded.events, std::vector<std::string>{"notice:" + kOpening});
    EXPECT_TRUE(fs::is_directory(prefix.host("C:\\Temp\\_Download\\_UnZip")));
    EXPECT_FALSE(exists("C:\\Temp\\_Download\\_UnZip\\Morvanta.zip"));
}

TEST_F(InstallSequence, ExitRemovesTheUnpackedSetupProgramWhenThereIsOne) {
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
