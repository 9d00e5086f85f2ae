// Runs the built launcher, carrying the sample installer set, in a throw-away prefix and
// looks at everything it leaves behind. Each full run waits the launcher's fixed five
// seconds after the installer.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/PosixCodePage.h"
#include "tests/app/LauncherTestSupport.h"
#include "tests/support/TempPrefix.h"
#include "tools/SampleInstallerSet.h"

namespace fw::test {
namespace {

namespace fs = std::filesystem;

const std::string kLauncher = FERROWICK_LAUNCHER_PATH;
const std::string kStub = FERROWICK_STUB_PATH;

std::size_t countOf(const std::string& text, const std::string& piece) {
    std::size_t n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos;
         at = text.find(piece, at + piece.size())) {
        ++n;
    }
    return n;
}

// Every file below `root`, by relative path, with its contents.
std::map<std::string, std::string> filesBelow(const fs::path& root) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(root, ec)) {
        if (e.is_regular_file()) {
            files[fs::relative(e.path(), root).string()] = readHostFile(e.path().string());
        }
    }
    return files;
}

TEST(LauncherRunTest, UnpacksTheSampleRunsItsSetUpAndCopiesTheProduct) {
    TempPrefix prefix;
    const ProgramRun run = runProgram({kLauncher}, {"LC_ALL=zh_CN.UTF-8"});
    ASSERT_EQ(run.status, 0) << run.err;
    // Opening, preparation and completion notices; eleven items bring no patience notice.
    EXPECT_EQ(countOf(run.err, "BRASKETTLE\n"), 3u) << run.err;

    const std::string unzip = prefix.host("C:\\Temp\\_Download\\_UnZip");
    EXPECT_FALSE(fs::exists(unzip + "/Morvanta.zip"));
    for (const sample::SampleItem& item : sample::sampleItems()) {
        const std::string host = unzip + "/" + posix::ansiToUtf8(item.name, 936);
        SCOPED_TRACE(host);
        if (item.name == sample::kSetupItemName) {
            EXPECT_FALSE(fs::exists(host)) << "the set-up program is removed at exit";
            continue;
        }
        struct stat info {};
        ASSERT_EQ(stat(host.c_str(), &info), 0);
        EXPECT_EQ(readHostFile(host), item.data);
        if (!item.data.empty()) {
            EXPECT_EQ(info.st_mtim.tv_sec, item.modified);
        }
        const bool readOnly = item.externalAttributes & 0x01;
        EXPECT_EQ((info.st_mode & 0222) == 0, readOnly);
    }
    const std::string log = readHostFile(unzip + "/disk1/" + sample::kSetupLogName);
    EXPECT_EQ(countOf(log, "SETUP.EXE ran"), 1u) << log;

    std::map<std::string, std::string> expected =
        filesBelow(fs::path(kLauncher).parent_path() / "res" / "Pellmoor");
    ASSERT_TRUE(expected.count("Thumbs.db"));
    std::erase_if(expected,
                  [](const auto& f) { return fs::path(f.first).filename() == "Thumbs.db"; });
    EXPECT_EQ(filesBelow(prefix.host("C:\\Product_Released\\Pellmoor")), expected);
}

TEST(LauncherRunTest, FindsItsResourceFolderBesideAReleaseFolderOnDriveC) {
    TempPrefix prefix;
    const std::string apps = prefix.host("C:\\Apps");
    fs::create_directories(apps + "/Release");
    fs::copy_file(kLauncher, apps + "/Release/ferrowick");
    ASSERT_TRUE(writeHostFile(apps + "/res/Pellmoor/only.txt", "from drive C"));

    const ProgramRun run = runProgram({apps + "/Release/ferrowick"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::map<std::string, std::string> expected = {{"only.txt", "from drive C"}};
    EXPECT_EQ(filesBelow(prefix.host("C:\\Product_Released\\Pellmoor")), expected);
}

TEST(LauncherRunTest, ALauncherWithoutAUsablePayloadEndsWithFailure) {
    const std::string stub = readHostFile(kStub);
    ASSERT_FALSE(stub.empty());
    struct Case {
        const char* what;
        std::string file;
    } cases[] = {
        {"no resources at all", stub},
        {"payload shorter than its prefix",
         withResources(stub, {{"TIMELISTINGS", "#132", std::string(53, 'p')}})},
        {"payload under another name",
         withResources(stub, {{"TIMELISTINGS", "#133", std::string(54, 'p') + "PK"}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempPrefix prefix;
        const std::string launcher = prefix.root() + "/launcher";
        ASSERT_TRUE(writeHostFile(launcher, c.file));
        fs::permissions(launcher, fs::perms::owner_all);
        const ProgramRun run = runProgram({launcher});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(countOf(run.err, "BRASKETTLE\n"), 1u) << run.err;
        EXPECT_FALSE(fs::exists(prefix.host("C:\\Temp\\_Download\\_UnZip\\Morvanta.zip")));
    }
}

}  // namespace
}  // namespace fw::test
