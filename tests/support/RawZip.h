// Writes ZIP archives byte by byte for the cases minizip's writer will not make:
// encrypted items, headers that disagree, wrong CRCs and sizes, damaged directories.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/ZipLayout.h"

namespace fw::test {

struct RawEntry {
    std::string name;
    std::string content;   // the unpacked bytes
    uint16_t method = 0;   // 0 stored, 8 deflated by the builder
    bool encrypt = false;  // traditional encryption with the empty password
    uint16_t flags = 0;    // bit 0 is added for encrypted items
    uint32_t dosDateTime = 0x38C16000;
    uint16_t versionMadeBy = (11 << 8) | 20;
    uint32_t external = 0x20;
    std::string localExtra;

    // Overrides of what the builder would write.
    std::optional<uint32_t> crc;               // both headers
    std::optional<uint32_t> uncompressedSize;  // both headers
    std::optional<uint16_t> localMethod;
    std::optional<uint32_t> localCrc;
    std::optional<uint16_t> localNameLength;
    std::optional<uint8_t> checkByte;   // last plain byte of the encryption header
    std::optional<std::string> stored;  // the item's data as it stands in the file

    // Zip64: local sizes of 0xFFFFFFFF with a Zip64 extra block ahead of `localExtra`
    // that holds the sizes (the uncompressed one as given here, when given).
    bool zip64Local = false;
    std::optional<uint64_t> zip64LocalSize;
    // With zip64Local: the sizes marked, as kCentralUncompressed and kCentralCompressed
    // bits; the block holds just those, the uncompressed one first.
    unsigned zip64LocalMarked = 3;
    // Central fields written as their Zip64 markers, with the real values in a Zip64
    // extra block of the central entry: kCentral... bits.
    unsigned zip64Central = 0;
    // The uncompressed size that block states instead of the real one (the field is
    // marked whether or not kCentralUncompressed is given).
    std::optional<uint64_t> zip64CentralSize;
    std::size_t zip64CentralCut = 0;  // bytes cut from the end of that block
    // The size that block's header states instead of its own, which may run past the
    // end of the extra field.
    std::optional<uint16_t> zip64CentralStated;
};

inline constexpr unsigned kCentralUncompressed = 1;
inline constexpr unsigned kCentralCompressed = 2;
inline constexpr unsigned kCentralOffset = 4;
inline constexpr unsigned kCentralDisk = 8;

// Little-endian numbers, as every ZIP header holds them.
void append16(std::string& out, uint32_t v);
void append32(std::string& out, uint32_t v);
void append64(std::string& out, uint64_t v);

// The CRC-32 of `s`.
uint32_t crcOf(const std::string& s);

// The whole archive, optionally with `leading` bytes ahead of it.
std::string buildArchive(const std::vector<RawEntry>& entries, const std::string& leading = {});

// `archive` (as buildArchive makes it) with its end record preceded by a Zip64 end
// record and locator that state `count` items; the end record itself then states 0xFFFF
// items. The locator's offset counts from the archive's start, which lies `leading`
// bytes into the file, or from the file's start when `locatorCountsLeading`.
std::string withZip64End(const std::string& archive, uint64_t count, std::size_t leading = 0,
                         bool locatorCountsLeading = false);

// The encrypted form of `plain` (header included) as the traditional scheme makes it
// with the empty password.
std::string encryptTraditional(const std::string& plain);

// Raw deflate of `data`.
std::string deflateRaw(const std::string& data);

}  // namespace fw::test
