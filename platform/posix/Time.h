// FILETIME stamps and the host's timespec.
#pragma once

#include <time.h>

#include "platform/Platform.h"

namespace fw::posix {

// 100-ns ticks from 1601-01-01 to 1970-01-01.
inline constexpr std::int64_t kUnixEpochTicks = 116444736000000000;

// The FILETIME of a host time; false for a time before 1601.
bool fileTimeFromTimespec(const timespec& time, FileTime& file);

// The host time of a FILETIME; false for one beyond the signed 64-bit range.
bool timespecFromFileTime(const FileTime& file, timespec& time);

}  // namespace fw::posix
