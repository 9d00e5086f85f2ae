// The process's ANSI code page as the locale selects it, and conversion between that
// code page and the UTF-8 of the file system. Used by the POSIX backend only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fw::posix {

// The code page a locale name such as "ja_JP.UTF-8" selects (1252 when none fits).
uint32_t codePageForLocale(std::string_view locale);

// ANSI bytes to UTF-8. Never fails: a byte that is invalid in the code page becomes a
// stand-in character that utf8ToAnsi turns back into the same byte.
std::string ansiToUtf8(std::string_view ansi, uint32_t codePage);

// UTF-8 to ANSI bytes; a character the code page lacks becomes '?'. False when `utf8`
// is not valid UTF-8.
bool utf8ToAnsi(std::string_view utf8, uint32_t codePage, std::string& ansi);

// Number of UTF-16 units of valid UTF-8 text (an invalid byte counts as one).
std::size_t utf16Length(std::string_view utf8);

}  // namespace fw::posix
