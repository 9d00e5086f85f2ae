// What the system's errors mean for a file the launcher writes, in the user's words.
#pragma once

#include <cstdint>
#include <string_view>

// The meaning of Win32 error `error` for a file being made or written; empty for an error
// not told apart here.
std::string_view FileErrorText(uint32_t error);
