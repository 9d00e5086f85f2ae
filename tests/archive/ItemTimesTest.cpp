// Attributes and time stamps of item descriptions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "archive/detail/ItemTimes.h"
#include "tests/archive/ArchiveFixture.h"

namespace fw::test {
namespace {

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kEpochTicks = 116'444'736'000'000'000;

// The FILETIME of a local calendar time: on Linux in the zone the test sets, eight hours
// ahead of UTC; on Windows in the system's, as its own calls convert it.
uint64_t localTicks(int year, int month, int day, int hour, int minute, int second) {
#ifdef _WIN32
    SystemTime st;
    st.year = static_cast<uint16_t>(year);
    st.month = static_cast<uint16_t>(month);
    st.day = static_cast<uint16_t>(day);
    st.hour = static_cast<uint16_t>(hour);
    st.minute = static_cast<uint16_t>(minute);
    st.second = static_cast<uint16_t>(second);
    FileTime local;
    FileTime utc;
    EXPECT_TRUE(os().systemTimeToFileTime(st, local) && os().localFileTimeToFileTime(local, utc));
    return utc.ticks();
#else
    std::tm t{};  // computed independently of the reader, as UTC
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour - 8;
    t.tm_min = minute;
    t.tm_sec = second;
    return kEpochTicks + static_cast<uint64_t>(timegm(&t)) * kTicksPerSecond;
#endif
}

using ItemTimesTest = ArchiveFixture;

TEST_F(ItemTimesTest, AttributesByHostSystem) {
    struct Case {
        uint16_t host;
        uint32_t external;
        uint32_t expected;
    };
    const Case cases[] = {
        {zipwrite::kHostNtfs, 0x81800020, 0x20},
        {zipwrite::kHostNtfs, 0x37 | 0xC8, 0x37},  // only the five known bits
        {zipwrite::kHostDos, 0x11, 0x11},
        {zipwrite::kHostDos, 0, 0},
        {zipwrite::kHostUnix, 0x41ED0000, 0x30},  // folder, owner may write
        {zipwrite::kHostUnix, 0x81A40000, 0x20},  // file, owner may write
        {zipwrite::kHostUnix, 0x81240000, 0x21},  // file, read-only
        {zipwrite::kHostUnix, 0x41650000, 0x31},  // folder, read-only
        {zipwrite::kHostUnix, 0x0000003F, 0x21},  // FAT bits mean nothing for Unix
    };
    std::vector<zipwrite::Entry> entries;
    for (const Case& c : cases) {
        entries.push_back({.name = std::string("e").append(std::to_string(entries.size())),
                           .data = "x",
                           .host = c.host,
                           .externalAttributes = c.external});
    }
    ArchiveHandle h = openZip(entries);
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
        ArchiveItem item;
        ASSERT_EQ(GetArchiveItem(h, i, item), AR_OK);
        EXPECT_EQ(item.attributes, cases[i].expected) << "case " << i;
    }
}

TEST_F(ItemTimesTest, DosTimeIsLocalTimeAndUtBlocksOverride) {
    // Windows takes its time zone from the system, not from TZ.
    ScopedEnv eightAhead("TZ", "XST-8");  // eight hours ahead of UTC, no daylight saving
    const uint32_t noon = zipwrite::dosDateTime(2008, 6, 1, 12, 0, 0);
    const uint64_t dos = localTicks(2008, 6, 1, 12, 0, 0);
    // DOS times count seconds in twos: 58 seconds are stored as 29.
    const uint32_t oddField = zipwrite::dosDateTime(2008, 6, 1, 12, 34, 58);
    const uint64_t odd = localTicks(2008, 6, 1, 12, 34, 58);
    const uint64_t t0 = kEpochTicks;
    const uint64_t tMinus1 = kEpochTicks - kTicksPerSecond;
    const uint64_t t100 = kEpochTicks + 100 * kTicksPerSecond;
    std::string twoBlocks = "XY";
    twoBlocks += std::string("\x02\x00zz", 4);
    twoBlocks += zipwrite::utBlock(1, {100});
    std::string shortBlock = zipwrite::utBlock(7, {0, -1, 100});
    shortBlock[2] = 9;  // the block says 9 data bytes: flags and two times
    std::string cutField = zipwrite::utBlock(7, {0, -1, 100});
    cutField.resize(cutField.size() - 2);  // the field ends inside the third time

    struct Case {
        const char* what;
        std::string extra;
        uint64_t write, access, creation;
        uint32_t dosDateTime = 0;  // 0: noon
    };
    const Case cases[] = {
        {"no extra field", "", dos, dos, dos},
        {"DOS time with seconds", "", odd, odd, odd, oddField},
        {"DOS time with seconds, flags 1", zipwrite::utBlock(1, {100}), t100, odd, odd, oddField},
        {"flags 7", zipwrite::utBlock(7, {0, -1, 100}), t0, tMinus1, t100},
        {"flags 1", zipwrite::utBlock(1, {-1}), tMinus1, dos, dos},
        {"flags 4", zipwrite::utBlock(4, {100}), dos, dos, t100},
        {"other block first", twoBlocks, t100, dos, dos},
        {"field of 4 bytes", std::string("UT\x00\x00", 4), dos, dos, dos},
        {"block shorter than its flags", shortBlock, t0, tMinus1, dos},
        {"field ends inside a time", cutField, t0, tMinus1, dos},
        {"flags with no times", zipwrite::utBlock(7, {}), dos, dos, dos},
    };
    std::vector<zipwrite::Entry> entries;
    for (const Case& c : cases) {
        entries.push_back({.name = c.what,
                           .data = "x",
                           .dosDateTime = c.dosDateTime != 0 ? c.dosDateTime : noon,
                           .localExtra = c.extra});
    }
    ArchiveHandle h = openZip(entries);
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
        SCOPED_TRACE(cases[i].what);
        ArchiveItem item;
        ASSERT_EQ(GetArchiveItem(h, i, item), AR_OK);
        EXPECT_EQ(item.lastWriteTime.ticks(), cases[i].write);
        EXPECT_EQ(item.lastAccessTime.ticks(), cases[i].access);
        EXPECT_EQ(item.creationTime.ticks(), cases[i].creation);
    }
}

TEST_F(ItemTimesTest, BlockDataSizePastTheFieldIsNeverRead) {
    // Flags 7 announced, but the field holds only the flags byte: nothing past it is read.
    // Under AddressSanitizer a read past the 5 bytes would stop the test.
    const unsigned char field[] = {'U', 'T', 13, 0, 7};
    ScopedEnv utc("TZ", "UTC0");
    const archive::ItemTimes times = archive::itemTimes(0x38C16000, field, sizeof field);
    EXPECT_EQ(times.lastWrite, times.creation);
    EXPECT_NE(times.lastWrite, FileTime{});
}

TEST_F(ItemTimesTest, DosDateThatIsNoCalendarTimeGivesZero) {
    ScopedEnv utc("TZ", "UTC0");
    const uint32_t month0 = (28u << 9 | 0u << 5 | 1u) << 16;  // 2008-00-01
    const uint32_t day31ofJune = (28u << 9 | 6u << 5 | 31u) << 16;
    for (uint32_t dos : {month0, day31ofJune}) {
        const archive::ItemTimes times = archive::itemTimes(dos, nullptr, 0);
        EXPECT_EQ(times.lastWrite, FileTime{});
        EXPECT_EQ(times.creation, FileTime{});
    }
    const std::string ut = zipwrite::utBlock(1, {0});
    const archive::ItemTimes times =
        archive::itemTimes(month0, reinterpret_cast<const unsigned char*>(ut.data()), ut.size());
    EXPECT_EQ(times.lastWrite.ticks(), kEpochTicks);  // a UT time still overrides
    EXPECT_EQ(times.lastAccess, FileTime{});
}

}  // namespace
}  // namespace fw::test
