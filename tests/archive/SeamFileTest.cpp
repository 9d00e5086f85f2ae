// Reading an archive through the reader's windows: whatever the pattern of reads and
// seeks, every read gives the file's own bytes, and a walk costs few platform reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/detail/SeamFile.h"
#include "platform/fault/FaultPlatform.h"
#include "tests/archive/ArchiveFixture.h"
#include "tests/support/Noise.h"

namespace fw::test {
namespace {

using archive::SeamFile;
constexpr std::size_t kWindow = SeamFile::kBufferSize;

// One step of a pattern: seek (when `seekTo` >= 0) to there, then read `count` bytes.
struct Step {
    std::int64_t seekTo;
    std::size_t count;
};

struct Pattern {
    const char* name;
    std::vector<Step> steps;
};

using SeamFileTest = ArchiveFixture;

TEST_F(SeamFileTest, EveryReadGivesTheFilesOwnBytes) {
    const std::string data = noise(3 * kWindow + 4321);
    const std::string path = putArchive("archive.bin", data);
    const auto size = static_cast<std::int64_t>(data.size());
    const std::int64_t directory = size - 5000;
    const std::vector<Pattern> cases = {
        {"pieces of 16 KB to the end", {{0, 16384}, {-1, 16384}, {-1, 16384}, {-1, data.size()}}},
        {"small reads across a window's end",
         {{static_cast<std::int64_t>(kWindow) - 10, 4}, {-1, 4}, {-1, 4}, {-1, 100}}},
        {"a first read across a window's end", {{static_cast<std::int64_t>(kWindow) - 10, 46}}},
        // The search for the end records: pieces of 1028 bytes, each 1024 further back.
        {"pieces going backwards",
         {{size - 1028, 1028},
          {size - 2052, 1028},
          {size - 3076, 1028},
          {size - 70000, 1028},
          {size - 71024, 1028}}},
        // The walk over the items: a directory entry near the end, then the item's header
        // and data, then the next entry.
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
        {"a read larger than the window", {{7, 10}, {-1, kWindow + 3}, {-1, 10}}},
        {"reads at and past the end", {{size - 3, 10}, {-1, 10}, {size + 100, 10}}},
    };
    for (const Pattern& c : cases) {
        SCOPED_TRACE(c.name);
        SeamFile file;
        ASSERT_TRUE(file.open(path.c_str()));
        std::int64_t position = 0;
        for (const Step& step : c.steps) {
            if (step.seekTo >= 0) {
                ASSERT_EQ(file.seek(step.seekTo, SeekOrigin::begin), step.seekTo);
                position = step.seekTo;
            }
            std::string got(step.count, '\0');
            // Short only at the end of the file: a file's platform reads are never short.
            const std::int64_t n = file.read(got.data(), got.size());
            const std::int64_t expected =
                std::max<std::int64_t>(0, std::min<std::int64_t>(step.count, size - position));
            ASSERT_EQ(n, expected) << "at " << position;
            const auto first = std::mismatch(got.begin(), got.begin() + n, data.begin() + position);
            EXPECT_EQ(first.first - got.begin(), n) << "bytes differ, read at " << position;
            position += n;
            ASSERT_EQ(static_cast<std::int64_t>(file.tell()), position);
        }
    }
}

}  // namespace
}  // namespace fw::test
