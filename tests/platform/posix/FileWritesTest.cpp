// Writing through the POSIX backend: every byte lands in order, a failure reaches the
// write that met it, a large removed file is let go of soon; and the thread contract:
// calls for different handles, and calls by name, from several threads at once.
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
#include "platform/posix/CodePage.h"
#include "tests/support/Noise.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw {
namespace {

constexpr std::size_t kBlockSize = 64 * 1024;  // any size: pieces are cut across it

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

class FileWritesTest : public testing::Test {
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

TEST_F(FileWritesTest, EveryPieceLandsInOrder) {
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

TEST_F(FileWritesTest, TimesSetAfterTheDataStay) {
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

TEST_F(FileWritesTest, ReadsAndSeeksOnTheSameHandleSeeWhatWasWritten) {
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

TEST_F(FileWritesTest, AFailedWriteIsReportedByThatWrite) {
    // /dev/full refuses every write with ENOSPC: the write that met it says so, whatever
    // its size, and lastError tells the disk is full.
    for (const std::size_t size : {std::size_t{100}, 5 * kBlockSize}) {
        SCOPED_TRACE(size);
        const FileHandle file = os().createFile("Z:\\dev\\full", 0, false);
        ASSERT_NE(file, kInvalidFile);
        const std::string data = test::noise(size, 3);
        errno = 0;
        EXPECT_FALSE(os().writeFile(file, data.data(), data.size()));
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_EQ(os().lastError(), kErrorDiskFull);
        EXPECT_TRUE(os().closeFile(file));
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

TEST_F(FileWritesTest, ALargeRemovedFileIsGoneAtOnceAndReleasedSoon) {
    const std::string host = prefix.host("C:\\Out\\archive.bin");
    ASSERT_TRUE(test::writeHostFile(host, test::noise(5 << 20, 7)));  // large: freed behind
    ASSERT_TRUE(os().removeFile("C:\\Out\\archive.bin"));
    EXPECT_EQ(os().getFileAttributes("C:\\Out\\archive.bin"), kInvalidAttributes);
    EXPECT_EQ(access(host.c_str(), F_OK), -1);
    // The same name can be made again at once.
    const FileHandle again = os().createFile("C:\\Out\\archive.bin", 0, false);
    ASSERT_NE(again, kInvalidFile);
    EXPECT_TRUE(os().closeFile(again));
    // The removed file's descriptor is closed on another thread.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (descriptorsOf(host + " (deleted)") > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(descriptorsOf(host + " (deleted)"), 0);
}

// The thread contract under load: writer threads, each with handles of its own, fill
// files in shared folders (names in code page 936, so the code page's conversions and
// the folder-name index are shared too), while other threads open, read, copy and remove
// files by name, and each thread's lastError stays its own. Run under the sanitizers
// (ASan, and TSan: the tsan preset) as well as plainly.
TEST_F(FileWritesTest, SeveralThreadsAtOnce) {
    test::ScopedLocale chinese{"zh_CN.UTF-8"};
    constexpr int kWriters = 6;
    constexpr int kFilesEach = 40;
    const std::string folders[] = {"C:\\Out\\\xB0\xB2\xD7\xB0", "C:\\Out\\shared"};
    for (const std::string& folder : folders) {
        ASSERT_TRUE(os().createDirectory(folder.c_str()));
    }
    const auto nameOf = [&](int writer, int file) {
        return folders[file % 2] + "\\\xCA\xFD" + std::to_string(writer) + "-" +
               std::to_string(file) + ".bin";
    };
    const auto dataOf = [](int writer, int file) {
        return test::noise(1000 + static_cast<std::size_t>(file % 7) * 30000,
                           static_cast<unsigned>(writer * 1000 + file));
    };
    ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\Out\\source.bin"), test::noise(300000, 9)));
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            for (int f = 0; f < kFilesEach; ++f) {
                const std::string data = dataOf(w, f);
                const FileHandle file = os().createFile(nameOf(w, f).c_str(), 0, false);
                ASSERT_NE(file, kInvalidFile);
                ASSERT_TRUE(writeInPieces(file, data, 1 + static_cast<std::size_t>(f) * 7919));
                const FileTime time = FileTime::fromTicks(128000000000000000ull);
                EXPECT_TRUE(os().setFileTimes(file, nullptr, &time, &time));
                ASSERT_TRUE(os().closeFile(file));
            }
        });
    }
    for (int b = 0; b < 2; ++b) {
        threads.emplace_back([&, b] {
            for (int round = 0; round < 60; ++round) {
                const std::string copy = "C:\\Out\\shared\\copy" + std::to_string(b) + ".bin";
                EXPECT_TRUE(os().copyFile("C:\\Out\\source.bin", copy.c_str()));
                const FileHandle in = os().openFile(copy.c_str());
                ASSERT_NE(in, kInvalidFile);
                char head[16];
                EXPECT_EQ(os().readFileAt(in, head, sizeof head, 100), 16);
                EXPECT_TRUE(os().closeFile(in));
                EXPECT_TRUE(os().removeFile(copy.c_str()));
                // A call that fails here leaves this thread's error, whatever the others do.
                EXPECT_EQ(os().openFile("C:\\Out\\missing\\none.bin"), kInvalidFile);
                EXPECT_EQ(os().lastError(), kErrorPathNotFound);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int w = 0; w < kWriters; ++w) {
        for (int f = 0; f < kFilesEach; ++f) {
            const std::string host = prefix.host(posix::ansiToUtf8(nameOf(w, f), 936).c_str());
            EXPECT_TRUE(test::readHostFile(host) == dataOf(w, f)) << host;
        }
    }
    EXPECT_EQ(os().getFileAttributes("C:\\Out\\shared\\copy0.bin"), kInvalidAttributes);
}

}  // namespace
}  // namespace fw
