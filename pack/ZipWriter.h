// Writes ZIP archives through minizip's writer, with full control over what the reader
// looks at: raw name bytes, method, DOS time, host system, external attributes and the
// local extra field. Used to make the sample installer set, test archives and seeds.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace fw::zipwrite {

inline constexpr uint16_t kHostDos = 0;
inline constexpr uint16_t kHostUnix = 3;
inline constexpr uint16_t kHostNtfs = 11;

struct Entry {
    std::string name;  // stored as these bytes, never flagged as UTF-8
    std::string data;
    bool deflate = true;
    uint32_t dosDateTime = 0x38C16000;  // 2008-06-01 12:00:00: date in the high half
    uint16_t host = kHostNtfs;
    uint32_t externalAttributes = 0x20;
    std::string localExtra;
    std::string centralExtra;
};

// A DOS date and time as the ZIP format stores them: date in the high 16 bits.
uint32_t dosDateTime(int year, int month, int day, int hour, int minute, int second);

// An extended time stamp block ("UT"): flags, then the given times in order.
std::string utBlock(uint8_t flags, std::initializer_list<int32_t> times);

// Writes `entries` to a new archive at `path` (a host path). False, with a reason in
// `error`, when minizip refuses.
bool writeArchive(const std::string& path, const std::vector<Entry>& entries,
                  std::string* error = nullptr);

}  // namespace fw::zipwrite
