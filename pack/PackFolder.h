// A payload made from a folder: the folder itself is the top folder and comes first, so
// that its name is the one the launcher launches SETUP.exe from; its contents follow,
// depth first, each folder's entries in the byte order of their host names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace fw::pack {

// Writes `size` bytes at `offset` of the archive being made; false on failure.
using WriteAt = std::function<bool(const void* data, std::size_t size, uint64_t offset)>;

// Writes the ZIP archive of the host folder `folder` through `writeAt` and gives its
// `size`: names in `codePage` (one it cannot express in UTF-8, flagged so, for the check
// to name), files deflated, the read-only (and on Windows the hidden)
// attribute, the last-write time as a DOS time and with the last-access time in a "UT"
// block. Gives why it cannot, or empty.
std::string packFolder(const std::string& folder, uint32_t codePage, const WriteAt& writeAt,
                       uint64_t& size);

}  // namespace fw::pack
