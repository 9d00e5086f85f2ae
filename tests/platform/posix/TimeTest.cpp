// FILETIME conversions: host times, calendar times and the local time zone.
#include <gtest/gtest.h>
#include <time.h>

#include <limits>

#include "platform/Platform.h"
#include "platform/posix/Time.h"
#include "tests/support/ScopedEnv.h"

namespace fw {
namespace {

TEST(TimeTest, FileTimeAndTimespec) {
    struct Case {
        uint64_t ticks;
        std::int64_t seconds;
        long nanoseconds;
    };
    const Case cases[] = {
        {0, -11644473600, 0},
        {116444736000000000, 0, 0},
        {116444736000000001, 0, 100},
        {116444735999999999, -1, 999999900},
        {94354848000000000, -2208988800, 0},  // 1900-01-01
        {132223104000000000, 1577836800, 0},  // 2020-01-01
    };
    for (const Case& c : cases) {
        timespec time{};
        ASSERT_TRUE(posix::timespecFromFileTime(FileTime::fromTicks(c.ticks), time)) << c.ticks;
        EXPECT_EQ(time.tv_sec, c.seconds) << c.ticks;
        EXPECT_EQ(time.tv_nsec, c.nanoseconds) << c.ticks;
        FileTime back;
        ASSERT_TRUE(posix::fileTimeFromTimespec(time, back));
        EXPECT_EQ(back.ticks(), c.ticks);
    }
    timespec time{};
    const auto maxTicks = static_cast<uint64_t>(std::numeric_limits<std::int64_t>::max());
    EXPECT_TRUE(posix::timespecFromFileTime(FileTime::fromTicks(maxTicks), time));
    EXPECT_FALSE(posix::timespecFromFileTime(FileTime::fromTicks(maxTicks + 1), time));
    FileTime file;
    EXPECT_FALSE(posix::fileTimeFromTimespec(timespec{-11644473601, 0}, file));
    EXPECT_FALSE(
        posix::fileTimeFromTimespec(timespec{std::numeric_limits<time_t>::max(), 0}, file));
}

TEST(TimeTest, SystemTimeIsValidatedAsACalendarTime) {
    struct Case {
        SystemTime time;  // year, month, dayOfWeek, day, hour, minute, second, ms
        bool valid;
        uint64_t ticks;
    };
    const Case cases[] = {
        {{1601, 1, 0, 1, 0, 0, 0, 0}, true, 0},
        {{1970, 1, 4, 1, 0, 0, 0, 0}, true, 116444736000000000},
        {{2024, 2, 9, 29, 12, 0, 0, 0}, true, 133536816000000000},  // day of week ignored
        {{2000, 2, 0, 29, 23, 59, 59, 999}, true, 125963423999990000},
        {{30827, 12, 0, 31, 23, 59, 59, 999}, true, 0x7FFF35F4F06C58F0},
        {{1600, 12, 0, 31, 0, 0, 0, 0}, false, 0},
        {{30828, 1, 0, 1, 0, 0, 0, 0}, false, 0},
        {{1900, 2, 0, 29, 0, 0, 0, 0}, false, 0},
        {{2023, 2, 0, 29, 0, 0, 0, 0}, false, 0},
        {{2023, 4, 0, 31, 0, 0, 0, 0}, false, 0},
        {{2023, 0, 0, 1, 0, 0, 0, 0}, false, 0},
        {{2023, 13, 0, 1, 0, 0, 0, 0}, false, 0},
        {{2023, 1, 0, 0, 0, 0, 0, 0}, false, 0},
        {{2023, 1, 0, 1, 24, 0, 0, 0}, false, 0},
        {{2023, 1, 0, 1, 0, 60, 0, 0}, false, 0},
        {{2023, 1, 0, 1, 0, 0, 60, 0}, false, 0},
        {{2023, 1, 0, 1, 0, 0, 0, 1000}, false, 0},
    };
    for (const Case& c : cases) {
        FileTime file = FileTime::fromTicks(42);
        EXPECT_EQ(os().systemTimeToFileTime(c.time, file), c.valid)
            << c.time.year << "-" << c.time.month << "-" << c.time.day;
        if (c.valid) {
            EXPECT_EQ(file.ticks(), c.ticks) << c.time.year;
        }
    }
}

TEST(TimeTest, LocalTimeUsesTheZonesCurrentBias) {
    constexpr uint64_t kHour = 36000000000;
    constexpr uint64_t kJanuary = 133485408000000000;  // 2024-01-01
    constexpr uint64_t kJuly = 133642656000000000;     // 2024-07-01
    struct Case {
        const char* zone;
        std::int64_t eastHours;
    };
    const Case cases[] = {{"UTC-8", 8}, {"UTC+5", -5}, {"UTC0", 0}};
    for (const Case& c : cases) {
        test::ScopedEnv tz("TZ", c.zone);
        FileTime utc;
        ASSERT_TRUE(os().localFileTimeToFileTime(FileTime::fromTicks(kJanuary), utc));
        EXPECT_EQ(static_cast<std::int64_t>(utc.ticks() - kJanuary),
                  -c.eastHours * static_cast<std::int64_t>(kHour))
            << c.zone;
    }

    // With summer time the bias of today applies to every date, winter or summer.
    test::ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    FileTime winter;
    FileTime summer;
    ASSERT_TRUE(os().localFileTimeToFileTime(FileTime::fromTicks(kJanuary), winter));
    ASSERT_TRUE(os().localFileTimeToFileTime(FileTime::fromTicks(kJuly), summer));
    EXPECT_EQ(kJanuary - winter.ticks(), kJuly - summer.ticks());
    const uint64_t bias = kJanuary - winter.ticks();
    EXPECT_TRUE(bias == kHour || bias == 2 * kHour) << bias;

    // Near 1601: west of Greenwich it moves later; east of it there is no FILETIME.
    test::ScopedEnv west("TZ", "UTC+5");
    FileTime early;
    ASSERT_TRUE(os().localFileTimeToFileTime(FileTime::fromTicks(kHour), early));
    EXPECT_EQ(early.ticks(), 6 * kHour);
    test::ScopedEnv east("TZ", "UTC-5");
    EXPECT_FALSE(os().localFileTimeToFileTime(FileTime::fromTicks(kHour), early));
}

// The log's clock: the zone's local time now, to the millisecond, whatever the zone.
TEST(TimeTest, LocalTimeNowIsTheZonesWallClock) {
    for (const char* zone : {"UTC-8", "UTC+5", "UTC0"}) {
        SCOPED_TRACE(zone);
        test::ScopedEnv tz("TZ", zone);
        SystemTime now;
        time_t before = 0;
        time_t after = 1;
        // Taken within one second, the wall clock's fields are those of that second. The
        // clock the call reads: time() reads a coarser one that may lag it across a second.
        const auto seconds = [] {
            timespec t{};
            clock_gettime(CLOCK_REALTIME, &t);
            return t.tv_sec;
        };
        for (int attempt = 0; attempt < 10 && before != after; ++attempt) {
            before = seconds();
            os().localTime(now);
            after = seconds();
        }
        ASSERT_EQ(before, after);
        struct tm parts {};
        ASSERT_NE(localtime_r(&before, &parts), nullptr);
        EXPECT_EQ(now.year, parts.tm_year + 1900);
        EXPECT_EQ(now.month, parts.tm_mon + 1);
        EXPECT_EQ(now.day, parts.tm_mday);
        EXPECT_EQ(now.dayOfWeek, parts.tm_wday);
        EXPECT_EQ(now.hour, parts.tm_hour);
        EXPECT_EQ(now.minute, parts.tm_min);
        EXPECT_EQ(now.second, parts.tm_sec);
        EXPECT_LT(now.milliseconds, 1000);
    }
}

}  // namespace
}  // namespace fw
