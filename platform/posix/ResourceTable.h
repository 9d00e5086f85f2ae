// The resources of a POSIX launcher, appended to its executable.
//
// File layout:
//   the executable as linked (image size bytes)
//   resource data, each resource starting at a multiple of 64 KiB, so that it can be
//     mapped read-only straight from the file
//   the table: one record per resource
//   the trailer (32 bytes): magic, image size, entry count, table size, table offset;
//     the table offset fills the last 8 bytes of the file
// All numbers are little-endian. The backend reads the table of its own executable;
// the packer writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "res/resource.h"

namespace fw::posix {

inline constexpr uint64_t kResourceAlignment = 64 * 1024;
inline constexpr uint16_t kLanguageEnglishUs = 0x0409;
inline constexpr std::size_t kTrailerSize = 32;
inline constexpr std::size_t kRecordHeaderSize = 28;
inline constexpr std::string_view kTableMagic{"FWRSRC\x01\x00", 8};

// A resource type or name: a whole-number id (1 to 65535) or a name, kept upper-cased
// because names compare without regard to case.
struct ResourceKey {
    uint16_t id = 0;
    std::string name;
    friend bool operator==(const ResourceKey&, const ResourceKey&) = default;
};

// "#132" is the id 132; anything else is a name. Empty text, "#" with no digits and ids
// outside 1..65535 are no key.
std::optional<ResourceKey> parseResourceKey(std::string_view text);

struct ResourceEntry {
    ResourceKey type;
    ResourceKey name;
    uint16_t language = kLanguageEnglishUs;
    uint64_t offset = 0;  // from the start of the file
    uint64_t size = 0;
};

struct ResourceTable {
    uint64_t imageSize = 0;  // bytes of the executable ahead of its resources
    uint64_t tableOffset = 0;
    std::vector<ResourceEntry> entries;
};

enum class TableState { absent, valid, damaged };

struct TableRead {
    TableState state = TableState::absent;
    ResourceTable table;  // meaningful when valid
    std::string problem;  // why it is damaged
};

// Reads and checks the table at the end of an open file. A file without the trailer's
// magic has none; one whose trailer or records do not add up is damaged.
TableRead readResourceTable(int fd);

// The entry for `name` and `type` (texts as FindResourceA takes them), or nullptr.
const ResourceEntry* findResourceEntry(const ResourceTable& table, std::string_view name,
                                       std::string_view type);

// The first offset at or after `offset` at which resource data may start.
constexpr uint64_t alignResourceOffset(uint64_t offset) {
    return (offset + kResourceAlignment - 1) / kResourceAlignment * kResourceAlignment;
}

// The table's records followed by the trailer, for a table that starts at
// `table.tableOffset`.
std::string encodeResourceTable(const ResourceTable& table);

// Maps one entry of an open file read-only. The mapping is never undone, so the bytes
// stay valid for the life of the process; the file may be closed afterwards.
Resource mapResourceEntry(int fd, const ResourceEntry& entry);

// Looks up and maps a resource of the executable at `hostPath`.
Resource loadResourceFromFile(const std::string& hostPath, std::string_view name,
                              std::string_view type);

}  // namespace fw::posix
