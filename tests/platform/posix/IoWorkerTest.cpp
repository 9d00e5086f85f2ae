// Writing through the backend's I/O worker: every byte lands in order, times set after
// the data stay, a failure in the background reaches the caller, nothing is lost at exit.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "platform/posix/IoWorker.h"
#include "tests/support/Noise.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw {
namespace {

using posix::io::kBlocks;
using posix::io::kBlockSize;

// Writes `data` in pieces of `piece` bytes, as the archive reader does; false as soon as
// one is refused.
bool writeInPieces(FileHandle file, std::string_view data, std::size_t piece = 16384) {
    for (std::size_t at = 0; at < data.size(); at += piece) {
        if (!os().writeFile(file, data.data() + at, std::min(piece, data.size() - at))) {
            return false;
        }
    }
    return true;
}

class IoWorkerTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(os().createDirectory("C:\\Out")); }

    std::string contents(const char* path) { return test::readHostFile(prefix.host(path)); }

    test::ScopedLocale locale{"en_US.UTF-8"};
    test::TempPrefix prefix;
};

struct Pieces {
    const char* name;
    std::vector<std::size_t> sizes;  // written in turn until the data is used up
    std::size_t total;
};

TEST_F(IoWorkerTest, EveryPieceLandsInOrder) {
    const std::vector<Pieces> cases = {
        {"one byte", {1}, 1},
        {"reader pieces, less than a block", {16384}, kBlockSize - 1},
        {"reader pieces, exactly one block", {16384}, kBlockSize},
        {"reader pieces, blocks and a tail", {16384}, 5 * kBlockSize + 777},
        {"odd pieces across block edges", {1, 4095, 16384, 70001, 3}, 3 * kBlockSize + 12345},
        {"whole blocks and more at once", {kBlockSize, 2 * kBlockSize + 5, 10}, 9 * kBlockSize},
        {"large after small", {100, 3 * kBlockSize}, 7 * kBlockSize},
    };
    unsigned seed = 1;
    for (const Pieces& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string data = test::noise(c.total, seed++);
        const FileHandle file = os().createFile("C:\\Out\\f.bin", 0, false);
        ASSERT_NE(file, kInvalidFile);
        std::size_t at = 0;
        for (std::size_t i = 0; at < data.size(); ++i) {
            const std::size_t n = std::min(c.sizes[i % c.sizes.size()], data.size() - at);
            ASSERT_TRUE(os().writeFile(file, data.data() + at, n));
            at += n;
        }
        ASSERT_TRUE(os().closeFile(file));
        EXPECT_TRUE(contents("C:\\Out\\f.bin") == data);
    }
}

TEST_F(IoWorkerTest, MoreFilesAtOnceThanBlocks) {
    // Each handle holds a part-filled block; one more handle needs one written out. From
    // one thread in turn, and from a thread per file, copying into blocks all at once.
    constexpr std::size_t kFiles = kBlocks + 3;
    constexpr std::size_t kPiece = 10000;
    for (const bool threaded : {false, true}) {
        SCOPED_TRACE(threaded ? "a thread per file" : "one thread");
        std::vector<FileHandle> files;
        std::vector<std::string> data;
        for (std::size_t i = 0; i < kFiles; ++i) {
            const std::string path = "C:\\Out\\" + std::to_string(i) + ".bin";
            files.push_back(os().createFile(path.c_str(), 0, false));
            ASSERT_NE(files.back(), kInvalidFile);
            data.push_back(test::noise(2 * kBlockSize + 1000 * i, 100 + static_cast<unsigned>(i)));
        }
        if (threaded) {
            std::vector<std::thread> writers;
            for (std::size_t i = 0; i < kFiles; ++i) {
                writers.emplace_back(
                    [&, i] { EXPECT_TRUE(writeInPieces(files[i], data[i], kPiece)); });
            }
            for (std::thread& writer : writers) {
                writer.join();
            }
        } else {
            for (std::size_t at = 0; at < data.back().size(); at += kPiece) {
                for (std::size_t i = 0; i < kFiles; ++i) {
                    if (at < data[i].size()) {
                        const std::size_t n = std::min(kPiece, data[i].size() - at);
                        ASSERT_TRUE(os().writeFile(files[i], data[i].data() + at, n));
                    }
                }
            }
        }
        for (std::size_t i = 0; i < kFiles; ++i) {
            ASSERT_TRUE(os().closeFile(files[i]));
            const std::string path = "C:\\Out\\" + std::to_string(i) + ".bin";
            EXPECT_TRUE(contents(path.c_str()) == data[i]) << path;
        }
    }
}

TEST_F(IoWorkerTest, TimesSetAfterTheDataStay) {
    const std::string data = test::noise(6 * kBlockSize + 3, 7);
    const FileHandle file = os().createFile("C:\\Out\\t.bin", 0, false);
    ASSERT_NE(file, kInvalidFile);
    ASSERT_TRUE(writeInPieces(file, data));
    const FileTime written = FileTime::fromTicks(128000000000000000ull);  // 2006
    ASSERT_TRUE(os().setFileTimes(file, nullptr, &written, &written));
    ASSERT_TRUE(os().closeFile(file));
    struct stat info {};
    ASSERT_EQ(stat(prefix.host("C:\\Out\\t.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, (128000000000000000ll - 116444736000000000ll) / 10000000);
    EXPECT_EQ(static_cast<std::size_t>(info.st_size), data.size());
}

TEST_F(IoWorkerTest, ReadsAndSeeksOnTheSameHandleSeeWhatWasWritten) {
    const std::string data = test::noise(2 * kBlockSize + 99, 9);
    const FileHandle file = os().createFile("C:\\Out\\rw.bin", 0, true);
    ASSERT_NE(file, kInvalidFile);
    ASSERT_TRUE(writeInPieces(file, data));
    EXPECT_EQ(os().seekFile(file, 0, SeekOrigin::end), static_cast<std::int64_t>(data.size()));
    ASSERT_EQ(os().seekFile(file, 0, SeekOrigin::begin), 0);
    std::string back(data.size(), '\0');
    std::size_t got = 0;
    while (got < back.size()) {
        const std::int64_t n = os().readFile(file, back.data() + got, back.size() - got);
        ASSERT_GT(n, 0);
        got += static_cast<std::size_t>(n);
    }
    EXPECT_TRUE(back == data);
    // Opened by name while the writer still holds it: the reader sees every byte.
    ASSERT_TRUE(os().writeFile(file, "tail", 4));
    const FileHandle reader = os().openFile("C:\\Out\\rw.bin");
    ASSERT_NE(reader, kInvalidFile);
    EXPECT_EQ(os().seekFile(reader, 0, SeekOrigin::end),
              static_cast<std::int64_t>(data.size() + 4));
    EXPECT_FALSE(os().writeFile(reader, "x", 1)) << "a handle opened for reading only";
    EXPECT_TRUE(os().closeFile(reader));
    EXPECT_TRUE(os().closeFile(file));
}

TEST_F(IoWorkerTest, AFailedWriteIsReportedAndStopsTheHandle) {
    // /dev/full refuses every write with ENOSPC, whoever writes it: the worker, for
    // whole blocks, or the caller, for the last part of one.
    struct Case {
        const char* name;
        std::size_t size;  // written in reader pieces
        bool setTimes;     // before the close
        bool writeAfter;   // once the worker has written them (a seek waits for it)
    };
    for (const Case& c :
         {Case{"a tail only: the close tells", 100, false, false},
          Case{"whole blocks: a later write or the close tells", 5 * kBlockSize, false, false},
          Case{"whole blocks: setting the times tells", 5 * kBlockSize, true, false},
          Case{"a whole block: the next write tells", kBlockSize, false, true}}) {
        SCOPED_TRACE(c.name);
        const FileHandle file = os().createFile("Z:\\dev\\full", 0, false);
        ASSERT_NE(file, kInvalidFile);
        const std::string data = test::noise(c.size, 3);
        bool refused = false;
        for (std::size_t at = 0; at < data.size(); at += 16384) {
            const bool ok = os().writeFile(file, data.data() + at,
                                           std::min<std::size_t>(16384, data.size() - at));
            if (refused) {
                EXPECT_FALSE(ok) << "a handle that failed goes on failing";
            }
            refused = refused || !ok;
        }
        if (c.writeAfter) {
            ASSERT_FALSE(refused) << "the worker has not written the block yet";
            ASSERT_EQ(os().seekFile(file, 0, SeekOrigin::current), 0);
            errno = 0;
            EXPECT_FALSE(os().writeFile(file, "x", 1));
            EXPECT_EQ(errno, ENOSPC);
        }
        if (c.setTimes) {
            const FileTime time = FileTime::fromTicks(128000000000000000ull);
            errno = 0;
            EXPECT_FALSE(os().setFileTimes(file, nullptr, &time, &time));
            EXPECT_EQ(errno, ENOSPC);
        }
        errno = 0;
        EXPECT_FALSE(os().closeFile(file));
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_EQ(os().lastError(), kErrorDiskFull);
    }
    // The handle's number is free of the failure once closed.
    const FileHandle next = os().createFile("C:\\Out\\after.bin", 0, false);
    ASSERT_TRUE(os().writeFile(next, "ok", 2));
    EXPECT_TRUE(os().closeFile(next));
    EXPECT_EQ(contents("C:\\Out\\after.bin"), "ok");
}

TEST_F(IoWorkerTest, WhatWasWrittenLandsWhenTheProcessExitsWithoutClosing) {
    // A part block that never reached the worker, and blocks that did.
    for (const std::size_t size : {std::size_t{100}, 3 * kBlockSize + 5}) {
        SCOPED_TRACE(size);
        const std::string data = test::noise(size, 11);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const FileHandle file = os().createFile("C:\\Out\\exit.bin", 0, false);
            std::exit(file != kInvalidFile && writeInPieces(file, data) ? 0 : 2);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), 0);
        EXPECT_TRUE(contents("C:\\Out\\exit.bin") == data);
    }
}

// Descriptors of this process that lead to `hostPath`, removed or not.
int descriptorsOf(const std::string& hostPath) {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (const dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        char target[4096];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)).rfind(hostPath, 0) == 0) {
            ++count;
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return count;
}

TEST_F(IoWorkerTest, ALargeRemovedFileIsGoneAtOnceAndReleasedSoon) {
    const std::string host = prefix.host("C:\\Out\\archive.bin");
    ASSERT_TRUE(test::writeHostFile(host, test::noise(5 << 20, 7)));  // large: freed by the worker
    ASSERT_TRUE(os().removeFile("C:\\Out\\archive.bin"));
    EXPECT_EQ(os().getFileAttributes("C:\\Out\\archive.bin"), kInvalidAttributes);
    EXPECT_EQ(access(host.c_str(), F_OK), -1);
    // The same name can be made again at once.
    const FileHandle again = os().createFile("C:\\Out\\archive.bin", 0, false);
    ASSERT_NE(again, kInvalidFile);
    EXPECT_TRUE(os().closeFile(again));
    // The removed file's descriptor is closed by the worker.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (descriptorsOf(host + " (deleted)") > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(descriptorsOf(host + " (deleted)"), 0);
}

}  // namespace
}  // namespace fw
