// A version resource (RT_VERSION) as Windows reads it: a tree of blocks, each a length,
// a value's length, a type, a UTF-16 key and a value, then its children, every one on a
// 32-bit boundary. The root "VS_VERSION_INFO" holds the fixed numbers; below it
// "StringFileInfo" holds one string table per language and code page, each with the
// strings; "VarFileInfo" holds the translations.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fw::pe {

struct VersionBlock {
    std::u16string key;
    uint16_t type = 0;         // 1: the value is text
    uint16_t valueLength = 0;  // as stored: characters for text, bytes otherwise
    std::string value;         // its bytes as stored
    std::vector<VersionBlock> children;
};

// Reads a version resource; why it is not one, or empty.
std::string readVersionInfo(std::string_view bytes, VersionBlock& root);

// The resource's bytes.
std::string encodeVersionInfo(const VersionBlock& root);

// A version resource with the fixed part's signature, no numbers, one string table
// "040904B0" without strings and its translation: what a stub without one gets.
VersionBlock emptyVersionInfo();

// Four version numbers, from "2.1.0.7" or "1, 0, 0, 1": up to four whole numbers from 0
// to 65535, missing ones 0. Nothing when the text is not that.
std::optional<std::array<uint16_t, 4>> versionNumbers(std::string_view text);

// Sets the string `key` (UTF-16) in every string table, adding it where it is missing;
// a stub without string tables gets one.
void setVersionString(VersionBlock& root, const std::u16string& key, const std::u16string& value);

// Sets the fixed part's file (or product) version numbers.
enum class FixedVersion { file, product };
void setFixedVersion(VersionBlock& root, FixedVersion which,
                     const std::array<uint16_t, 4>& numbers);

// The fixed part's numbers; nothing when it has no fixed part.
std::optional<std::array<uint16_t, 4>> fixedVersion(const VersionBlock& root, FixedVersion which);

// The strings of the first string table, in their order: key and value, UTF-16.
std::vector<std::pair<std::u16string, std::u16string>> versionStrings(const VersionBlock& root);

// Text conversions for the values: UTF-8 to UTF-16 (false for text that is no UTF-8), and
// back.
bool utf16FromUtf8(std::string_view utf8, std::u16string& out);
std::string utf8FromUtf16(std::u16string_view utf16);

}  // namespace fw::pe
