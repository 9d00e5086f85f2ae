// Bytes of a mapped file written file to file: the same bytes land as a plain write
// would give, and what the kernel refuses to copy that way is written as usual. A large
// write has its space reserved first: its file reads whole at once, a disk without room
// for it refuses the write itself, and a source that ends early fails the write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/posix/FileWrites.h"
#include "platform/posix/MappedFiles.h"
#include "tests/support/Noise.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw {
namespace {

class MappedFilesTest : public testing::Test {
  protected:
    void SetUp() override {
        source.resize(3 * 65536 + 123);
        for (std::size_t i = 0; i < source.size(); ++i) {
            source[i] = static_cast<char>(i * 7 + i / 251);
        }
        const std::string path = prefix.host("C:\\source.bin");
        ASSERT_TRUE(test::writeHostFile(path, source));
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        // Mapped from a page boundary past the start, as a resource is.
        void* at = mmap(nullptr, source.size() - 4096, PROT_READ, MAP_PRIVATE, fd, 4096);
        ASSERT_NE(at, MAP_FAILED);
        base = static_cast<const char*>(at);
        posix::noteMappedFile(base, source.size() - 4096, fd, 4096);
    }
    // The mapping and the descriptor are left to the process, as the backend's are.

    std::string source;
    int fd = -1;
    const char* base = nullptr;
    test::ScopedLocale locale{"en_US.UTF-8"};
    test::TempPrefix prefix;
};

TEST_F(MappedFilesTest, SpansAreFoundOnlyWhollyInsideAMapping) {
    const std::size_t size = source.size() - 4096;
    struct Case {
        std::ptrdiff_t offset;
        std::size_t count;
        bool found;
    };
    for (const Case& c :
         {Case{0, size, true}, Case{100, 50, true}, Case{0, size + 1, false},
          Case{static_cast<std::ptrdiff_t>(size), 0, true},
          Case{static_cast<std::ptrdiff_t>(size) - 1, 2, false}, Case{-1, 1, false}}) {
        const auto span = posix::mappedFileSpan(base + c.offset, c.count);
        EXPECT_EQ(span.has_value(), c.found) << c.offset << "+" << c.count;
        if (span && c.found) {
            EXPECT_EQ(span->fd, fd);
            EXPECT_EQ(span->offset, static_cast<std::uint64_t>(4096 + c.offset));
        }
    }
    std::string heap = "not mapped";
    EXPECT_FALSE(posix::mappedFileSpan(heap.data(), heap.size()).has_value());
}

TEST_F(MappedFilesTest, WritesFromAMappingLandAfterWhatWentBefore) {
    const FileHandle out = os().createFile("C:\\copy.bin", 0, false);
    ASSERT_NE(out, kInvalidFile);
    ASSERT_TRUE(os().writeFile(out, "head", 4));  // still gathered when the copy comes
    ASSERT_TRUE(os().writeFile(out, base + 10, source.size() - 4096 - 20));
    ASSERT_TRUE(os().writeFile(out, "tail", 4));
    ASSERT_TRUE(os().closeFile(out));
    EXPECT_TRUE(test::readHostFile(prefix.host("C:\\copy.bin")) ==
                "head" + source.substr(4096 + 10, source.size() - 4096 - 20) + "tail");
}

TEST_F(MappedFilesTest, WhatTheKernelWillNotCopyIsWrittenAsUsual) {
    // sendfile() refuses an output opened for appending.
    const std::string path = prefix.host("C:\\append.bin");
    ASSERT_TRUE(test::writeHostFile(path, "old:"));
    const int out = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(out, 0);
    EXPECT_TRUE(os().writeFile(out, base, 5000));
    close(out);
    EXPECT_TRUE(test::readHostFile(path) == "old:" + source.substr(4096, 5000));
}

TEST(LargeMappedWriteTest, ReadsWholeAtOnceAndFailuresReachTheWriter) {
    test::ScopedLocale locale{"en_US.UTF-8"};
    test::TempPrefix prefix;
    const std::size_t size = posix::kReserveFrom * 3 + 4321;
    const std::string source = test::noise(size + 4096, 5);
    ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\big.bin"), source));
    const int fd = open(prefix.host("C:\\big.bin").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 4096);
    ASSERT_NE(mapped, MAP_FAILED);
    const auto* base = static_cast<const char*>(mapped);
    posix::noteMappedFile(base, size, fd, 4096);
    const std::string expected = source.substr(4096);

    // Writes the mapping into `path` and closes it.
    const auto stage = [&](const char* path) {
        const FileHandle out = os().createFile(path, 0, false);
        return out != kInvalidFile && os().writeFile(out, base, size) && os().closeFile(out);
    };
    // Reads the file back through the backend: first its end, as an archive is read,
    // then from its start.
    std::string got(size, '\0');  // made beforehand: it is to be read into at once
    const auto readBack = [&](const char* path) {
        const FileHandle in = os().openFile(path);
        const auto readAt = [&](std::size_t from, std::size_t count) {
            return os().seekFile(in, static_cast<std::int64_t>(from), SeekOrigin::begin) >= 0 &&
                   os().readFile(in, got.data() + from, count) == static_cast<std::int64_t>(count);
        };
        bool read = in != kInvalidFile && readAt(size - 70000, 70000);
        for (std::size_t from = 0; read && from < size; from += 16384) {
            read = readAt(from, std::min<std::size_t>(16384, size - from));
        }
        os().closeFile(in);
        return read ? got : std::string();
    };
    struct Case {
        const char* name;
        std::function<void()> check;
    };
    const std::vector<Case> cases = {
        {"read back at once",
         [&] {
             ASSERT_TRUE(stage("C:\\staged.bin"));
             EXPECT_TRUE(readBack("C:\\staged.bin") == expected);
         }},
        {"replaced and removed at once",
         [&] {
             ASSERT_TRUE(stage("C:\\staged.bin"));
             ASSERT_TRUE(stage("C:\\staged.bin"));
             EXPECT_TRUE(readBack("C:\\staged.bin") == expected);
             ASSERT_TRUE(stage("C:\\removed.bin"));
             EXPECT_TRUE(os().removeFile("C:\\removed.bin"));
             EXPECT_EQ(os().getFileAttributes("C:\\removed.bin"), kInvalidAttributes);
         }},
        {"whole when the process exits at once",
         [&] {
             const pid_t child = fork();
             ASSERT_GE(child, 0);
             if (child == 0) {
                 std::exit(stage("C:\\exit.bin") ? 0 : 2);
             }
             int status = 0;
             ASSERT_EQ(waitpid(child, &status, 0), child);
             ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
             EXPECT_TRUE(test::readHostFile(prefix.host("C:\\exit.bin")) == expected);
         }},
        {"refused by a disk without room, leaving the file empty",
         [&] {
             const std::string small = prefix.host("C:\\small");
             ASSERT_TRUE(os().createDirectory("C:\\small"));
             if (geteuid() != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, "size=4m") != 0) {
                 GTEST_SKIP() << "mounting a small file system needs root";
             }
             const FileHandle out = os().createFile("C:\\small\\staged.bin", 0, false);
             ASSERT_NE(out, kInvalidFile);
             errno = 0;
             EXPECT_FALSE(os().writeFile(out, base, size));
             EXPECT_EQ(errno, ENOSPC);
             os().closeFile(out);
             EXPECT_EQ(test::readHostFile(small + "/staged.bin"), "");
             umount2(small.c_str(), MNT_DETACH);
         }},
        // Last: the source stays cut short.
        {"failed by a source that has ended",
         [&] {
             ASSERT_EQ(truncate(prefix.host("C:\\big.bin").c_str(), 4096 + size / 2), 0);
             const FileHandle out = os().createFile("C:\\cut.bin", 0, false);
             ASSERT_NE(out, kInvalidFile);
             errno = 0;
             EXPECT_FALSE(os().writeFile(out, base, size));
             EXPECT_EQ(errno, EIO);
             EXPECT_TRUE(os().closeFile(out));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check();
    }
}

}  // namespace
}  // namespace fw
