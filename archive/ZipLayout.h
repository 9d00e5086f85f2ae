// The ZIP format's records, written down once for the reader, the packers and the tests'
// archive builders: signatures, sizes, field offsets, and decoders that give a record's
// fields by name. Every field is little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/LittleEndian.h"

namespace fw::zip {

using fw::readLittle;

inline constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
inline constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
inline constexpr std::uint32_t kEndSignature = 0x06054b50;
inline constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;

// Fixed parts of the records (names, extra fields and comments follow them).
inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kEndSize = 22;
inline constexpr std::size_t kZip64EndSize = 56;
inline constexpr std::size_t kZip64LocatorSize = 20;

// Compression methods the reader unpacks.
inline constexpr std::uint32_t kMethodStored = 0;
inline constexpr std::uint32_t kMethodDeflated = 8;

// General-purpose flag bits.
inline constexpr std::uint32_t kFlagEncrypted = 0x1;
inline constexpr std::uint32_t kFlagDataDescriptor = 0x8;  // CRC and sizes follow the data
inline constexpr std::uint32_t kFlagUtf8Name = 0x800;

// A 32-bit size or offset of this value stands for the one in a Zip64 record or block.
inline constexpr std::uint32_t kZip64Marker = 0xFFFFFFFF;
// An entry count of this value stands for the one in the Zip64 end record, and a central
// entry's disk number of this value for the one in its Zip64 extra block.
inline constexpr std::uint32_t kZip64CountMarker = 0xFFFF;

// Extra fields are blocks of a 2-byte id, a 2-byte data size, then the data.
inline constexpr std::size_t kExtraBlockHeaderSize = 4;
inline constexpr std::uint32_t kZip64ExtraId = 0x0001;
inline constexpr std::uint32_t kUnixTimeExtraId = 0x5455;  // "UT"

// Field offsets in each record.
namespace local {
inline constexpr std::size_t signature = 0;
inline constexpr std::size_t versionNeeded = 4;
inline constexpr std::size_t flags = 6;
inline constexpr std::size_t method = 8;
inline constexpr std::size_t dosDateTime = 10;  // time, then date
inline constexpr std::size_t crc = 14;
inline constexpr std::size_t compressedSize = 18;
inline constexpr std::size_t uncompressedSize = 22;
inline constexpr std::size_t nameLength = 26;
inline constexpr std::size_t extraLength = 28;
}  // namespace local

namespace central {
inline constexpr std::size_t signature = 0;
inline constexpr std::size_t versionMadeBy = 4;
inline constexpr std::size_t versionNeeded = 6;  // from here to the lengths as in `local`
inline constexpr std::size_t compressedSize = 20;
inline constexpr std::size_t uncompressedSize = 24;
inline constexpr std::size_t nameLength = 28;
inline constexpr std::size_t extraLength = 30;
inline constexpr std::size_t diskStart = 34;
inline constexpr std::size_t externalAttributes = 38;
inline constexpr std::size_t localHeaderOffset = 42;
}  // namespace central

namespace eocd {
inline constexpr std::size_t signature = 0;
inline constexpr std::size_t disk = 4;
inline constexpr std::size_t directoryDisk = 6;
inline constexpr std::size_t diskEntries = 8;
inline constexpr std::size_t entries = 10;
inline constexpr std::size_t directorySize = 12;
inline constexpr std::size_t directoryOffset = 16;
inline constexpr std::size_t commentLength = 20;
}  // namespace eocd

namespace zip64Locator {
inline constexpr std::size_t signature = 0;
inline constexpr std::size_t endDisk = 4;
inline constexpr std::size_t endOffset = 8;
inline constexpr std::size_t diskCount = 16;
}  // namespace zip64Locator

namespace zip64End {
inline constexpr std::size_t signature = 0;
inline constexpr std::size_t recordSize = 4;  // the size of what follows this field
inline constexpr std::size_t directorySize = 40;
inline constexpr std::size_t directoryOffset = 48;
}  // namespace zip64End

struct LocalHeader {
    std::uint32_t signature;
    std::uint16_t versionNeeded;
    std::uint16_t flags;
    std::uint16_t method;
    std::uint32_t dosDateTime;
    std::uint32_t crc;
    std::uint32_t compressedSize;
    std::uint32_t uncompressedSize;
    std::uint16_t nameLength;
    std::uint16_t extraLength;
};

// The fields of the kLocalHeaderSize bytes at `h`.
constexpr LocalHeader decodeLocalHeader(const unsigned char* h) {
    const auto u16 = [h](std::size_t at) {
        return static_cast<std::uint16_t>(readLittle(h + at, 2));
    };
    const auto u32 = [h](std::size_t at) {
        return static_cast<std::uint32_t>(readLittle(h + at, 4));
    };
    return LocalHeader{u32(local::signature),      u16(local::versionNeeded),
                       u16(local::flags),          u16(local::method),
                       u32(local::dosDateTime),    u32(local::crc),
                       u32(local::compressedSize), u32(local::uncompressedSize),
                       u16(local::nameLength),     u16(local::extraLength)};
}

struct EndOfDirectory {
    std::uint32_t signature;
    std::uint16_t disk;
    std::uint16_t directoryDisk;
    std::uint16_t diskEntries;
    std::uint16_t entries;
    std::uint32_t directorySize;
    std::uint32_t directoryOffset;
    std::uint16_t commentLength;
};

// The fields of the kEndSize bytes at `e`.
constexpr EndOfDirectory decodeEndOfDirectory(const unsigned char* e) {
    const auto u16 = [e](std::size_t at) {
        return static_cast<std::uint16_t>(readLittle(e + at, 2));
    };
    const auto u32 = [e](std::size_t at) {
        return static_cast<std::uint32_t>(readLittle(e + at, 4));
    };
    return EndOfDirectory{u32(eocd::signature),       u16(eocd::disk),
                          u16(eocd::directoryDisk),   u16(eocd::diskEntries),
                          u16(eocd::entries),         u32(eocd::directorySize),
                          u32(eocd::directoryOffset), u16(eocd::commentLength)};
}

struct Zip64Locator {
    std::uint32_t signature;
    std::uint32_t endDisk;
    std::uint64_t endOffset;
    std::uint32_t diskCount;
};

// The fields of the kZip64LocatorSize bytes at `l`.
constexpr Zip64Locator decodeZip64Locator(const unsigned char* l) {
    return Zip64Locator{static_cast<std::uint32_t>(readLittle(l + zip64Locator::signature, 4)),
                        static_cast<std::uint32_t>(readLittle(l + zip64Locator::endDisk, 4)),
                        readLittle(l + zip64Locator::endOffset, 8),
                        static_cast<std::uint32_t>(readLittle(l + zip64Locator::diskCount, 4))};
}

// The data of the first extra block with `id` in an extra field of `size` bytes; `data`
// is null when there is none, or when a block before it or the block itself runs past
// the field's end.
struct ExtraBlock {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

constexpr ExtraBlock findExtraBlock(const unsigned char* extra, std::size_t size,
                                    std::uint32_t id) {
    for (std::size_t at = 0; extra != nullptr && at + kExtraBlockHeaderSize <= size;) {
        const auto blockSize = static_cast<std::size_t>(readLittle(extra + at + 2, 2));
        if (blockSize > size - at - kExtraBlockHeaderSize) {
            break;
        }
        if (readLittle(extra + at, 2) == id) {
            return ExtraBlock{extra + at + kExtraBlockHeaderSize, blockSize};
        }
        at += kExtraBlockHeaderSize + blockSize;
    }
    return ExtraBlock{};
}

// The fields of a central entry that its Zip64 extra block can stand in for.
struct Zip64Fields {
    std::uint64_t uncompressedSize = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
    std::uint32_t diskStart = 0;

    constexpr bool anyMarked() const {
        return uncompressedSize == kZip64Marker || compressedSize == kZip64Marker ||
               localHeaderOffset == kZip64Marker || diskStart == kZip64CountMarker;
    }
};

// The four fields as the kCentralHeaderSize bytes at `c` hold them.
constexpr Zip64Fields decodeCentralZip64Fields(const unsigned char* c) {
    return Zip64Fields{readLittle(c + central::uncompressedSize, 4),
                       readLittle(c + central::compressedSize, 4),
                       readLittle(c + central::localHeaderOffset, 4),
                       static_cast<std::uint32_t>(readLittle(c + central::diskStart, 2))};
}

// Replaces each field that holds its marker by the Zip64 block's next value: the block
// holds only the marked fields, in this order, 8 bytes each but 4 for the disk number.
// False when a field is marked and the block has no room for it.
constexpr bool resolveZip64(Zip64Fields& fields, ExtraBlock block) {
    std::size_t at = 0;
    const auto take = [&](auto& field, auto marker, std::size_t width) {
        if (field != marker) {
            return true;
        }
        if (block.data == nullptr || block.size - at < width) {
            return false;
        }
        field = static_cast<std::remove_reference_t<decltype(field)>>(
            readLittle(block.data + at, static_cast<int>(width)));
        at += width;
        return true;
    };
    return take(fields.uncompressedSize, std::uint64_t{kZip64Marker}, 8) &&
           take(fields.compressedSize, std::uint64_t{kZip64Marker}, 8) &&
           take(fields.localHeaderOffset, std::uint64_t{kZip64Marker}, 8) &&
           take(fields.diskStart, kZip64CountMarker, 4);
}

}  // namespace fw::zip
