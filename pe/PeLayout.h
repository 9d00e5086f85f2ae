// A Windows image's structures, written down once for the reader, the writer and the
// tests' image builders: sizes, field offsets, and decoders that give a structure's
// fields by name. Every field is little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/LittleEndian.h"

namespace fw::pe {

inline constexpr std::size_t kDosHeaderSize = 64;
inline constexpr std::size_t kSignatureSize = 4;  // "PE\0\0", where the DOS header points
inline constexpr std::size_t kFileHeaderSize = 20;
inline constexpr std::size_t kSectionHeaderSize = 40;
inline constexpr std::size_t kDataDirectorySize = 8;
inline constexpr std::size_t kResourceTableSize = 16;  // a directory table, then its entries
inline constexpr std::size_t kResourceEntrySize = 8;
inline constexpr std::size_t kResourceDataSize = 16;
inline constexpr std::size_t kDebugEntrySize = 28;
inline constexpr std::size_t kRelocationBlockSize = 8;  // a block's header
inline constexpr std::size_t kCertificateHeaderSize = 8;

inline constexpr uint16_t kPe32 = 0x10B;
inline constexpr uint16_t kPe32Plus = 0x20B;

// Data directories.
inline constexpr int kResourceDirectory = 2;
inline constexpr int kCertificateDirectory = 4;  // its address is a file offset
inline constexpr int kRelocationDirectory = 5;
inline constexpr int kDebugDirectory = 6;
inline constexpr std::size_t kMaxDirectories = 16;

// File header characteristics.
inline constexpr uint16_t kRelocsStripped = 0x0001;
inline constexpr uint16_t kLargeAddressAware = 0x0020;

// Section characteristics.
inline constexpr uint32_t kSectionInitializedData = 0x00000040;
inline constexpr uint32_t kSectionDiscardable = 0x02000000;

// In a resource entry: a name (not an id), or a table (not data).
inline constexpr uint32_t kResourceHighBit = 0x80000000;

// Resource types.
inline constexpr uint16_t kIconType = 3;
inline constexpr uint16_t kIconGroupType = 14;
inline constexpr uint16_t kVersionType = 16;

namespace dos {
inline constexpr std::size_t magic = 0;  // "MZ"
inline constexpr std::size_t peOffset = 0x3C;
}  // namespace dos

namespace fileHeader {
inline constexpr std::size_t machine = 0;
inline constexpr std::size_t sectionCount = 2;
inline constexpr std::size_t symbolTable = 8;  // file offset, 0 for none
inline constexpr std::size_t symbolCount = 12;
inline constexpr std::size_t optionalHeaderSize = 16;
inline constexpr std::size_t characteristics = 18;
}  // namespace fileHeader

// Offsets from the optional header's start; where the 32- and the 64-bit forms differ,
// the 64-bit one has its own name.
namespace optionalHeader {
inline constexpr std::size_t magic = 0;
inline constexpr std::size_t sizeOfCode = 4;
inline constexpr std::size_t sizeOfInitializedData = 8;
inline constexpr std::size_t entryPoint = 16;
inline constexpr std::size_t baseOfCode = 20;
inline constexpr std::size_t imageBase = 28;    // 4 bytes
inline constexpr std::size_t imageBase64 = 24;  // 8 bytes
inline constexpr std::size_t sectionAlignment = 32;
inline constexpr std::size_t fileAlignment = 36;
inline constexpr std::size_t subsystemVersion = 48;
inline constexpr std::size_t sizeOfImage = 56;
inline constexpr std::size_t sizeOfHeaders = 60;
inline constexpr std::size_t checkSum = 64;
inline constexpr std::size_t subsystem = 68;
inline constexpr std::size_t directories = 96;  // the count of data directories before them
inline constexpr std::size_t directories64 = 112;
}  // namespace optionalHeader

namespace sectionHeader {
inline constexpr std::size_t name = 0;  // 8 bytes, zero-padded
inline constexpr std::size_t virtualSize = 8;
inline constexpr std::size_t virtualAddress = 12;
inline constexpr std::size_t rawSize = 16;
inline constexpr std::size_t rawPointer = 20;
inline constexpr std::size_t characteristics = 36;
}  // namespace sectionHeader

namespace resourceTable {
inline constexpr std::size_t characteristics = 0;
inline constexpr std::size_t timeDateStamp = 4;
inline constexpr std::size_t majorVersion = 8;
inline constexpr std::size_t minorVersion = 10;
inline constexpr std::size_t namedEntries = 12;
inline constexpr std::size_t idEntries = 14;
}  // namespace resourceTable

namespace resourceEntry {
inline constexpr std::size_t key = 0;     // an id, or the high bit and a name's offset
inline constexpr std::size_t target = 4;  // data's offset, or the high bit and a table's
}  // namespace resourceEntry

namespace resourceData {
inline constexpr std::size_t address = 0;  // an RVA
inline constexpr std::size_t size = 4;
inline constexpr std::size_t codePage = 8;
inline constexpr std::size_t reserved = 12;
}  // namespace resourceData

namespace debugEntry {
inline constexpr std::size_t address = 20;  // an RVA, 0 when the data is not mapped
inline constexpr std::size_t pointer = 24;  // a file offset
}  // namespace debugEntry

namespace relocationBlock {
inline constexpr std::size_t page = 0;
inline constexpr std::size_t size = 4;  // of the block, its header included
}  // namespace relocationBlock

// An entry of the certificate table: its header, then the certificate.
namespace certificate {
inline constexpr std::size_t length = 0;  // of the entry, its header included
inline constexpr std::size_t revision = 4;
inline constexpr std::size_t type = 6;
}  // namespace certificate

struct Directory {
    uint32_t address = 0;
    uint32_t size = 0;
    bool present() const { return address != 0 && size != 0; }
};

struct FileHeader {
    uint16_t sectionCount = 0;
    uint32_t symbolTable = 0;
    uint16_t optionalHeaderSize = 0;
    uint16_t characteristics = 0;
};

// The fields of the kFileHeaderSize bytes at `h`.
inline FileHeader decodeFileHeader(const unsigned char* h) {
    return FileHeader{static_cast<uint16_t>(readLittle(h + fileHeader::sectionCount, 2)),
                      static_cast<uint32_t>(readLittle(h + fileHeader::symbolTable, 4)),
                      static_cast<uint16_t>(readLittle(h + fileHeader::optionalHeaderSize, 2)),
                      static_cast<uint16_t>(readLittle(h + fileHeader::characteristics, 2))};
}

struct Section {
    std::string name;  // up to 8 bytes, as stored
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawPointer = 0;
    uint32_t characteristics = 0;
    // Bytes of the image it spans: its virtual size, or its raw size when that is 0.
    uint32_t span() const { return virtualSize != 0 ? virtualSize : rawSize; }
};

// The fields of the kSectionHeaderSize bytes at `h`.
inline Section decodeSectionHeader(const unsigned char* h) {
    const auto u32 = [h](std::size_t at) { return static_cast<uint32_t>(readLittle(h + at, 4)); };
    const char* name = reinterpret_cast<const char*>(h + sectionHeader::name);
    std::size_t length = 0;
    while (length < 8 && name[length] != '\0') {
        ++length;
    }
    return Section{std::string(name, length),          u32(sectionHeader::virtualSize),
                   u32(sectionHeader::virtualAddress), u32(sectionHeader::rawSize),
                   u32(sectionHeader::rawPointer),     u32(sectionHeader::characteristics)};
}

struct ResourceTableHeader {
    uint32_t characteristics = 0;
    uint32_t timeDateStamp = 0;
    uint16_t majorVersion = 0;
    uint16_t minorVersion = 0;
    uint16_t namedEntries = 0;
    uint16_t idEntries = 0;
};

// The fields of the kResourceTableSize bytes at `t`.
inline ResourceTableHeader decodeResourceTable(const unsigned char* t) {
    const auto u16 = [t](std::size_t at) { return static_cast<uint16_t>(readLittle(t + at, 2)); };
    const auto u32 = [t](std::size_t at) { return static_cast<uint32_t>(readLittle(t + at, 4)); };
    return ResourceTableHeader{
        u32(resourceTable::characteristics), u32(resourceTable::timeDateStamp),
        u16(resourceTable::majorVersion),    u16(resourceTable::minorVersion),
        u16(resourceTable::namedEntries),    u16(resourceTable::idEntries)};
}

struct ResourceDataEntry {
    uint32_t address = 0;
    uint32_t size = 0;
    uint32_t codePage = 0;
    uint32_t reserved = 0;
};

// The fields of the kResourceDataSize bytes at `d`.
inline ResourceDataEntry decodeResourceData(const unsigned char* d) {
    const auto u32 = [d](std::size_t at) { return static_cast<uint32_t>(readLittle(d + at, 4)); };
    return ResourceDataEntry{u32(resourceData::address), u32(resourceData::size),
                             u32(resourceData::codePage), u32(resourceData::reserved)};
}

}  // namespace fw::pe
