// What a progress display says and how full its bar is.
#include "platform/ProgressText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

constexpr std::uint64_t kMegabyte = 1024 * 1024;

TEST(ProgressTextTest, CountsAndFractionDone) {
    struct Case {
        fw::Progress done;
        fw::Progress total;
        std::string counts;
        unsigned permille;
    };
    const Case cases[] = {
        {{0, 0}, {1959, 488 * kMegabyte}, "0 of 1959 items, 0 of 488 MB", 0},
        {{412, 103 * kMegabyte + kMegabyte / 2},
         {1959, 488 * kMegabyte},
         "412 of 1959 items, 104 of 488 MB",
         212},
        // Done and the whole round alike: the end reads as the whole, and before the end
        // the bar is not full.
        {{3, 488 * kMegabyte - 1}, {3, 488 * kMegabyte - 1}, "3 of 3 items, 488 of 488 MB", 1000},
        {{2, 488 * kMegabyte - 2}, {3, 488 * kMegabyte - 1}, "2 of 3 items, 488 of 488 MB", 999},
        // Below a megabyte in kilobytes, below a kilobyte in bytes.
        {{1, 1536}, {2, 3000}, "1 of 2 items, 2 of 3 KB", 512},
        {{1, 14}, {3, 44}, "1 of 3 items, 14 of 44 bytes", 318},
        // Every item done is the end, bytes or not (an item that failed counts none).
        {{3, 2000}, {3, 3000}, "3 of 3 items, 2 of 3 KB", 1000},
        // Without bytes the items tell it; with nothing at all it is done.
        {{1, 0}, {4, 0}, "1 of 4 items, 0 of 0 bytes", 250},
        {{0, 0}, {0, 0}, "0 of 0 items, 0 of 0 bytes", 1000},
        // Sizes whose thousandths do not fit 64 bits.
        {{1, UINT64_MAX / 2},
         {2, UINT64_MAX},
         "1 of 2 items, 8796093022208 of 17592186044416 MB",
         500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.counts);
        EXPECT_EQ(fw::progressCounts(c.done, c.total), c.counts);
        EXPECT_EQ(fw::progressPermille(c.done, c.total), c.permille);
    }
}

TEST(ProgressTextTest, TheBarFillsItsCellsByThousandths) {
    EXPECT_EQ(fw::progressBar(0, 10), "[..........]");
    EXPECT_EQ(fw::progressBar(99, 10), "[..........]");
    EXPECT_EQ(fw::progressBar(100, 10), "[#.........]");
    EXPECT_EQ(fw::progressBar(999, 10), "[#########.]");
    EXPECT_EQ(fw::progressBar(1000, 10), "[##########]");
    EXPECT_EQ(fw::progressBar(1500, 4), "[####]");
}

}  // namespace
