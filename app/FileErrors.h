// What the system's errors mean for a file the launcher writes, in the user's words.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The meaning of Win32 error `error` for a file being made or written; empty for an error
// not told apart here.
std::string_view FileErrorText(uint32_t error);

// The system's own words for Win32 error `error`, else "system error N".
std::string SystemErrorText(uint32_t error);

// Why making or writing a file failed with Win32 error `error`, in words: FileErrorText's
// where it has them, else the system's own.
std::string ErrorReason(uint32_t error);
