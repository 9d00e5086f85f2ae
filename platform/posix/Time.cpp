#include "platform/posix/Time.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/posix/Backend.h"

namespace fw::posix {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

}  // namespace

bool fileTimeFromTimespec(const timespec& time, FileTime& file) {
    const std::int64_t seconds = time.tv_sec;
    constexpr std::int64_t kMinSeconds = -kUnixEpochTicks / kTicksPerSecond;
    constexpr std::int64_t kMaxSeconds =
        (std::numeric_limits<std::int64_t>::max() - kUnixEpochTicks) / kTicksPerSecond - 1;
    if (seconds < kMinSeconds || seconds > kMaxSeconds) {
        return false;
    }
    const std::int64_t ticks =
        kUnixEpochTicks + seconds * kTicksPerSecond + static_cast<std::int64_t>(time.tv_nsec) / 100;
    if (ticks < 0) {
        return false;
    }
    file = FileTime::fromTicks(static_cast<uint64_t>(ticks));
    return true;
}

bool timespecFromFileTime(const FileTime& file, timespec& time) {
    const uint64_t ticks = file.ticks();
    if (ticks > static_cast<uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return false;
    }
    const auto signedTicks = static_cast<std::int64_t>(ticks);
    time.tv_sec =
        static_cast<time_t>(signedTicks / kTicksPerSecond - kUnixEpochTicks / kTicksPerSecond);
    time.tv_nsec = static_cast<long>(signedTicks % kTicksPerSecond * 100);
    return true;
}

bool systemTimeToFileTime(const SystemTime& system, FileTime& file) {
    const SystemTime& t = system;
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > daysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59 ||
        t.milliseconds > 999) {
        return false;
    }
    const std::int64_t days = daysFromCivil(t.year, t.month, t.day) - daysFromCivil(1601, 1, 1);
    const std::int64_t seconds = days * kSecondsPerDay + t.hour * 3600 + t.minute * 60 + t.second;
    const std::int64_t ticks = seconds * kTicksPerSecond + t.milliseconds * 10'000;
    file = FileTime::fromTicks(static_cast<uint64_t>(ticks));
    return true;
}

bool localFileTimeToFileTime(const FileTime& local, FileTime& utc) {
    // Windows takes the bias in force now, not the one of the date converted.
    tzset();
    const time_t now = time(nullptr);
    struct tm parts {};
    if (localtime_r(&now, &parts) == nullptr) {
        return false;
    }
    const std::int64_t bias = static_cast<std::int64_t>(parts.tm_gmtoff) * kTicksPerSecond;
    const uint64_t ticks = local.ticks();
    if (ticks > static_cast<uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return false;
    }
    const auto signedTicks = static_cast<std::int64_t>(ticks);
    if (bias < 0 && signedTicks > std::numeric_limits<std::int64_t>::max() + bias) {
        return false;
    }
    const std::int64_t result = signedTicks - bias;
    if (result < 0) {
        return false;
    }
    utc = FileTime::fromTicks(static_cast<uint64_t>(result));
    return true;
}

void localTime(SystemTime& now) {
    timespec time{};
    clock_gettime(CLOCK_REALTIME, &time);
    tzset();
    struct tm parts {};
    if (localtime_r(&time.tv_sec, &parts) == nullptr) {
        now = SystemTime{};
        return;
    }
    now.year = static_cast<uint16_t>(parts.tm_year + 1900);
    now.month = static_cast<uint16_t>(parts.tm_mon + 1);
    now.dayOfWeek = static_cast<uint16_t>(parts.tm_wday);
    now.day = static_cast<uint16_t>(parts.tm_mday);
    now.hour = static_cast<uint16_t>(parts.tm_hour);
    now.minute = static_cast<uint16_t>(parts.tm_min);
    // A leap second reads as the second before it, as Windows has none.
    now.second = static_cast<uint16_t>(std::min(parts.tm_sec, 59));
    now.milliseconds = static_cast<uint16_t>(time.tv_nsec / 1000000);
}

}  // namespace fw::posix
