#include "archive/detail/ItemTimes.h"

#include "archive/ZipLayout.h"

namespace fw::archive {

namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;
constexpr int64_t kTicksPerSecond = 10'000'000;

uint32_t little(const unsigned char* p, int bytes) {
    return static_cast<uint32_t>(zip::readLittle(p, bytes));
}

}  // namespace

FileTime unixTimeToFileTime(int32_t seconds) {
    const int64_t ticks = (int64_t{seconds} + kSecondsFrom1601To1970) * kTicksPerSecond;
    return FileTime::fromTicks(static_cast<uint64_t>(ticks));
}

FileTime dosDateTimeToFileTime(uint32_t dosDateTime) {
    const uint32_t date = dosDateTime >> 16;
    const uint32_t time = dosDateTime & 0xFFFF;
    SystemTime st;
    st.year = static_cast<uint16_t>((date >> 9) + 1980);
    st.month = static_cast<uint16_t>((date >> 5) & 0x0F);
    st.day = static_cast<uint16_t>(date & 0x1F);
    st.hour = static_cast<uint16_t>(time >> 11);
    st.minute = static_cast<uint16_t>((time >> 5) & 0x3F);
    st.second = static_cast<uint16_t>((time & 0x1F) * 2);
    FileTime local;
    FileTime utc;
    if (!os().systemTimeToFileTime(st, local) || !os().localFileTimeToFileTime(local, utc)) {
        return FileTime{};
    }
    return utc;
}

ItemTimes itemTimes(uint32_t dosDateTime, const unsigned char* extra, std::size_t size) {
    const FileTime dos = dosDateTimeToFileTime(dosDateTime);
    ItemTimes times{dos, dos, dos};
    // Blocks: a 2-byte id, a 2-byte data size, the data. At least 5 bytes must be left.
    std::size_t at = 0;
    while (extra && at + 4 < size) {
        const uint32_t dataSize = little(extra + at + 2, 2);
        if (little(extra + at, 2) != zip::kUnixTimeExtraId) {
            at += 4 + dataSize;
            continue;
        }
        const unsigned char* data = extra + at + 4;
        const std::size_t inField = size - (at + 4);
        const std::size_t usable = dataSize < inField ? dataSize : inField;
        const unsigned flags = data[0];  // usable >= 1: at + 4 < size
        std::size_t offset = 1;
        FileTime* const targets[] = {&times.lastWrite, &times.lastAccess, &times.creation};
        for (unsigned bit = 0; bit < 3; ++bit) {
            if (!(flags & (1u << bit))) {
                continue;
            }
            if (offset + 4 > usable) {
                break;  // announced but not there: keep the DOS-derived value
            }
            *targets[bit] = unixTimeToFileTime(static_cast<int32_t>(little(data + offset, 4)));
            offset += 4;
        }
        break;
    }
    return times;
}

}  // namespace fw::archive
