// The three time stamps of an item: its DOS date and time taken as local time, then
// overridden by the extended-timestamp block ("UT") of its local extra field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

namespace fw::archive {

struct ItemTimes {
    FileTime lastAccess;
    FileTime creation;
    FileTime lastWrite;
};

// Seconds since 1970 (UTC) as a FILETIME; no time-zone conversion.
FileTime unixTimeToFileTime(int32_t seconds);

// The DOS date (high 16 bits) and time (low 16 bits) as local time, turned into UTC.
// A date and time that is no calendar time gives FileTime 0, which setFileTimes treats
// as "leave as it is".
FileTime dosDateTimeToFileTime(uint32_t dosDateTime);

// All three times from the DOS date and time, then each time that the "UT" block of
// `extra` holds wholly inside the block and the field. Nothing is read past `size`.
ItemTimes itemTimes(uint32_t dosDateTime, const unsigned char* extra, std::size_t size);

}  // namespace fw::archive
