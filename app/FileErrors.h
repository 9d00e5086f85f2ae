// What the system's errors mean for a file the launcher writes, in the user's words.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The meaning of Win32 error `error` for a file being made or written; empty for an error
// not told apart here.
std::string_view FileErrorText(uint32_t error);

// The system's own words for `error`, with its number: "Access is denied. (error 5)";
// "error 5" when the system has no words for it, and a plain statement for 0 (none).
std::string SystemWords(uint32_t error);

// FileErrorText where it tells `error` apart, else the system's words.
std::string ReasonFor(uint32_t error);
