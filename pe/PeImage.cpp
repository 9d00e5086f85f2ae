#include "pe/PeImage.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/LittleEndian.h"

namespace fw::pe {

namespace {

static_assert(std::endian::native == std::endian::little, "the checksum sums words as stored");

constexpr std::size_t kMaxSections = 96;
constexpr uint32_t kMaxHeaders = 1 << 20;
// The lower 2 GiB of an address space less its first and last 64 KiB, never mapped.
constexpr uint64_t kLowSpaceBottom = 0x10000;
constexpr uint64_t kLowSpaceTop = 0x7FFF0000;

bool powerOfTwo(uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

// Where the data directories start: the 32- and the 64-bit forms differ before them.
std::size_t directoriesField(bool plus) {
    return plus ? optionalHeader::directories64 : optionalHeader::directories;
}

// The fields of the optional header `o`, of `size` bytes, that the image keeps; why it is
// not that of an image, or empty.
std::string readOptionalHeader(const unsigned char* o, std::size_t size, Image& image) {
    const auto u32 = [o](std::size_t at) { return static_cast<uint32_t>(readLittle(o + at, 4)); };
    const auto magic = size >= 2 ? readLittle(o + optionalHeader::magic, 2) : 0;
    if (magic != kPe32 && magic != kPe32Plus) {
        return "its optional header is neither the 32- nor the 64-bit form";
    }
    image.plus = magic == kPe32Plus;
    const std::size_t fixed = directoriesField(image.plus);
    if (size < fixed) {
        return "its optional header is too short";
    }
    image.sizeOfInitializedData = u32(optionalHeader::sizeOfInitializedData);
    image.imageBase = image.plus ? readLittle(o + optionalHeader::imageBase64, 8)
                                 : u32(optionalHeader::imageBase);
    image.sectionAlignment = u32(optionalHeader::sectionAlignment);
    image.fileAlignment = u32(optionalHeader::fileAlignment);
    image.sizeOfImage = u32(optionalHeader::sizeOfImage);
    image.sizeOfHeaders = u32(optionalHeader::sizeOfHeaders);
    image.checkSum = u32(optionalHeader::checkSum);
    const std::size_t count = u32(fixed - 4);
    if (count > kMaxDirectories || fixed + kDataDirectorySize * count > size) {
        return "its data directories do not fit its optional header";
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = fixed + kDataDirectorySize * i;
        image.directories.push_back({u32(at), u32(at + 4)});
    }
    if (!powerOfTwo(image.fileAlignment) || !powerOfTwo(image.sectionAlignment) ||
        image.sectionAlignment < image.fileAlignment || image.fileAlignment < 512) {
        return "its file and section alignments are not those of a program's image";
    }
    return {};
}

// The section table of `count` headers; why its sections are not those of an image, or
// empty.
std::string readSections(const unsigned char* table, std::size_t count, Image& image) {
    uint64_t nextVirtual = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Section s = decodeSectionHeader(table + i * kSectionHeaderSize);
        if (s.rawSize != 0 && uint64_t{s.rawPointer} + s.rawSize > image.fileSize) {
            return "it is cut short: its section \"" + s.name + "\" ends at byte " +
                   std::to_string(uint64_t{s.rawPointer} + s.rawSize) + ", the file at byte " +
                   std::to_string(image.fileSize);
        }
        if (s.virtualAddress < nextVirtual || s.virtualAddress % image.sectionAlignment != 0) {
            return "its sections are not laid out in ascending, aligned order";
        }
        nextVirtual = alignUp(uint64_t{s.virtualAddress} + s.span(), image.sectionAlignment);
        image.sections.push_back(std::move(s));
    }
    if (image.sizeOfImage < nextVirtual) {
        return "its SizeOfImage " + std::to_string(image.sizeOfImage) +
               " ends before its last section";
    }
    return {};
}

}  // namespace

Directory Image::directory(int index) const {
    const auto i = static_cast<std::size_t>(index);
    return i < directories.size() ? directories[i] : Directory{};
}

uint64_t Image::sectionsEnd() const {
    uint64_t end = sizeOfHeaders;
    for (const Section& s : sections) {
        if (s.rawSize != 0) {
            end = std::max<uint64_t>(end, uint64_t{s.rawPointer} + s.rawSize);
        }
    }
    return end;
}

bool isPe(const ReadAt& read, uint64_t fileSize) {
    unsigned char dos[kDosHeaderSize];
    if (fileSize < sizeof dos || !read(dos, sizeof dos, 0) || dos[0] != 'M' || dos[1] != 'Z') {
        return false;
    }
    const uint64_t pe = readLittle(dos + dos::peOffset, 4);
    unsigned char signature[kSignatureSize];
    return pe + kSignatureSize <= fileSize && read(signature, kSignatureSize, pe) &&
           std::memcmp(signature, "PE\0\0", kSignatureSize) == 0;
}

std::string readImage(const ReadAt& read, uint64_t fileSize, Image& image) {
    image = Image{};
    image.fileSize = fileSize;
    if (!isPe(read, fileSize)) {
        return "it is no Windows executable (no MZ and PE signatures)";
    }
    unsigned char dos[kDosHeaderSize];
    read(dos, sizeof dos, 0);
    image.fileHeader = readLittle(dos + dos::peOffset, 4) + kSignatureSize;
    unsigned char header[kFileHeaderSize];
    if (image.fileHeader + sizeof header > fileSize ||
        !read(header, sizeof header, image.fileHeader)) {
        return "it is cut short in its file header";
    }
    const FileHeader file = decodeFileHeader(header);
    image.symbolTable = file.symbolTable;
    image.characteristics = file.characteristics;
    image.optionalHeader = image.fileHeader + kFileHeaderSize;
    image.sectionTable = image.optionalHeader + file.optionalHeaderSize;
    const std::size_t sectionCount = file.sectionCount;
    if (sectionCount == 0 || sectionCount > kMaxSections) {
        return "its section count " + std::to_string(sectionCount) + " is not that of an image";
    }
    std::string optional(file.optionalHeaderSize, '\0');
    if (image.sectionTable + sectionCount * kSectionHeaderSize > fileSize ||
        !read(optional.data(), optional.size(), image.optionalHeader)) {
        return "it is cut short in its headers";
    }
    if (std::string problem = readOptionalHeader(
            reinterpret_cast<const unsigned char*>(optional.data()), optional.size(), image);
        !problem.empty()) {
        return problem;
    }
    if (image.sizeOfHeaders > kMaxHeaders || image.sizeOfHeaders > fileSize ||
        image.sectionTable + sectionCount * kSectionHeaderSize > image.sizeOfHeaders) {
        return "its headers do not fit its SizeOfHeaders";
    }
    std::string table(sectionCount * kSectionHeaderSize, '\0');
    if (!read(table.data(), table.size(), image.sectionTable)) {
        return "its section table cannot be read";
    }
    return readSections(reinterpret_cast<const unsigned char*>(table.data()), sectionCount, image);
}

uint64_t checkSumOffset(const Image& image) {
    return image.optionalHeader + optionalHeader::checkSum;
}
uint64_t sizeOfImageOffset(const Image& image) {
    return image.optionalHeader + optionalHeader::sizeOfImage;
}
uint64_t sizeOfInitializedDataOffset(const Image& image) {
    return image.optionalHeader + optionalHeader::sizeOfInitializedData;
}
uint64_t symbolTableOffset(const Image& image) {
    return image.fileHeader + fileHeader::symbolTable;
}
uint64_t directoryOffset(const Image& image, int index) {
    return image.optionalHeader + directoriesField(image.plus) +
           kDataDirectorySize * static_cast<uint64_t>(index);
}
uint64_t sectionHeaderOffset(const Image& image, std::size_t index) {
    return image.sectionTable + kSectionHeaderSize * index;
}

int sectionOf(const Image& image, uint32_t rva) {
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const Section& s = image.sections[i];
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.span()) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool fileOffsetOf(const Image& image, uint32_t rva, uint32_t size, uint64_t& offset) {
    const int index = sectionOf(image, rva);
    if (index < 0) {
        return false;
    }
    const Section& s = image.sections[static_cast<std::size_t>(index)];
    const uint64_t within = rva - s.virtualAddress;
    if (within + size > std::min(s.rawSize, s.span())) {
        return false;
    }
    offset = s.rawPointer + within;
    return true;
}

uint64_t largestImageSize(const Image& image) {
    uint64_t largest = kLargestImage;
    if (!image.plus || (image.characteristics & kLargeAddressAware) == 0) {
        // It must lie in the lower 2 GiB: at its own base when it cannot be moved.
        const uint64_t bottom =
            (image.characteristics & kRelocsStripped) != 0 ? image.imageBase : kLowSpaceBottom;
        largest = std::min(largest, bottom < kLowSpaceTop ? kLowSpaceTop - bottom : 0);
    }
    return largest / image.sectionAlignment * image.sectionAlignment;
}

void Checksum::add(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    // A word the previous piece began.
    if (pendingSize_ != 0) {
        const std::size_t n = std::min(size, sizeof pending_ - pendingSize_);
        std::memcpy(pending_ + pendingSize_, p, n);
        pendingSize_ += n;
        p += n;
        size -= n;
        if (pendingSize_ < sizeof pending_) {
            return;
        }
        sum_ += readLittle(pending_, 4);
        pendingSize_ = 0;
    }
    // A 32-bit word is two 16-bit words, and 65536 is 1 modulo 65535: summing 32-bit
    // words modulo 65535 gives the same, at half the additions.
    const std::size_t words = size / 4;
    uint64_t sum = 0;
    for (std::size_t i = 0; i < words; ++i) {
        uint32_t word;
        std::memcpy(&word, p + 4 * i, 4);
        sum += word;
    }
    sum_ += sum;
    pendingSize_ = size % 4;
    std::memcpy(pending_, p + 4 * words, pendingSize_);
}

uint32_t Checksum::value(uint64_t fileSize) const {
    uint64_t sum = sum_;
    unsigned char tail[4] = {};
    std::memcpy(tail, pending_, pendingSize_);
    sum += readLittle(tail, 4);
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint32_t>(sum + fileSize);
}

}  // namespace fw::pe
