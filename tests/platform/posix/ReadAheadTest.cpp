// Reading a file opened for reading only, through the backend's read-ahead window:
// whatever the pattern of reads and seeks, every read returns the file's own bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/posix/ReadAhead.h"
#include "tests/support/Noise.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempPrefix.h"

namespace fw {
namespace {

using posix::readAhead::kWindowSize;

// One step of a pattern: seek (when `seekTo` >= 0) to there, then read `count` bytes.
struct Step {
    std::int64_t seekTo;
    std::size_t count;
};

struct Pattern {
    const char* name;
    std::vector<Step> steps;
};

class ReadAheadTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::writeHostFile(prefix.host("C:\\In\\archive.bin"), data));
    }

    test::ScopedLocale locale{"en_US.UTF-8"};
    test::TempPrefix prefix;
    const std::string data = test::noise(3 * kWindowSize + 4321);
};

TEST_F(ReadAheadTest, EveryReadGivesTheFilesOwnBytes) {
    const std::int64_t size = static_cast<std::int64_t>(data.size());
    const std::int64_t directory = size - 5000;
    const std::vector<Pattern> cases = {
        {"pieces of 16 KB to the end", {{0, 16384}, {-1, 16384}, {-1, 16384}, {-1, data.size()}}},
        {"small reads across a window's end",
         {{static_cast<std::int64_t>(kWindowSize) - 10, 4}, {-1, 4}, {-1, 4}, {-1, 100}}},
        // The archive reader's walk: a directory entry near the end, then the item's
        // header and data, then the next entry.
        {"entries and data in turn",
         {{directory, 46},
          {100, 30},
          {-1, 16384},
          {-1, 16384},
          {directory + 46, 46},
          {33000, 30},
          {-1, 16384},
          {directory + 92, 46},
          {70000, 4096},
          {-1, 200000}}},
        {"back into a window read before", {{0, 1000}, {-1, 1000}, {500, 700}, {10, 5}}},
        {"a read larger than the window", {{7, 10}, {-1, kWindowSize + 3}, {-1, 10}}},
        {"reads at and past the end", {{size - 3, 10}, {-1, 10}, {size + 100, 10}}},
    };
    for (const Pattern& c : cases) {
        SCOPED_TRACE(c.name);
        const FileHandle file = os().openFile("C:\\In\\archive.bin");
        ASSERT_NE(file, kInvalidFile);
        std::int64_t position = 0;
        for (const Step& step : c.steps) {
            if (step.seekTo >= 0) {
                ASSERT_EQ(os().seekFile(file, step.seekTo, SeekOrigin::begin), step.seekTo);
                position = step.seekTo;
            }
            std::string got(step.count, '\0');
            const std::int64_t n = os().readFile(file, got.data(), got.size());
            const std::int64_t expected =
                std::max<std::int64_t>(0, std::min<std::int64_t>(step.count, size - position));
            ASSERT_EQ(n, expected) << "at " << position;
            const auto first = std::mismatch(got.begin(), got.begin() + n, data.begin() + position);
            EXPECT_EQ(first.first - got.begin(), n) << "bytes differ, read at " << position;
            position += n;
            ASSERT_EQ(os().seekFile(file, 0, SeekOrigin::current), position);
        }
        EXPECT_TRUE(os().closeFile(file));
    }
}

TEST_F(ReadAheadTest, SeeksAreCountedFromEachOrigin) {
    const FileHandle file = os().openFile("C:\\In\\archive.bin");
    ASSERT_NE(file, kInvalidFile);
    const auto size = static_cast<std::int64_t>(data.size());
    char byte = 0;
    EXPECT_EQ(os().seekFile(file, -22, SeekOrigin::end), size - 22);
    ASSERT_EQ(os().readFile(file, &byte, 1), 1);
    EXPECT_EQ(byte, data[data.size() - 22]);
    EXPECT_EQ(os().seekFile(file, -1000, SeekOrigin::current), size - 1021);
    ASSERT_EQ(os().readFile(file, &byte, 1), 1);
    EXPECT_EQ(byte, data[data.size() - 1021]);
    // Before the start is refused and leaves the position where it was.
    EXPECT_EQ(os().seekFile(file, -1, SeekOrigin::begin), -1);
    EXPECT_EQ(os().seekFile(file, -size - 1, SeekOrigin::end), -1);
    EXPECT_EQ(os().seekFile(file, 0, SeekOrigin::current), size - 1020);
    // Past the end is allowed; reading there gives nothing.
    EXPECT_EQ(os().seekFile(file, 10, SeekOrigin::end), size + 10);
    EXPECT_EQ(os().readFile(file, &byte, 1), 0);
    EXPECT_TRUE(os().closeFile(file));
}

TEST_F(ReadAheadTest, AHandleThatAlsoWritesReadsWhatItWrote) {
    // Not a read-only handle: no window may hold bytes that a write then changes.
    const FileHandle file = os().createFile("C:\\In\\both.bin", 0, true);
    ASSERT_NE(file, kInvalidFile);
    ASSERT_TRUE(os().writeFile(file, "abcdef", 6));
    ASSERT_EQ(os().seekFile(file, 0, SeekOrigin::begin), 0);
    char got[3] = {};
    ASSERT_EQ(os().readFile(file, got, 3), 3);
    ASSERT_EQ(os().seekFile(file, 0, SeekOrigin::begin), 0);
    ASSERT_TRUE(os().writeFile(file, "XYZ", 3));
    ASSERT_EQ(os().seekFile(file, 0, SeekOrigin::begin), 0);
    ASSERT_EQ(os().readFile(file, got, 3), 3);
    EXPECT_EQ(std::string(got, 3), "XYZ");
    EXPECT_TRUE(os().closeFile(file));
}

}  // namespace
}  // namespace fw
