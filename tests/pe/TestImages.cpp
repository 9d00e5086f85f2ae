#include "tests/pe/TestImages.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pe/PeImage.h"
#include "platform/LittleEndian.h"
#include "res/resource.h"
#include "tests/support/RawZip.h"

namespace fw::test {

namespace {

constexpr std::size_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr std::size_t kFileHeader = 0x44;  // after "PE\0\0" at 0x40
constexpr std::size_t kOptionalHeader = 0x58;
constexpr std::size_t kSectionTable = kOptionalHeader + 240;
constexpr uint32_t kCode = 0x60000020;         // code, executable, readable
constexpr uint32_t kData = 0x40000040;         // initialized data, readable
constexpr uint32_t kDiscardable = 0x42000040;  // and discardable

void put(std::string& image, std::size_t at, uint64_t value, int width) {
    storeLittle(image.data() + at, value, width);
}

std::string le(uint64_t value, int width) {
    return little(value, width);
}

std::size_t alignFile(std::size_t size) {
    return (size + kFileAlignment - 1) / kFileAlignment * kFileAlignment;
}

// Headers of a 64-bit GUI image with `sections` sections, whose section table and data
// the caller fills.
std::string headers(int sections) {
    std::string b(0x400, '\0');
    b.replace(0, 2, "MZ");
    b[0x3C] = 0x40;
    b.replace(0x40, 4, std::string("PE\0\0", 4));
    put(b, kFileHeader, 0x8664, 2);  // machine
    put(b, kFileHeader + 2, static_cast<uint64_t>(sections), 2);
    put(b, kFileHeader + 16, 240, 2);   // optional header size
    put(b, kFileHeader + 18, 0x22, 2);  // executable, large-address aware
    const std::size_t o = kOptionalHeader;
    put(b, o, 0x20B, 2);
    put(b, o + 24, 0x140000000, 8);  // image base
    put(b, o + 32, kSectionAlignment, 4);
    put(b, o + 36, kFileAlignment, 4);
    put(b, o + 48, 6, 2);      // subsystem version
    put(b, o + 60, 0x400, 4);  // SizeOfHeaders
    put(b, o + 68, 2, 2);      // GUI
    put(b, o + 108, 16, 4);    // data directories
    return b;
}

void setSection(std::string& image, int index, std::string_view name, uint32_t virtualSize,
                uint32_t address, std::size_t rawSize, std::size_t rawPointer,
                uint32_t characteristics) {
    const std::size_t s = kSectionTable + 40 * static_cast<std::size_t>(index);
    image.replace(s, name.size(), name);
    put(image, s + 8, virtualSize, 4);
    put(image, s + 12, address, 4);
    put(image, s + 16, rawSize, 4);
    put(image, s + 20, rawPointer, 4);
    put(image, s + 36, characteristics, 4);
}

void setDirectory(std::string& image, int index, uint32_t address, uint32_t size) {
    const std::size_t d = kOptionalHeader + 112 + 8 * static_cast<std::size_t>(index);
    put(image, d, address, 4);
    put(image, d + 4, size, 4);
}

// Appends `data` padded to the file alignment; gives where it starts.
std::size_t appendSection(std::string& image, const std::string& data) {
    const std::size_t at = image.size();
    image += data;
    image.resize(alignFile(image.size()), '\0');
    return at;
}

std::string directoryTable(int named, int ids) {
    return std::string(12, '\0') + le(static_cast<uint64_t>(named), 2) +
           le(static_cast<uint64_t>(ids), 2);
}

std::string entry(uint32_t key, uint32_t offset, bool directory) {
    return le(key, 4) + le(directory ? offset | 0x80000000u : offset, 4);
}

// The resource section at `rva`: TIMELISTINGS/#132/1033 with `payload`, and RCDATA
// (type 10) #7/1033 with `other`. Named entries come first, then ids, as the format
// orders them.
std::string resourceSection(uint32_t rva, const std::string& payload, const std::string& other) {
    constexpr uint32_t kTypeNamed = 0x20;
    constexpr uint32_t kTypeData = 0x38;
    constexpr uint32_t kPayloadLanguages = 0x50;
    constexpr uint32_t kOtherLanguages = 0x68;
    constexpr uint32_t kPayloadEntry = 0x80;
    constexpr uint32_t kOtherEntry = 0x90;
    constexpr uint32_t kTypeName = 0xA0;
    constexpr uint32_t kPayloadData = 0xC0;
    const uint32_t otherData = kPayloadData + static_cast<uint32_t>((payload.size() + 7) / 8 * 8);
    std::string s = directoryTable(1, 1) + entry(kTypeName | 0x80000000u, kTypeNamed, true) +
                    entry(10, kTypeData, true);
    s += directoryTable(0, 1) + entry(132, kPayloadLanguages, true);
    s += directoryTable(0, 1) + entry(7, kOtherLanguages, true);
    s += directoryTable(0, 1) + entry(1033, kPayloadEntry, false);
    s += directoryTable(0, 1) + entry(1033, kOtherEntry, false);
    s += le(rva + kPayloadData, 4) + le(payload.size(), 4) + le(0, 8);
    s += le(rva + otherData, 4) + le(other.size(), 4) + le(0, 8);
    const std::string type = FERROWICK_PAYLOAD_TYPE;
    s += le(type.size(), 2);
    for (const char c : type) {
        s += le(static_cast<unsigned char>(c), 2);
    }
    s.resize(kPayloadData, '\0');
    s += payload;
    s.resize(otherData, '\0');
    return s + other;
}

}  // namespace

std::string windowsLauncher() {
    const char* named = std::getenv("FERROWICK_WINDOWS_LAUNCHER");
    return named != nullptr && *named ? named : FERROWICK_WINDOWS_LAUNCHER_DEFAULT;
}

pe::ReadAt readerOf(const std::string& bytes) {
    return [&bytes](void* buffer, std::size_t size, uint64_t offset) {
        if (offset > bytes.size() || size > bytes.size() - offset) {
            return false;
        }
        bytes.copy(static_cast<char*>(buffer), size, static_cast<std::size_t>(offset));
        return true;
    };
}

std::string bareImage() {
    std::string b = headers(1);
    put(b, kOptionalHeader + 56, 0x2000, 4);  // SizeOfImage
    put(b, kOptionalHeader + 60, 0x200, 4);   // SizeOfHeaders
    setSection(b, 0, ".text", 0x100, 0x1000, 0x200, 0x200, kCode);
    b.resize(0x200);
    const std::string marker = FERROWICK_LAUNCHER_MARKER_HEAD FERROWICK_LAUNCHER_MARKER_TAIL;
    b += std::string(0x10, '\0') + marker;
    b.resize(0x400, '\0');
    return b;
}

std::string imageWithResources() {
    std::string b = headers(4);
    const std::string marker = FERROWICK_LAUNCHER_MARKER_HEAD FERROWICK_LAUNCHER_MARKER_TAIL;
    // Code that refers to itself: a 64-bit address the relocations name.
    const std::string code = std::string(0x10, '\x90') + le(0x140001000, 8) + marker;
    setSection(b, 0, ".text", static_cast<uint32_t>(code.size()), 0x1000, alignFile(code.size()),
               appendSection(b, code), kCode);

    // A payload that the launcher would unpack and launch, and another resource.
    RawEntry setup;
    setup.name = "disk1/SETUP.EXE";
    setup.content = "setup";
    const std::string payload =
        std::string(FERROWICK_PAYLOAD_PREFIX_SIZE, 'p') + buildArchive({setup});
    const std::string rsrc = resourceSection(0x2000, payload, "other resource bytes");
    setSection(b, 1, ".rsrc", static_cast<uint32_t>(rsrc.size()), 0x2000, alignFile(rsrc.size()),
               appendSection(b, rsrc), kData);
    setDirectory(b, pe::kResourceDirectory, 0x2000, static_cast<uint32_t>(rsrc.size()));

    // One block for the code's page: a 64-bit address at 0x10, then padding.
    const std::string relocations = le(0x1000, 4) + le(12, 4) + le(0xA010, 2) + le(0, 2);
    setSection(b, 2, ".reloc", 12, 0x3000, alignFile(12), appendSection(b, relocations),
               kDiscardable);
    setDirectory(b, pe::kRelocationDirectory, 0x3000, 12);

    // One debug entry; its data follows it in the same section, found by address and by
    // file offset.
    const std::size_t debugAt = b.size();
    std::string debug =
        std::string(12, '\0') + le(2, 4) + le(24, 4) + le(0x4000 + 0x20, 4) + le(debugAt + 0x20, 4);
    debug.resize(0x20, '\0');
    debug += "RSDS" + std::string(16, 'g') + le(1, 4);
    setSection(b, 3, "/4", static_cast<uint32_t>(debug.size()), 0x4000, alignFile(debug.size()),
               appendSection(b, debug), kDiscardable);
    setDirectory(b, pe::kDebugDirectory, 0x4000, 28);

    // One symbol, then the string table: its size, then the section's name.
    put(b, kFileHeader + 8, b.size(), 4);
    put(b, kFileHeader + 12, 1, 4);
    const std::string name = std::string(".debug_fw") + '\0';
    b += ".text" + std::string(3, '\0') + le(0, 4) + le(1, 2) + le(0, 2) + le(3, 1) + le(0, 1);
    b += le(4 + name.size(), 4) + name;

    const std::size_t o = kOptionalHeader;
    put(b, o + 4, 0x200, 4);               // SizeOfCode
    put(b, o + 8, 3 * kFileAlignment, 4);  // SizeOfInitializedData
    put(b, o + 16, 0x1000, 4);             // entry point
    put(b, o + 20, 0x1000, 4);             // BaseOfCode
    put(b, o + 56, 0x5000, 4);             // SizeOfImage
    pe::Checksum sum;
    sum.add(b.data(), b.size());
    put(b, o + 64, sum.value(b.size()), 4);
    return b;
}

SignaturePlace signaturePlace(const std::string& image) {
    pe::Image read;
    if (!pe::readImage(readerOf(image), image.size(), read).empty() ||
        read.directories.size() <= pe::kCertificateDirectory) {
        return {};
    }
    const pe::Directory table = read.directories[pe::kCertificateDirectory];
    if (table.size <= 8 || uint64_t{table.address} + table.size > image.size()) {
        return {};
    }
    const auto length = static_cast<std::size_t>(readLittle(image.data() + table.address, 4));
    return {table.address + 8, length - 8};
}

}  // namespace fw::test
