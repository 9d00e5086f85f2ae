// Text operations on bytes of the ANSI code page, as the application needs them.
#pragma once

#include <string>
#include <string_view>

// Blank, tab, line feed, carriage return, vertical tab and form feed. None of them can
// be the trail byte of a double-byte character, so trimming needs no multibyte care.
bool IsWhiteSpace(char c);

std::string TrimRight(std::string text);
std::string Trim(std::string text);

// Replaces every occurrence of `from` (case-sensitive, on character boundaries) with `to`,
// left to right; replaced text is not scanned again. An empty `from` changes nothing.
std::string ReplaceAll(std::string text, std::string_view from, std::string_view to);

// Equality after upper-casing single-byte letters. Upper-casing leaves bytes above 0x7F
// alone, so a double-byte character never equals a run of ASCII letters either way.
bool EqualsUpperCased(std::string_view text, std::string_view upper);

// `text` with its single-byte letters upper-cased, byte by byte: a trail byte in a-z
// changes with them, so the result is for comparing, not for showing.
std::string UpperCased(std::string_view text);
