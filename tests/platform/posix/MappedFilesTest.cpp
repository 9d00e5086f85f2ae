// Bytes of a mapped file written file to file: the same bytes land as a plain write
// would give, and what the kernel refuses to copy that way is written as usual.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "platform/Platform.h"
#include "platform/posix/MappedFiles.h"
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

}  // namespace
}  // namespace fw
