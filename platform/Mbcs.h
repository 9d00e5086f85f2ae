// Multibyte-aware searching in text of the ANSI code page.
//
// A double-byte character is a lead byte followed by a trail byte; the trail byte may
// equal '\\' or '/' (0x5C, 0x2F in code pages 932, 936, 949 and 950), and must then
// never be taken for a separator. Every search of the core for a character or a
// substring goes through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fw::mbcs {

inline constexpr std::size_t npos = std::string_view::npos;

// True when `byte` begins a double-byte character in `codePage`.
bool isLeadByte(uint32_t codePage, unsigned char byte);

// First / last offset of the single-byte character `c`, or npos (as _mbschr / _mbsrchr).
std::size_t find(std::string_view text, char c);
std::size_t rfind(std::string_view text, char c);

// First / last offset of either separator, '\\' or '/'.
std::size_t findSeparator(std::string_view text);
std::size_t rfindSeparator(std::string_view text);

// First offset at which `needle` begins on a character boundary, or npos (as _mbsstr).
std::size_t findSubstring(std::string_view text, std::string_view needle);

}  // namespace fw::mbcs
