// Runs the built launcher, carrying the sample installer set, in a throw-away prefix and
// looks at everything it leaves behind. Each full run waits the launcher's fixed five
// seconds after the installer.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pack/SampleInstallerSet.h"
#include "platform/posix/CodePage.h"
#include "tests/support/Noise.h"
#include "tests/support/PrefixSnapshot.h"
#include "tests/support/Programs.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {
namespace {

namespace fs = std::filesystem;

const std::string kLauncher = FERROWICK_LAUNCHER_PATH;
const std::string kStub = FERROWICK_STUB_PATH;
// The sample's names are in code page 936.
const std::string kLocale = "LC_ALL=zh_CN.UTF-8";

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

// What a complete run leaves: every item as it is in the payload, with its read-only
// bit and last-write time, the set-up program run once and removed, the resource folder
// copied without "Thumbs.db", and nothing else (no copy in progress) anywhere.
void expectCompleteTree(const TempPrefix& prefix, const std::vector<sample::SampleItem>& items,
                        const fs::path& resourceFolder) {
    const std::string unzip = prefix.host("C:\\Temp\\_Download\\_UnZip");
    EXPECT_FALSE(fs::exists(unzip + "/Morvanta.zip"));
    for (const sample::SampleItem& item : items) {
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

    std::map<std::string, std::string> expected = filesBelow(resourceFolder);
    ASSERT_TRUE(expected.count("Thumbs.db"));
    std::erase_if(expected,
                  [](const auto& f) { return fs::path(f.first).filename() == "Thumbs.db"; });
    EXPECT_EQ(filesBelow(prefix.host("C:\\Product_Released\\Pellmoor")), expected);
    for (const auto& [name, contents] : filesBelow(prefix.root())) {
        EXPECT_EQ(name.find(".fw-copy"), std::string::npos) << name;
    }
}

mode_t modeOf(const std::string& hostPath) {
    struct stat info {};
    return lstat(hostPath.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(LauncherRunTest, UnpacksTheSampleRunsItsSetUpAndCopiesTheProduct) {
    TempPrefix prefix;
    const ProgramRun run = runProgram({kLauncher}, {kLocale});
    ASSERT_EQ(run.status, 0) << run.err;
    // Opening, preparation and completion notices; eleven items bring no patience notice.
    EXPECT_EQ(countOf(run.err, "BRASKETTLE\n"), 3u) << run.err;
    expectCompleteTree(prefix, sample::sampleItems(),
                       fs::path(kLauncher).parent_path() / "res" / "Pellmoor");
    // The launcher's own folders let nobody else in; the product is everyone's to run. The
    // lock file is gone with the run.
    EXPECT_EQ(modeOf(prefix.host("C:\\Temp\\_Download")), 0700u);
    EXPECT_EQ(modeOf(prefix.host("C:\\Temp\\_Download\\_UnZip")), 0700u);
    EXPECT_EQ(modeOf(prefix.host("C:\\Product_Released")), 0755u);
    EXPECT_EQ(modeOf(prefix.host("C:\\Product_Released\\Pellmoor")), 0755u);
    std::vector<std::string> inDownload;
    for (const auto& e : fs::directory_iterator(prefix.host("C:\\Temp\\_Download"))) {
        inDownload.push_back(e.path().filename().string());
    }
    EXPECT_EQ(inDownload, std::vector<std::string>{"_UnZip"});
}

// The folders of a shared machine: one that another user owns, or that others may change,
// is refused before anything is unpacked; one of the running user's that is too open is
// tightened; and nothing an earlier set left in the staging folder stays beside this one.
TEST(LauncherRunTest, RefusesFoldersOthersCouldChangeAndTightensItsOwn) {
    constexpr uid_t kOther = 4242;
    const std::string download = "C:\\Temp\\_Download";
    const std::string unzip = download + "\\_UnZip";
    const std::string product = "C:\\Product_Released";
    const std::string refused = "The installation files could not be prepared.\n\nThe folder ";
    const std::string remove =
        "The set-up program has not been started. Please ask an administrator to remove the "
        "folder ";
    struct Case {
        const char* what;
        std::function<void(const TempPrefix&)> plant;
        bool asOrdinaryUser;  // run as kOther, the prefix theirs
        int status;
        std::string notice;  // a piece of the last notice (under /S: of the log)
        std::vector<std::pair<std::string, mode_t>> modes;  // after the run
        bool silent = false;
    } cases[] = {
        {"C:\\Temp\\_Download owned by another user",
         [&](const TempPrefix& p) {
             fs::create_directories(p.host(download));
             ASSERT_EQ(chown(p.host(download).c_str(), kOther, kOther), 0);
         },
         false,
         1,
         refused + download +
             " cannot be used safely: another user owns it, and so could change "
             "the set-up program before it runs.\n\n" +
             remove + download,
         {}},
        {"the staging folder owned by another user, group-writable",
         [&](const TempPrefix& p) {
             fs::create_directories(p.host(unzip));
             chmod(p.host(unzip).c_str(), 0770);
             ASSERT_EQ(chown(p.host(unzip).c_str(), kOther, kOther), 0);
         },
         false,
         1,
         refused + unzip + " cannot be used safely: another user owns it",
         {}},
        {"the staging folder owned by another user, under /S",
         [&](const TempPrefix& p) {
             fs::create_directories(p.host(unzip));
             ASSERT_EQ(chown(p.host(unzip).c_str(), kOther, kOther), 0);
         },
         false,
         1603 & 0xFF,
         "] own folder: " + unzip +
             " refused: another user owns it; an administrator should remove it\n",
         {},
         true},
        {"the product folder owned by another user",
         [&](const TempPrefix& p) {
             fs::create_directories(p.host(product + "\\Pellmoor"));
             ASSERT_EQ(chown(p.host(product + "\\Pellmoor").c_str(), kOther, kOther), 0);
         },
         false,
         1,
         refused + product + "\\Pellmoor cannot be used safely: another user owns it",
         {}},
        {"an ordinary user's run, with a staging folder of root's that others may write",
         [&](const TempPrefix& p) {
             fs::create_directories(p.host(unzip));
             ASSERT_EQ(chown(p.host(download).c_str(), kOther, kOther), 0);
             chmod(p.host(unzip).c_str(), 0775);
         },
         true,
         1,
         refused + unzip + " cannot be used safely: other users can change it",
         {}},
        {"the running user's own folders, open to all",
         [&](const TempPrefix& p) {
             fs::create_directories(p.host(unzip));
             fs::create_directories(p.host(product + "\\Pellmoor"));
             for (const std::string& f : {download, unzip, product, product + "\\Pellmoor"}) {
                 chmod(p.host(f).c_str(), 0777);
             }
         },
         false,
         0,
         "Data preparation has been completed",
         {{download, 0700}, {unzip, 0700}, {product, 0755}, {product + "\\Pellmoor", 0755}}},
        {"an earlier set's files in the staging folder",
         [&](const TempPrefix& p) {
             writeHostFile(p.host(unzip + "\\extras\\stale-from-v1.txt"), "v1");
             // A name that code page 936 cannot express, and one that ends in a blank.
             writeHostFile(p.host(unzip + "\\extras\\\xF0\x9F\x98\x80.txt"), "v1");
             writeHostFile(p.host(unzip + "\\disk1 \\old.txt"), "v1");
             writeHostFile(p.host(unzip + "\\disk1\\old.dll"), "v1");
             chmod(p.host(unzip + "\\disk1\\old.dll").c_str(), 0444);
             chmod(p.host(unzip + "\\extras").c_str(), 0555);
         },
         false,
         0,
         "Data preparation has been completed",
         {{unzip, 0700}}},
    };
    if (geteuid() != 0) {
        GTEST_SKIP() << "folders of another user, and runs as another user, need root";
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempPrefix prefix;
        c.plant(prefix);
        std::vector<std::string> argv = {kLauncher};
        if (c.asOrdinaryUser) {
            // The prefix and drive C: are the user's; what was planted below stays as it is.
            ASSERT_EQ(chown(prefix.root().c_str(), kOther, kOther), 0);
            ASSERT_EQ(chown(prefix.host("C:").c_str(), kOther, kOther), 0);
            ASSERT_EQ(chown(prefix.host("C:\\Temp").c_str(), kOther, kOther), 0);
            argv = {"/usr/bin/setpriv", "--reuid=4242", "--regid=4242", "--clear-groups",
                    kLauncher};
        }
        if (c.silent) {
            argv.push_back("/S");
        }
        const ProgramRun run = runProgram(argv, {kLocale});
        EXPECT_EQ(run.status, c.status) << run.err;
        const std::string told =
            c.silent ? readHostFile(prefix.host(download + "\\Ferrowick.log")) : run.err;
        EXPECT_NE(told.find(c.notice), std::string::npos) << told;
        const bool launched = fs::exists(prefix.host(unzip + "\\disk1\\" + sample::kSetupLogName));
        EXPECT_EQ(launched, c.status == 0);
        if (c.status != 0) {
            EXPECT_FALSE(fs::exists(prefix.host(unzip + "\\disk1\\DATA.TAG")))
                << "nothing is unpacked";
            EXPECT_FALSE(fs::exists(prefix.host(product + "\\Pellmoor\\Pellmoor.ini")));
            continue;
        }
        expectCompleteTree(prefix, sample::sampleItems(),
                           fs::path(kLauncher).parent_path() / "res" / "Pellmoor");
        EXPECT_FALSE(fs::exists(prefix.host(unzip + "\\extras")));
        EXPECT_FALSE(fs::exists(prefix.host(unzip + "\\disk1 ")));
        EXPECT_FALSE(fs::exists(prefix.host(unzip + "\\disk1\\old.dll")));
        for (const auto& [folder, mode] : c.modes) {
            EXPECT_EQ(modeOf(prefix.host(folder)), mode) << folder;
        }
    }
}

// The command line of the real process: arguments arrive in UTF-8 and reach SETUP.exe as
// given; a silent run ends with SETUP.exe's status; the usage goes to standard output; a
// refusal touches nothing but the log.
TEST(LauncherRunTest, TheCommandLineReachesSetUpAndDecidesTheExitStatus) {
    const std::string defaultLog = "C:\\Temp\\_Download\\Ferrowick.log";
    struct Case {
        std::vector<std::string> arguments;
        int status;
        bool installed;
        std::string setupLog;  // what SETUP.exe recorded of its arguments, when it ran
        std::string out;       // the beginning of standard output
        std::string err;       // the beginning of standard error
        std::string logged;    // a line of the log beside the staging folder, when there is one
    } cases[] = {
        {{"/S", "--", "/quiet", "a b", "x&y", "q\"r", "\xE8\xAF\xB4\xE6\x98\x8E", "%PATH%", "50%",
          "^"},
         7,
         true,
         "argument: /quiet\nargument: a b\nargument: x&y\nargument: q\"r\nargument: "
         "\xE8\xAF\xB4\xE6\x98\x8E\nargument: %PATH%\nargument: 50%\nargument: ^\n",
         "",
         "",
         "end: exit status 7, SETUP.exe's own\n"},
        {{"-?"}, 0, false, "", "Ferrowick 1.0.0.1 unpacks", "", ""},
        // Not in code page 936, and no UTF-8 at all: the command line cannot be used, which
        // Windows Installer's 1639 says, of which 8 bits arrive.
        {{"/S", "--", "\xF0\x9F\x98\x80", "\xFF"},
         1639 & 0xFF,
         false,
         "",
         "",
         "",
         "notice: The set-up program cannot be started, so nothing has been done: its arguments "
         "hold a character that this computer's code page cannot express.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        TempPrefix prefix;
        const PrefixSnapshot before = snapshotPrefix(prefix.root());
        std::vector<std::string> argv = {kLauncher};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const ProgramRun run = runProgram(argv, {kLocale, "FERROWICK_SETUP_STATUS=7"});
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out.rfind(c.out, 0), 0u) << run.out;
        EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
        EXPECT_EQ(run.err.empty(), c.err.empty()) << run.err;
        const std::string log = readHostFile(prefix.host(defaultLog));
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        EXPECT_EQ(log.empty(), c.logged.empty()) << log;
        if (c.installed) {
            expectCompleteTree(prefix, sample::sampleItems(),
                               fs::path(kLauncher).parent_path() / "res" / "Pellmoor");
            const std::string setupLog =
                readHostFile(prefix.host("C:\\Temp\\_Download\\_UnZip\\disk1\\SETUP.LOG"));
            EXPECT_EQ(setupLog.substr(setupLog.find('\n') + 1), c.setupLog);
            continue;
        }
        const auto changed = outside(changedPaths(before, snapshotPrefix(prefix.root())), {},
                                     {"drive_c/Temp/_Download/Ferrowick.log"});
        const std::vector<std::string> logFolders = {"drive_c/Temp", "drive_c/Temp/_Download"};
        EXPECT_EQ(changed, c.logged.empty() ? std::vector<std::string>{} : logFolders);
    }
}

// What not even root may remove stops the run before anything is unpacked, and is named.
TEST(LauncherRunTest, AnEarlierSetsFileThatCannotBeRemovedIsNamedAndNothingIsUnpacked) {
    TempPrefix prefix;
    const std::string stuck = prefix.host("C:\\Temp\\_Download\\_UnZip\\disk1\\stuck.dll");
    ASSERT_TRUE(writeHostFile(stuck, "v1"));
    if (!setHostFileImmutable(stuck, true)) {
        GTEST_SKIP() << "no immutable file can be made here (it needs root and a file system "
                        "that has the flag)";
    }
    const ProgramRun run = runProgram({kLauncher}, {kLocale});
    setHostFileImmutable(stuck, false);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(countOf(run.err,
                      "The installation files could not be prepared.\n\n"
                      "C:\\Temp\\_Download\\_UnZip\\disk1\\stuck.dll, left by an "
                      "earlier installation, could not be removed: access to the file "
                      "was denied.\n"),
              1u)
        << run.err;
    EXPECT_FALSE(fs::exists(prefix.host("C:\\Temp\\_Download\\_UnZip\\disk1\\DATA.TAG")));
    EXPECT_FALSE(fs::exists(prefix.host("C:\\Product_Released")));
}

TEST(LauncherRunTest, MakesAMissingPrefixOnFirstUseAndSaysWhyWhenItCannot) {
    enum class Setting { noPrefix, noDriveC, fileAsPrefix };
    struct Case {
        const char* what;
        Setting setting;
        int status;
        const char* complaint;  // on standard error, after the prefix path; none when empty
    } cases[] = {
        {"no prefix folder", Setting::noPrefix, 0, ""},
        {"a prefix without drive_c", Setting::noDriveC, 0, ""},
        {"a file where the prefix should be", Setting::fileAsPrefix, 1,
         ": a file stands in its place (move it away, or set FERROWICK_PREFIX to another "
         "folder)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempPrefix prefix;
        fs::remove_all(c.setting == Setting::noDriveC ? prefix.root() + "/drive_c" : prefix.root());
        if (c.setting == Setting::fileAsPrefix) {
            ASSERT_TRUE(writeHostFile(prefix.root(), "not a folder"));
        }
        const ProgramRun run = runProgram({kLauncher}, {kLocale});
        ASSERT_EQ(run.status, c.status) << run.err;
        if (c.status != 0) {
            const std::string complaint =
                "ferrowick: cannot make the prefix folder " + prefix.root() + c.complaint;
            EXPECT_EQ(countOf(run.err, complaint), 1u) << run.err;
            EXPECT_EQ(countOf(run.err, "BRASKETTLE\n"), 1u) << run.err;
            EXPECT_EQ(readHostFile(prefix.root()), "not a folder");
            continue;
        }
        EXPECT_EQ(run.err.find("ferrowick:"), std::string::npos) << run.err;
        if (c.setting == Setting::noPrefix) {
            struct stat info {};
            ASSERT_EQ(stat(prefix.root().c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, 0700u) << "a new prefix folder is the user's own";
        }
        expectCompleteTree(prefix, sample::sampleItems(),
                           fs::path(kLauncher).parent_path() / "res" / "Pellmoor");
    }
}

// Every entry below `root` by relative path: "d" for a folder, else the file's bytes,
// read-only bit and last-write second.
std::map<std::string, std::string> treeBelow(const fs::path& root) {
    std::map<std::string, std::string> tree;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(root, ec)) {
        const std::string name = fs::relative(e.path(), root).string();
        struct stat info {};
        stat(e.path().c_str(), &info);
        tree[name] = e.is_directory() ? std::string("d")
                                      : readHostFile(e.path().string()) + "|" +
                                            ((info.st_mode & 0222) ? "rw|" : "ro|") +
                                            std::to_string(info.st_mtim.tv_sec);
    }
    return tree;
}

TEST(LauncherRunTest, AFolderPackedInItsCodePageIsUnpackedAsItWas) {
    struct Case {
        const char* codePage;
        const char* locale;
        std::vector<std::string> names;  // UTF-8, below the top folder
    } cases[] = {
        {"1252",
         "LC_ALL=C.UTF-8",
         {"readme.txt",
          "Donn\xC3\xA9"
          "es/\xC3\x89t\xC3\xA9 \xE2\x82\xAC.txt",
          "Sub/deeper/data.bin"}},
        {"936",
         "LC_ALL=zh_CN.UTF-8",
         {"readme.txt", "\xE6\x95\xB0\xE6\x8D\xAE/\xE8\xAF\xB4\xE6\x98\x8E.txt",
          "Sub/deeper/data.bin"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codePage);
        TempPrefix prefix;
        const fs::path source = fs::path(prefix.root()) / "vendor" / "disk1";
        for (std::size_t i = 0; i < c.names.size(); ++i) {
            const fs::path file = source / c.names[i];
            ASSERT_TRUE(writeHostFile(file.string(), noise(1000 + 70000 * i, 20 + i)));
            const timespec times[2] = {{1100000000 + static_cast<time_t>(i) * 3600, 0},
                                       {1200000000 + static_cast<time_t>(i) * 86401, 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
        }
        fs::permissions(source / c.names[1], fs::perms::owner_write | fs::perms::group_write,
                        fs::perm_options::remove);
        fs::create_directories(source / "empty folder");
        for (const sample::SampleItem& item : sample::sampleItems()) {
            if (item.name == sample::kSetupItemName) {
                ASSERT_TRUE(writeHostFile((source / "SETUP.EXE").string(), item.data));
            }
        }
        const std::map<std::string, std::string> expected = treeBelow(source);

        const std::string launcher = prefix.root() + "/vendor/launcher";
        const ProgramRun packed =
            runProgram({FERROWICK_PACK_PATH, "--folder", source.string(), "--code-page", c.codePage,
                        "--stub", kStub, "--output", launcher});
        ASSERT_EQ(packed.status, 0) << packed.err;
        const ProgramRun run = runProgram({launcher}, {c.locale});
        ASSERT_EQ(run.status, 0) << run.err;
        std::map<std::string, std::string> unpacked =
            treeBelow(prefix.host("C:\\Temp\\_Download\\_UnZip\\disk1"));
        EXPECT_EQ(unpacked.erase(sample::kSetupLogName), 1u) << "the set-up program ran";
        std::map<std::string, std::string> sourceLessSetup = expected;
        sourceLessSetup.erase("SETUP.EXE");  // removed at exit
        EXPECT_EQ(unpacked, sourceLessSetup);
        std::vector<std::string> beside;  // no archive is left behind
        for (const auto& e : fs::directory_iterator(prefix.root() + "/vendor")) {
            beside.push_back(e.path().filename().string());
        }
        std::sort(beside.begin(), beside.end());
        EXPECT_EQ(beside, (std::vector<std::string>{"disk1", "launcher"}));
    }
}

// The sample set with a large read-only item, packed into a launcher in `folder`/Release,
// whose resource folder beside it holds the sample product and a large file.
struct LargeLauncher {
    std::string path;
    std::vector<sample::SampleItem> items;
    fs::path resourceFolder;
};

LargeLauncher packLargeLauncher(const std::string& folder) {
    constexpr std::size_t kLarge = 32 << 20;
    LargeLauncher made;
    made.items = sample::sampleItems();
    sample::SampleItem large;
    large.name = "disk1/LARGE.CAB";
    large.data = noise(kLarge, 11);
    large.deflate = false;
    large.externalAttributes = 0x21;
    large.modified = large.accessed = large.created = 1300000000;
    made.items.push_back(large);

    std::vector<zipwrite::Entry> entries = sample::sampleEntries();
    zipwrite::Entry entry;
    entry.name = large.name;
    entry.data = large.data;
    entry.deflate = false;
    entry.externalAttributes = large.externalAttributes;
    entry.localExtra = zipwrite::utBlock(7, {large.modified, large.accessed, large.created});
    entries.push_back(entry);
    fs::create_directories(folder + "/Release");
    const std::string archive = folder + "/payload.zip";
    std::string error;
    EXPECT_TRUE(zipwrite::writeArchive(archive, entries, &error)) << error;

    made.resourceFolder = fs::path(folder) / "res" / "Pellmoor";
    fs::create_directories(made.resourceFolder.parent_path());
    fs::copy(fs::path(kLauncher).parent_path() / "res" / "Pellmoor", made.resourceFolder,
             fs::copy_options::recursive);
    EXPECT_TRUE(writeHostFile((made.resourceFolder / "large.ncd").string(), noise(kLarge, 12)));
    made.path = folder + "/Release/ferrowick";
    const ProgramRun pack = runProgram(
        {FERROWICK_PACK_PATH, "--stub", kStub, "--payload", archive, "--output", made.path});
    EXPECT_EQ(pack.status, 0) << pack.err;
    fs::remove(archive);
    return made;
}

TEST(LauncherRunTest, ARunKilledAnywhereIsMadeWholeByTheNextRun) {
    TempPrefix scratch;
    const LargeLauncher launcher = packLargeLauncher(scratch.root() + "/dist");
    struct Case {
        const char* what;
        const char* appears;  // the kill comes as soon as this drive path exists
    } cases[] = {
        {"while staging", "C:\\Temp\\_Download\\_UnZip\\Morvanta.zip"},
        {"while writing a large read-only item", "C:\\Temp\\_Download\\_UnZip\\disk1\\LARGE.CAB"},
        {"during the copy", "C:\\Product_Released\\Pellmoor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempPrefix prefix;
        const StartedProgram started = startProgram({launcher.path}, {kLocale});
        ASSERT_GT(started.pid, 0) << started.failure;
        const std::string watched = prefix.host(c.appears);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!fs::exists(watched) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        kill(started.pid, SIGKILL);
        const ProgramRun cut = waitProgram(started);
        ASSERT_EQ(cut.status, 128 + SIGKILL) << "the run ended before it was cut off\n" << cut.err;

        const ProgramRun again = runProgram({launcher.path}, {kLocale});
        ASSERT_EQ(again.status, 0) << again.err;
        expectCompleteTree(prefix, launcher.items, launcher.resourceFolder);
    }
}

TEST(LauncherRunTest, OfTwoLaunchersStartedTogetherOneInstallsAndTheOtherSaysSo) {
    for (const int delay : {0, 20, 200}) {
        SCOPED_TRACE("second one " + std::to_string(delay) + " ms later");
        TempPrefix prefix;
        const StartedProgram first = startProgram({kLauncher}, {kLocale});
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        const StartedProgram second = startProgram({kLauncher}, {kLocale});
        std::vector<ProgramRun> runs = {waitProgram(first), waitProgram(second)};
        std::sort(runs.begin(), runs.end(),
                  [](const ProgramRun& a, const ProgramRun& b) { return a.status < b.status; });
        ASSERT_EQ(runs[0].status, 0) << runs[0].err;
        ASSERT_EQ(runs[1].status, 3) << runs[1].err;
        EXPECT_EQ(runs[1].err,
                  "BRASKETTLE\nSet-up is already running on this computer.\n\n"
                  "Please finish that set-up first, or wait until it has ended, and "
                  "then start this program again if you still need it.\n\n");
        expectCompleteTree(prefix, sample::sampleItems(),
                           fs::path(kLauncher).parent_path() / "res" / "Pellmoor");
    }
}

// Two runs into one log: the second, started while the first one waits after SETUP.exe,
// is refused with Windows Installer's "another installation is in progress" (1618, of
// which 8 bits arrive), and every line says which run wrote it and when.
TEST(LauncherRunTest, TheLinesOfOverlappingRunsInOneLogCanBeToldApart) {
    TempPrefix prefix;
    const std::string logFolder = prefix.host("C:\\Logs");
    fs::create_directories(logFolder);
    const std::vector<std::string> argv = {kLauncher, "/S", "/log", "C:\\Logs\\both.log"};
    const StartedProgram first = startProgram(argv, {kLocale});
    ASSERT_GT(first.pid, 0) << first.failure;
    const std::string setupLog = prefix.host("C:\\Temp\\_Download\\_UnZip\\disk1\\SETUP.LOG");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(setupLog) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const ProgramRun second = runProgram(argv, {kLocale});
    const ProgramRun firstRun = waitProgram(first);
    ASSERT_EQ(firstRun.status, 0) << firstRun.err;
    ASSERT_EQ(second.status, 1618 & 0xFF) << second.err;

    // "2026-12-11 12:03:04.123 [4242] what: text"
    const std::regex stamped(
        R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) \[(\d+)\] ([a-zA-Z. ]+): .*)");
    const std::string log = readHostFile(logFolder + "/both.log");
    std::map<std::string, std::vector<std::string>> linesOf;  // by process id
    std::map<std::string, std::string> lastTimeOf;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(line, parts, stamped)) << line;
        EXPECT_GE(parts[1].str(), lastTimeOf[parts[2]]) << line;
        lastTimeOf[parts[2]] = parts[1];
        linesOf[parts[2]].push_back(parts[3]);
    }
    ASSERT_EQ(linesOf.size(), 2u) << log;
    std::vector<std::string> ends;
    for (const auto& [id, whats] : linesOf) {
        EXPECT_EQ(whats.front(), "start") << log;
        ends.push_back(whats.back());
    }
    EXPECT_EQ(ends, (std::vector<std::string>{"end", "end"}));
    EXPECT_NE(log.find("end: exit status 1618, the launcher's: another launcher is running\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("end: exit status 0, SETUP.exe's own\n"), std::string::npos) << log;
    // The second run's lines stand between the first run's.
    EXPECT_LT(log.find("exit status 1618"), log.find("exit status 0, SETUP.exe's own")) << log;
}

// On a terminal the unpacking draws one line on standard error, between the preparation
// notice and the completion notice, and wipes it; under /S nothing is shown at all.
TEST(LauncherRunTest, UnpackingShowsOneProgressLineOnATerminal) {
    if (const std::string missing = terminalsMissing(); !missing.empty()) {
        GTEST_SKIP() << missing;
    }
    TempPrefix prefix;
    const ProgramRun run = runProgramOnTerminal({kLauncher}, {kLocale});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::size_t items = sample::sampleItems().size();
    const std::string drawn = "\rUnpacking the installation files [";
    const std::string done =
        "] " + std::to_string(items) + " of " + std::to_string(items) + " items, ";
    const std::size_t preparation = run.err.find("Note: After closing");
    const std::size_t first = run.err.find(drawn);
    const std::size_t last = run.err.rfind(done);
    const std::size_t completion = run.err.find("Data preparation has been completed");
    ASSERT_NE(first, std::string::npos) << run.err;
    ASSERT_NE(last, std::string::npos) << run.err;
    EXPECT_LT(preparation, first);
    EXPECT_LT(last, completion);
    EXPECT_EQ(countOf(run.err, "BRASKETTLE\r\n"), 3u) << run.err;
    // Never a line end within the drawings: it is one line, drawn over.
    const std::size_t next = run.err.find("BRASKETTLE\r\n", first);
    EXPECT_EQ(run.err.substr(first, next - first).find('\n'), std::string::npos) << run.err;

    TempPrefix silentPrefix;
    const ProgramRun silent = runProgramOnTerminal({kLauncher, "/S"}, {kLocale});
    ASSERT_EQ(silent.status, 0) << silent.err;
    EXPECT_EQ(silent.err, "");
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

TEST(LauncherRunTest, ALauncherWithoutAUsablePayloadSaysSoAndEndsWithFailure) {
    const std::string stub = readHostFile(kStub);
    ASSERT_FALSE(stub.empty());
    struct Case {
        const char* what;
        std::string file;
        bool fullDisk = false;  // the staging folder on a full file system
    } cases[] = {
        {"no resources at all", stub},
        {"payload shorter than its prefix",
         withResources(stub, {{"TIMELISTINGS", "#132", std::string(53, 'p')}})},
        {"payload under another name",
         withResources(stub, {{"TIMELISTINGS", "#133", std::string(54, 'p') + "PK"}})},
        {"the staging archive not written: the disk is full", readHostFile(kLauncher), true},
    };
    const std::string notLoaded = "The installation archive could not be loaded from this program";
    const std::string notWritten =
        "The installation archive could not be written to "
        "C:\\Temp\\_Download\\_UnZip\\Morvanta.zip: the disk is full.";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempPrefix prefix;
        const std::string launcher = prefix.root() + "/launcher";
        ASSERT_TRUE(writeHostFile(launcher, c.file));
        fs::permissions(launcher, fs::perms::owner_all);
        // The staging folder itself is emptied first: the file system is filled beside it.
        const std::string download = prefix.host("C:\\Temp\\_Download");
        if (c.fullDisk) {
            fs::create_directories(download);
            if (geteuid() != 0 || mount("tmpfs", download.c_str(), "tmpfs", 0, "size=64k") != 0) {
                continue;  // mounting a small file system needs root
            }
            std::string filler(1 << 20, 'f');  // more than there is room for
            writeHostFile(download + "/filler", filler);
        }
        const ProgramRun run = runProgram({launcher});
        EXPECT_EQ(run.status, 1) << run.err;
        // The opening notice, then the failure notice.
        EXPECT_EQ(countOf(run.err, "BRASKETTLE\n"), 2u) << run.err;
        EXPECT_EQ(countOf(run.err, "The installation files could not be prepared.\n\n" +
                                       (c.fullDisk ? notWritten : notLoaded)),
                  1u)
            << run.err;
        EXPECT_FALSE(fs::exists(prefix.host("C:\\Temp\\_Download\\_UnZip\\Morvanta.zip")));
        if (c.fullDisk) {
            umount2(download.c_str(), MNT_DETACH);
        }
    }
}

}  // namespace
}  // namespace fw::test
