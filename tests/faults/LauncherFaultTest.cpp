// A whole launcher run (the entry, then the application object's destruction) over an
// earlier run's tree, with each kind of platform call failing in turn: the first call,
// every n-th call that a clean run makes, and every call of that kind. Whatever fails,
// the run must end, give the documented exit status, and touch nothing outside the
// staging folder and the product folder; a run that says all went well has unpacked
// every item as it is, and one where an item failed says so and goes no further.
// Leaks show in the sanitizer build.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "app/FerrowickApp.h"
#include "pack/ZipWriter.h"
#include "platform/fault/FaultPlatform.h"
#include "platform/posix/CodePage.h"
#include "tests/support/PrefixSnapshot.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {
namespace {

namespace fs = std::filesystem;
using fault::Call;
using fault::FaultInjector;
using fw::CommandArgument;
using fw::ProcessCommandLine;

constexpr const char* kLaunch = "C:/Temp/_Download/_UnZip/disk1/SETUP.exe";
// Under /S SETUP.exe is started directly.
constexpr const char* kStart = "\"C:\\Temp\\_Download\\_UnZip\\disk1\\SETUP.exe\"";
constexpr const char* kUnzip = "C:/Temp/_Download/_UnZip/";
constexpr const char* kFailureNotice = "The installation files could not be prepared.";

std::string text(std::size_t size) {
    std::string out;
    while (out.size() < size) {
        out += "setup data resource window value 1.0.0.1\r\n";
    }
    out.resize(size);
    return out;
}

struct ExpectedFile {
    std::string name;  // host (UTF-8) name below the staging folder
    std::string data;
    bool readOnly = false;
};

std::vector<ExpectedFile>& expectedFiles() {
    static std::vector<ExpectedFile> files;
    return files;
}

// Shaped like the shipped installer set: nested folders, a read-only file, an empty
// file, code page 936 names (one with a trail byte 0x5C), "UT" times, and items larger
// than one 16 KB piece.
std::string makePayload() {
    using zipwrite::Entry;
    const std::string times = zipwrite::utBlock(7, {1200000000, 1200000100, 1200000200});
    auto file = [&](std::string name, std::string data, bool deflate = true) {
        Entry e;
        e.name = std::move(name);
        e.data = std::move(data);
        e.deflate = deflate;
        e.localExtra = times;
        return e;
    };
    Entry folder = file("disk1/Res/", "", false);
    folder.externalAttributes = 0x10;
    Entry readOnly = file("disk1/readonly.ini", "[setup]\r\n", false);
    readOnly.externalAttributes = 0x21;
    const std::vector<Entry> entries = {
        file("disk1/DATA.TAG", "tag", false),
        folder,
        file("disk1/SETUP.EXE", text(40000)),
        file("disk1/Res/REST/html1.htm", text(70000)),
        readOnly,
        file("disk1/empty.dat", "", false),
        file("disk1/\xB0\xB2\xD7\xB0/\xCA\xFD\xBE\xDD.txt", text(500)),
        file("disk1/Res/\x81\x5C.txt", "trail byte", false),
    };
    for (const Entry& e : entries) {
        if ((e.externalAttributes & 0x10) == 0) {
            expectedFiles().push_back(
                {posix::ansiToUtf8(e.name, 936), e.data, (e.externalAttributes & 0x01) != 0});
        }
    }
    TempPrefix scratch;
    const std::string path = scratch.root() + "/payload.zip";
    std::string error;
    if (!zipwrite::writeArchive(path, entries, &error)) {
        ADD_FAILURE() << error;
    }
    return std::string(54, 'P') + readHostFile(path);
}

struct Outcome {
    int status = -1;
    Recorded world;
    std::array<int, fault::kCallCount> calls{};
    int injected = 0;
    std::vector<std::string> escaped;  // changed paths outside the two folders
    bool stagingArchiveLeft = false;
    bool setupLeft = false;
    bool productFolder = false;
    bool unpackedAsExpected = false;  // every item's file, byte for byte, read-only as it is
    bool anyUnpacked = false;         // some item's file is there as this payload has it
    bool copied = false;              // the resource folder's files are in the product folder
};

class LauncherFaultTest : public ::testing::TestWithParam<Call> {
  protected:
    static void SetUpTestSuite() {
        setenv("LC_ALL", "zh_CN.UTF-8", 1);  // code page 936
        payload_ = new std::string(makePayload());
        SetUnpackWorkerLimit(1);  // so that call n is the same call in every run
    }
    static void TearDownTestSuite() {
        delete payload_;
        payload_ = nullptr;
        unsetenv("LC_ALL");
        SetUnpackWorkerLimit(4);
    }

    static Outcome run(const std::function<void(FaultInjector&)>& arm,
                       std::vector<CommandArgument> arguments = {}) {
        const bool logged = !arguments.empty();
        ProcessCommandLine commandLine{std::move(arguments), std::nullopt};
        Outcome outcome;
        TempPrefix prefix;
        // The resource folder beside the executable's build folder, and files that
        // must stay as they are.
        writeHostFile(prefix.host("C:/Tools/res/Pellmoor/readme.txt"), "readme");
        writeHostFile(prefix.host("C:/Tools/res/Pellmoor/sub/b.txt"), "b");
        writeHostFile(prefix.host("C:/Tools/res/Pellmoor/Thumbs.db"), "thumbs");
        writeHostFile(prefix.host("C:/Temp/keep.txt"), "keep");
        writeHostFile(prefix.host("C:/Product_Released/keep.txt"), "keep");
        writeHostFile(prefix.host("C:/Users/Public/keep.txt"), "keep");
        // An earlier run, cut off while it wrote a read-only item.
        const std::string leftover = prefix.host("C:/Temp/_Download/_UnZip/disk1/readonly.ini");
        writeHostFile(leftover, "[set");
        chmod(leftover.c_str(), 0444);
        fs::create_directories(prefix.host("C:/work"));
        const fs::path saved = fs::current_path();
        fs::current_path(prefix.host("C:/work"));

        const PrefixSnapshot before = snapshotPrefix(prefix.root());
        {
            RecordingPlatform recording;
            recording.script.payload = *payload_;
            recording.script.modulePath = "C:\\Tools\\Release\\Ferrowick.exe";
            FaultInjector injector;
            arm(injector);
            {
                CFerrowickApp app;
                outcome.status = AfxWinMain(std::move(commandLine));
            }
            for (std::size_t k = 0; k < fault::kCallCount; ++k) {
                outcome.calls[k] = injector.calls(static_cast<Call>(k));
            }
            outcome.injected = injector.injected();
            outcome.world = recording.recorded;
        }
        const PrefixSnapshot after = snapshotPrefix(prefix.root());
        fs::current_path(saved);

        std::vector<std::string_view> folders = {"drive_c/Temp", "drive_c/Temp/_Download",
                                                 "drive_c/Product_Released"};
        if (logged) {
            folders.push_back("drive_c/Temp/_Download/Ferrowick.log");
        }
        outcome.escaped =
            outside(changedPaths(before, after), folders,
                    {"drive_c/Temp/_Download/_UnZip", "drive_c/Product_Released/Pellmoor"});
        outcome.stagingArchiveLeft =
            fs::exists(prefix.host("C:/Temp/_Download/_UnZip/Morvanta.zip"));
        outcome.setupLeft = fs::exists(prefix.host("C:/Temp/_Download/_UnZip/disk1/SETUP.EXE"));
        outcome.productFolder = fs::exists(prefix.host("C:/Product_Released/Pellmoor"));
        outcome.unpackedAsExpected = true;
        for (const ExpectedFile& file : expectedFiles()) {
            const std::string host = prefix.host(kUnzip + file.name);
            struct stat info {};
            // The set-up program is gone at exit; the launch shows it was there.
            if (file.name != "disk1/SETUP.EXE" &&
                (stat(host.c_str(), &info) != 0 || readHostFile(host) != file.data ||
                 ((info.st_mode & S_IWUSR) == 0) != file.readOnly)) {
                outcome.unpackedAsExpected = false;
            }
            outcome.anyUnpacked =
                outcome.anyUnpacked || (fs::exists(host) && readHostFile(host) == file.data);
        }
        outcome.copied = readHostFile(prefix.host("C:/Product_Released/Pellmoor/sub/b.txt")) == "b";
        return outcome;
    }

    // The clean run's number of calls of each kind, made once.
    static const std::array<int, fault::kCallCount>& cleanCalls() {
        static const std::array<int, fault::kCallCount> calls = run([](FaultInjector&) {}).calls;
        return calls;
    }

    static std::string* payload_;
};

std::string* LauncherFaultTest::payload_ = nullptr;

// The calls that prepare the installation files: the launcher's own folders made or
// checked, the staging folder emptied of the earlier run's tree, the payload staged.
bool prepares(Call call) {
    switch (call) {
        case Call::makeOwnFolder:
        case Call::emptyFolder:
        case Call::findResource:
        case Call::createFile:
        case Call::writeFile:
        case Call::closeFile:
            return true;
        default:
            return false;
    }
}

// A failure while the installation files are prepared ends the run with status 1: finding
// the resource, the folders made, checked or emptied, or the first file created, written
// or closed (the staging archive). Later calls of those kinds may come after the
// unpacking. `nth` 0 stands for every call.
bool stopsEarly(Call call, int nth) {
    return prepares(call) && (call == Call::findResource || nth <= 1);
}

// The n-th calls to fail: all of them for a kind that a clean run makes rarely, a spread
// over the whole run otherwise.
std::vector<int> nthCalls(int count) {
    std::vector<int> picked;
    constexpr int kAll = 24;
    for (int n = 1; n <= count; ++n) {
        if (count <= kAll || n <= 4 || n == count || n % (count / (kAll - 5)) == 0) {
            picked.push_back(n);
        }
    }
    return picked;
}

void expectSound(const Outcome& o, Call call, int nth, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_GT(o.injected, 0) << "the fault never fired";
    EXPECT_TRUE(o.escaped.empty()) << "touched outside the staging and product folders: "
                                   << ::testing::PrintToString(o.escaped);
    const std::vector<std::string>& notices = o.world.notices;
    if (call == Call::claimSingleInstance) {
        // As if another launcher ran: one notice, nothing touched, status 3.
        EXPECT_EQ(o.status, 3);
        EXPECT_EQ(notices.size(), 1u);
        EXPECT_TRUE(o.world.commands.empty());
        EXPECT_TRUE(o.escaped.empty());
        return;
    }
    if (stopsEarly(call, nth)) {
        EXPECT_EQ(o.status, 1);
    }
    if (o.status == 1) {
        // Told: the failure notice (after the opening notice, unless the launcher's own
        // folder came first), and nothing unpacked, copied or launched.
        EXPECT_TRUE(prepares(call)) << o.status;
        ASSERT_FALSE(notices.empty());
        EXPECT_EQ(notices.back().rfind(kFailureNotice, 0), 0u) << notices.back();
        EXPECT_LE(notices.size(), 2u);
        EXPECT_FALSE(o.anyUnpacked);
        EXPECT_FALSE(o.stagingArchiveLeft);
        EXPECT_TRUE(o.world.commands.empty());
        EXPECT_TRUE(o.world.sleeps.empty());
        EXPECT_FALSE(o.productFolder);
        return;
    }
    if (call != Call::removeFile) {
        EXPECT_FALSE(o.stagingArchiveLeft);
        EXPECT_FALSE(o.setupLeft);
    }
    ASSERT_TRUE(o.status == 0 || o.status == 2) << o.status;
    if (o.status == 0) {
        // Said to be complete: every item is there as it is, and it was launched.
        EXPECT_TRUE(o.unpackedAsExpected) << "a broken tree reported as complete";
        EXPECT_EQ(o.world.commands.size(), call == Call::runCommand ? 0u : 1u);
        for (const std::string& command : o.world.commands) {
            EXPECT_EQ(command, kLaunch);
        }
        if (call != Call::sleep) {
            EXPECT_EQ(o.world.sleeps, std::vector<uint32_t>{5000});
        }
        return;
    }
    // An item failed: the failure notice last, naming targets of the payload's items, and
    // no completion notice, copy, launch or wait.
    ASSERT_FALSE(notices.empty());
    const std::string& notice = notices.back();
    EXPECT_EQ(notice.rfind(kFailureNotice, 0), 0u) << notice;
    EXPECT_EQ(notices.size(), 3u) << "opening, preparation, failure";
    const bool unread = notice.find("could not be read") != std::string::npos;
    int named = 0;
    for (std::size_t at = notice.find(kUnzip); at != std::string::npos;
         at = notice.find(kUnzip, at + 1)) {
        const std::size_t end = notice.find(": ", at);
        ASSERT_NE(end, std::string::npos);
        const std::string name = posix::ansiToUtf8(
            notice.substr(at + std::strlen(kUnzip), end - at - std::strlen(kUnzip)), 936);
        bool known = name == "disk1/Res/";
        for (const ExpectedFile& file : expectedFiles()) {
            known = known || file.name == name;
        }
        EXPECT_TRUE(known) << name;
        ++named;
    }
    // An item that could not be described is named by its number.
    for (std::size_t at = notice.find("\nitem "); at != std::string::npos;
         at = notice.find("\nitem ", at + 1)) {
        EXPECT_NE(notice.find(" of the archive: ", at), std::string::npos) << notice;
        ++named;
    }
    EXPECT_EQ(named == 0, unread) << notice;
    EXPECT_TRUE(o.world.commands.empty());
    EXPECT_TRUE(o.world.sleeps.empty());
    EXPECT_FALSE(o.productFolder);
}

TEST_F(LauncherFaultTest, CleanRunUnpacksCopiesAndLaunches) {
    const Outcome o = run([](FaultInjector&) {});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(o.escaped.empty()) << ::testing::PrintToString(o.escaped);
    EXPECT_TRUE(o.unpackedAsExpected);
    EXPECT_TRUE(o.copied);
    EXPECT_EQ(o.world.notices.size(), 3u);  // opening, preparation, completion: no copy failure
    // The earlier run's tree goes with the staging folder's emptying, its read-only file too.
    EXPECT_EQ(o.calls[static_cast<std::size_t>(Call::emptyFolder)], 1);
    EXPECT_EQ(o.calls[static_cast<std::size_t>(Call::setFileAttributes)], 0);
    EXPECT_EQ(o.world.commands, std::vector<std::string>{kLaunch});
    EXPECT_EQ(o.world.sleeps, std::vector<uint32_t>{5000});
    EXPECT_FALSE(o.stagingArchiveLeft);
    EXPECT_FALSE(o.setupLeft);
    // The staging is one resource, one archive created, written and closed first.
    EXPECT_EQ(o.calls[static_cast<std::size_t>(Call::findResource)], 1);
}

TEST_P(LauncherFaultTest, EndsSoundlyWhateverCallFails) {
    const Call call = GetParam();
    const int count = cleanCalls()[static_cast<std::size_t>(call)];
    if (count == 0) {
        GTEST_SKIP() << fault::callName(call) << " is not called in a launcher run";
    }
    expectSound(run([&](FaultInjector& f) { f.failFrom(call, 1); }), call, 0, "every call fails");
    for (int nth : nthCalls(count)) {
        expectSound(run([&](FaultInjector& f) { f.failNth(call, nth); }), call, nth,
                    "call " + std::to_string(nth) + " of " + std::to_string(count) + " fails");
    }
}

TEST_F(LauncherFaultTest, ShortReadsOfTheStagingArchiveEndSoundly) {
    const int reads = cleanCalls()[static_cast<std::size_t>(Call::readFileAt)];
    ASSERT_GT(reads, 0);
    for (int nth : nthCalls(reads)) {
        for (std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{7}}) {
            const Outcome o =
                run([&](FaultInjector& f) { f.shortReadNth(Call::readFileAt, nth, limit); });
            expectSound(o, Call::readFileAt, nth,
                        "read " + std::to_string(nth) + " cut to " + std::to_string(limit));
        }
    }
}

// Under /S no notice is shown whatever fails, the log (written through calls that fail
// too) never decides the outcome, and the run ends with a documented status: SETUP.exe's
// own only once it has been started.
TEST_F(LauncherFaultTest, ASilentRunEndsSoundlyWhateverCallFails) {
    const std::vector<CommandArgument> silent = {{"/S", true}};
    const Outcome clean = run([](FaultInjector&) {}, silent);
    ASSERT_EQ(clean.status, 0);
    ASSERT_TRUE(clean.unpackedAsExpected);
    ASSERT_EQ(clean.world.commands, std::vector<std::string>{kStart});
    ASSERT_GT(clean.calls[static_cast<std::size_t>(Call::appendText)], 10);
    for (std::size_t k = 0; k < fault::kCallCount; ++k) {
        const Call call = static_cast<Call>(k);
        if (clean.calls[k] == 0) {
            continue;
        }
        for (const bool every : {false, true}) {
            SCOPED_TRACE(std::string(fault::callName(call)) + (every ? ": every call" : ": first"));
            const Outcome o = run(
                [&](FaultInjector& f) {
                    if (every) {
                        f.failFrom(call, 1);
                    } else {
                        f.failNth(call, 1);
                    }
                },
                silent);
            EXPECT_GT(o.injected, 0);
            EXPECT_TRUE(o.world.notices.empty());
            EXPECT_TRUE(o.escaped.empty()) << ::testing::PrintToString(o.escaped);
            for (const std::string& event : o.world.events) {
                EXPECT_NE(event.rfind("run:", 0), 0u) << "shown: " << event;
            }
            if (o.status == 0) {
                EXPECT_TRUE(o.unpackedAsExpected) << "a broken tree reported as complete";
                EXPECT_EQ(o.world.commands, std::vector<std::string>{kStart});
                continue;
            }
            // Windows Installer's codes: 1618 another launcher runs, 1603 anything else
            // that stopped the run, a SETUP.exe that could not be started too.
            EXPECT_EQ(o.status == 1618, call == Call::claimSingleInstance) << o.status;
            if (call == Call::runProgram) {
                EXPECT_EQ(o.status, 1603);
                EXPECT_TRUE(o.unpackedAsExpected);
            } else {
                ASSERT_TRUE(o.status == 1603 || o.status == 1618) << o.status;
                EXPECT_TRUE(o.world.commands.empty());
                EXPECT_FALSE(o.productFolder);
            }
        }
    }
}

std::vector<Call> allCalls() {
    std::vector<Call> calls;
    for (std::size_t k = 0; k < fault::kCallCount; ++k) {
        calls.push_back(static_cast<Call>(k));
    }
    return calls;
}

INSTANTIATE_TEST_SUITE_P(EachCallKind, LauncherFaultTest, ::testing::ValuesIn(allCalls()),
                         [](const ::testing::TestParamInfo<Call>& param) {
                             return std::string(fault::callName(param.param));
                         });

}  // namespace
}  // namespace fw::test
