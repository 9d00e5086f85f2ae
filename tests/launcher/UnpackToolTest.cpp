// The unpack tool's arguments: host paths taken faithfully or refused with a message,
// and nothing written outside the folder it was given.
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/PrefixSnapshot.h"
#include "tests/support/Programs.h"
#include "tests/support/RawZip.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {
namespace {

constexpr const char* kWestern = "LC_ALL=en_US.UTF-8";  // code page 1252
constexpr const char* kChinese = "LC_ALL=zh_CN.UTF-8";  // code page 936

RawEntry stored(std::string name, std::string content) {
    RawEntry e;
    e.name = std::move(name);
    e.content = std::move(content);
    return e;
}

TEST(UnpackToolTest, ArgumentsAreHostPathsTakenFaithfullyOrRefused) {
    TempPrefix prefix;
    const std::string box = prefix.root() + "/box";
    const std::string zip = box + "/set.zip";
    ASSERT_TRUE(writeHostFile(
        zip, buildArchive({stored("disk1/one.txt", "one"), stored("disk1/two.txt", "two")})));
    std::filesystem::copy_file(zip, box + "/\u5b89\u88c5.zip");
    ASSERT_TRUE(writeHostFile(box + "/file", "a file"));
    ASSERT_TRUE(writeHostFile(box + "/Out/keep", "beside"));
    ASSERT_TRUE(writeHostFile(box + "/nul.zip", buildArchive({stored(std::string("a\0b", 3), "nul"),
                                                              stored("disk1/ok.txt", "ok")})));
    const std::string fifo = prefix.root() + "/fifo";  // outside the box: never read
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(writeHostFile(box + "/elsewhere/target.txt", "elsewhere"));
    std::filesystem::create_directory(box + "/real");
    std::filesystem::create_directory_symlink("real", box + "/above");
    const std::string link = "a symbolic link stands in its way";

    struct Case {
        const char* what;
        std::string archive;
        std::string folder;
        const char* locale;
        int status;
        std::string says;   // on standard error, or else on standard output
        std::string lands;  // the folder in the box the items land in; empty: none
        // Links planted in the box's "out" first: where, and what they lead to.
        std::vector<std::pair<std::string, std::string>> links = {};
    };
    const Case cases[] = {
        {"an empty folder", zip, "", kWestern, 2, "the path is empty", ""},
        {"an empty archive", "", box + "/out", kWestern, 2, "the path is empty", ""},
        {"a non-ASCII folder in 936", zip, box + "/\u51fa\u529b", kChinese, 0,
         "2 of 2 items unpacked, 0 failed", "\u51fa\u529b"},
        {"a non-ASCII folder in 1252", zip, box + "/\u51fa\u529b", kWestern, 2,
         "code page 1252 cannot express it", ""},
        {"a non-ASCII archive in 936", box + "/\u5b89\u88c5.zip", box + "/out", kChinese, 0,
         "2 of 2 items unpacked", "out"},
        {"a backslash in a name", zip, box + "/a\\b", kWestern, 2, "holds a backslash", ""},
        {"a trailing dot", zip, box + "/out.", kWestern, 2, "ends in a dot or a blank", ""},
        {"a trailing blank", zip, box + "/out ", kWestern, 2, "ends in a dot or a blank", ""},
        {"a question mark", zip, box + "/o?t", kWestern, 2, "cannot hold", ""},
        {"a colon", zip, box + "/o:t", kWestern, 2, "cannot hold", ""},
        {"a file as the folder", zip, box + "/file", kWestern, 2, "it is not a folder", ""},
        {"a file on the way", zip, box + "/file/sub", kWestern, 2, "Not a directory", ""},
        {"a FIFO as the archive", fifo, box + "/out", kWestern, 2, "not a regular file", ""},
        {"a folder as the archive", box, box + "/out", kWestern, 2, "it is a folder", ""},
        {"no archive", box + "/none.zip", box + "/out", kWestern, 2, "No such file", ""},
        {"not an archive", box + "/file", box + "/out", kWestern, 1, "no ZIP archive", ""},
        // Made as spelled, not found in another letter case beside it.
        {"a folder spelled as another one", zip, box + "/out", kWestern, 0, "2 of 2 items unpacked",
         "out"},
        {"an item that fails", box + "/nul.zip", box + "/out", kWestern, 1,
         "item 0 (stored as \"a\\x00b\"): AR_NAME_HAS_NUL", "out"},
        // Nothing is written through a link in the folder; one on the way to it is the
        // user's own.
        {"a link at a folder level",
         zip,
         box + "/out",
         kWestern,
         1,
         "item 0 \"disk1/one.txt\": AR_CANNOT_OPEN (" + link,
         "out",
         {{"disk1", "../elsewhere"}}},
        {"a link at the file",
         zip,
         box + "/out",
         kWestern,
         1,
         "item 0 \"disk1/one.txt\": AR_CANNOT_OPEN (" + link,
         "out",
         {{"disk1/one.txt", "../../elsewhere/target.txt"}}},
        {"a dangling link at the file",
         zip,
         box + "/out",
         kWestern,
         1,
         "item 0 \"disk1/one.txt\": AR_CANNOT_OPEN (" + link,
         "out",
         {{"disk1/one.txt", "../../elsewhere/new.txt"}}},
        {"a link above the folder", zip, box + "/above/out", kWestern, 0,
         "2 of 2 items unpacked, 0 failed", "real/out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(box + "/out");
        std::filesystem::remove_all(box + "/real/out");
        for (const auto& [where, to] : c.links) {
            std::filesystem::create_directories(
                std::filesystem::path(box + "/out/" + where).parent_path());
            std::filesystem::create_symlink(to, box + "/out/" + where);
        }
        const PrefixSnapshot before = snapshotPrefix(box);
        const ProgramRun run = runProgram({FERROWICK_UNPACK_PATH, c.archive, c.folder}, {c.locale});
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE((run.err + run.out).find(c.says), std::string::npos) << run.err << run.out;
        const std::vector<std::string> changed = changedPaths(before, snapshotPrefix(box));
        if (c.lands.empty()) {
            EXPECT_TRUE(changed.empty()) << ::testing::PrintToString(changed);
            continue;
        }
        EXPECT_TRUE(outside(changed, {}, {c.lands}).empty()) << ::testing::PrintToString(changed);
        const std::string landed = box + "/" + c.lands + "/disk1/";
        if (c.status == 0) {
            EXPECT_EQ(readHostFile(landed + "one.txt"), "one");
        } else if (!c.links.empty()) {
            EXPECT_EQ(readHostFile(box + "/elsewhere/target.txt"), "elsewhere");
        } else {
            EXPECT_EQ(readHostFile(landed + "ok.txt"), "ok");
            EXPECT_NE(run.out.find("1 of 2 items unpacked, 1 failed"), std::string::npos);
        }
    }
}

// On a terminal a bar shows the items and bytes, with the lines about failed items
// written over it; --quiet, or output that is no terminal, shows none.
TEST(UnpackToolTest, AProgressBarOnATerminalThatQuietLeavesOut) {
    TempPrefix prefix;
    const std::string zip = prefix.root() + "/set.zip";
    ASSERT_TRUE(
        writeHostFile(zip, buildArchive({stored("disk1/one.txt", std::string(1000, '1')),
                                         stored(std::string("a\0b", 3), "nul"),
                                         stored("disk1/two.txt", std::string(2000, '2'))})));
    const std::string failure =
        "ferrowick-unpack: item 1 (stored as \"a\\x00b\"): AR_NAME_HAS_NUL\r\n";
    const std::string full = "[##############################] 3 of 3 items, 3 of 3 KB";
    struct Case {
        bool terminal;
        bool quiet;
        bool bar;
        const char* workers = nullptr;  // --workers N, given before --quiet
    } cases[] = {{true, false, true},
                 {true, true, false},
                 {false, false, false},
                 {true, false, true, "1"},
                 {true, true, false, "2"}};
    const std::string terminalMissing = terminalsMissing();
    for (const Case& c : cases) {
        if (c.terminal && !terminalMissing.empty()) {
            continue;
        }
        SCOPED_TRACE(std::string(c.terminal ? "terminal" : "file") + (c.quiet ? ", --quiet" : "") +
                     (c.workers != nullptr ? std::string(", --workers ") + c.workers : ""));
        std::vector<std::string> argv = {FERROWICK_UNPACK_PATH};
        if (c.workers != nullptr) {
            argv.insert(argv.end(), {"--workers", c.workers});
        }
        if (c.quiet) {
            argv.push_back("--quiet");
        }
        argv.insert(argv.end(), {zip, prefix.root() + "/out" + (c.quiet ? "q" : "") +
                                          (c.workers != nullptr ? c.workers : "")});
        const ProgramRun run =
            c.terminal ? runProgramOnTerminal(argv, {kWestern}) : runProgram(argv, {kWestern});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.out, "ferrowick-unpack: 2 of 3 items unpacked, 1 failed\n");
        const std::string line =
            c.terminal ? failure : failure.substr(0, failure.size() - 2) + "\n";
        if (!c.bar) {
            EXPECT_EQ(run.err, line);
            continue;
        }
        // The bar is drawn, wiped for the line about the failed item, drawn again to the end
        // and wiped.
        const std::string empty = "[..............................] 0 of 3 items, 0 of 3 KB";
        EXPECT_EQ(run.err.rfind("\r" + empty, 0), 0u) << run.err;
        const std::size_t said =
            run.err.find("\r" + std::string(empty.size(), ' ') + "\r" + failure);
        const std::size_t end = run.err.rfind("\r" + full);
        ASSERT_NE(said, std::string::npos) << run.err;
        ASSERT_NE(end, std::string::npos) << run.err;
        EXPECT_LT(said, end);
        EXPECT_EQ(run.err.substr(end + 1 + full.size()),
                  "\r" + std::string(full.size(), ' ') + "\r");
    }
    if (!terminalMissing.empty()) {
        GTEST_SKIP() << "the rows on a terminal: " << terminalMissing;
    }
}

TEST(UnpackToolTest, EveryToolExplainsItselfAndSaysWhatToDo) {
    for (const char* tool : {FERROWICK_UNPACK_PATH, FERROWICK_PACK_PATH, FERROWICK_SAMPLE_PATH}) {
        SCOPED_TRACE(tool);
        const std::string name = std::filesystem::path(tool).filename().string();
        const ProgramRun help = runProgram({tool, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(help.out.starts_with("usage: " + name + " ")) << help.out;
        EXPECT_GT(help.out.size(), 300u);
        const ProgramRun version = runProgram({tool, "--version"});
        EXPECT_EQ(version.status, 0);
        EXPECT_TRUE(version.out.starts_with(name + " (Ferrowick) 1.")) << version.out;
        // A wrong command line: what is wrong, then what to do, then the usage.
        const ProgramRun wrong = runProgram({tool});
        EXPECT_EQ(wrong.status, 2);
        EXPECT_TRUE(wrong.err.starts_with(name + ": ")) << wrong.err;
        EXPECT_NE(wrong.err.find(" (see " + name + " --help)\nusage: "), std::string::npos)
            << wrong.err;
    }
}

}  // namespace
}  // namespace fw::test
