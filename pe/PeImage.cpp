#include "pe/PeImage.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace fw::pe {

namespace {

static_assert(std::endian::native == std::endian::little, "the checksum sums words as stored");

constexpr uint16_t kPe32 = 0x10B;
constexpr uint16_t kPe32Plus = 0x20B;
constexpr uint16_t kRelocsStripped = 0x0001;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kMaxSections = 96;
constexpr uint32_t kMaxHeaders = 1 << 20;
// The lower 2 GiB of an address space less its first and last 64 KiB, never mapped.
constexpr uint64_t kLowSpaceBottom = 0x10000;
constexpr uint64_t kLowSpaceTop = 0x7FFF0000;

bool powerOfTwo(uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

// Where the optional header's fields differ between the 32- and the 64-bit form.
uint64_t directoriesStart(const Image& image) {
    return image.optionalHeader + (image.plus ? 112 : 96);
}

}  // namespace

uint64_t Image::sectionsEnd() const {
    uint64_t end = sizeOfHeaders;
    for (const Section& s : sections) {
        if (s.rawSize != 0) {
            end = std::max<uint64_t>(end, uint64_t{s.rawPointer} + s.rawSize);
        }
    }
    return end;
}

void putLe(std::string& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

void setLe(std::string& out, std::size_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        out[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

uint64_t getLe(const void* data, int width) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | p[i];
    }
    return value;
}

bool isPe(const ReadAt& read, uint64_t fileSize) {
    unsigned char dos[64];
    if (fileSize < sizeof dos || !read(dos, sizeof dos, 0) || dos[0] != 'M' || dos[1] != 'Z') {
        return false;
    }
    const uint64_t pe = getLe(dos + 0x3C, 4);
    unsigned char signature[4];
    return pe + 4 <= fileSize && read(signature, 4, pe) && std::memcmp(signature, "PE\0\0", 4) == 0;
}

std::string readImage(const ReadAt& read, uint64_t fileSize, Image& image) {
    image = Image{};
    image.fileSize = fileSize;
    if (!isPe(read, fileSize)) {
        return "it is no Windows executable (no MZ and PE signatures)";
    }
    unsigned char dos[64];
    read(dos, sizeof dos, 0);
    image.fileHeader = getLe(dos + 0x3C, 4) + 4;
    unsigned char header[kFileHeaderSize];
    if (image.fileHeader + sizeof header > fileSize ||
        !read(header, sizeof header, image.fileHeader)) {
        return "it is cut short in its file header";
    }
    const std::size_t sectionCount = getLe(header + 2, 2);
    image.symbolTable = static_cast<uint32_t>(getLe(header + 8, 4));
    const std::size_t optionalSize = getLe(header + 16, 2);
    image.characteristics = static_cast<uint16_t>(getLe(header + 18, 2));
    image.optionalHeader = image.fileHeader + kFileHeaderSize;
    image.sectionTable = image.optionalHeader + optionalSize;
    if (sectionCount == 0 || sectionCount > kMaxSections) {
        return "its section count " + std::to_string(sectionCount) + " is not that of an image";
    }
    std::string optional(optionalSize, '\0');
    if (image.sectionTable + sectionCount * kSectionHeaderSize > fileSize ||
        !read(optional.data(), optional.size(), image.optionalHeader)) {
        return "it is cut short in its headers";
    }
    const auto* o = reinterpret_cast<const unsigned char*>(optional.data());
    const uint16_t magic = optionalSize >= 2 ? static_cast<uint16_t>(getLe(o, 2)) : 0;
    if (magic != kPe32 && magic != kPe32Plus) {
        return "its optional header is neither the 32- nor the 64-bit form";
    }
    image.plus = magic == kPe32Plus;
    const std::size_t fixed = image.plus ? 112 : 96;
    if (optionalSize < fixed) {
        return "its optional header is too short";
    }
    image.sizeOfInitializedData = static_cast<uint32_t>(getLe(o + 8, 4));
    image.imageBase = image.plus ? getLe(o + 24, 8) : getLe(o + 28, 4);
    image.sectionAlignment = static_cast<uint32_t>(getLe(o + 32, 4));
    image.fileAlignment = static_cast<uint32_t>(getLe(o + 36, 4));
    image.sizeOfImage = static_cast<uint32_t>(getLe(o + 56, 4));
    image.sizeOfHeaders = static_cast<uint32_t>(getLe(o + 60, 4));
    image.checkSum = static_cast<uint32_t>(getLe(o + 64, 4));
    const std::size_t directories = getLe(o + fixed - 4, 4);
    if (directories > 16 || fixed + 8 * directories > optionalSize) {
        return "its data directories do not fit its optional header";
    }
    for (std::size_t i = 0; i < directories; ++i) {
        image.directories.push_back({static_cast<uint32_t>(getLe(o + fixed + 8 * i, 4)),
                                     static_cast<uint32_t>(getLe(o + fixed + 8 * i + 4, 4))});
    }
    if (!powerOfTwo(image.fileAlignment) || !powerOfTwo(image.sectionAlignment) ||
        image.sectionAlignment < image.fileAlignment || image.fileAlignment < 512) {
        return "its file and section alignments are not those of a program's image";
    }
    if (image.sizeOfHeaders > kMaxHeaders || image.sizeOfHeaders > fileSize ||
        image.sectionTable + sectionCount * kSectionHeaderSize > image.sizeOfHeaders) {
        return "its headers do not fit its SizeOfHeaders";
    }
    std::string table(sectionCount * kSectionHeaderSize, '\0');
    if (!read(table.data(), table.size(), image.sectionTable)) {
        return "its section table cannot be read";
    }
    uint64_t nextVirtual = 0;
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const auto* h = reinterpret_cast<const unsigned char*>(table.data()) + i * 40;
        Section s;
        s.name.assign(reinterpret_cast<const char*>(h),
                      strnlen(reinterpret_cast<const char*>(h), 8));
        s.virtualSize = static_cast<uint32_t>(getLe(h + 8, 4));
        s.virtualAddress = static_cast<uint32_t>(getLe(h + 12, 4));
        s.rawSize = static_cast<uint32_t>(getLe(h + 16, 4));
        s.rawPointer = static_cast<uint32_t>(getLe(h + 20, 4));
        s.characteristics = static_cast<uint32_t>(getLe(h + 36, 4));
        if (s.rawSize != 0 && uint64_t{s.rawPointer} + s.rawSize > fileSize) {
            return "it is cut short: its section \"" + s.name + "\" ends at byte " +
                   std::to_string(uint64_t{s.rawPointer} + s.rawSize) + ", the file at byte " +
                   std::to_string(fileSize);
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

uint64_t checkSumOffset(const Image& image) {
    return image.optionalHeader + 64;
}
uint64_t sizeOfImageOffset(const Image& image) {
    return image.optionalHeader + 56;
}
uint64_t sizeOfInitializedDataOffset(const Image& image) {
    return image.optionalHeader + 8;
}
uint64_t symbolTableOffset(const Image& image) {
    return image.fileHeader + 8;
}
uint64_t directoryOffset(const Image& image, int index) {
    return directoriesStart(image) + 8 * static_cast<uint64_t>(index);
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
        sum_ += getLe(pending_, 4);
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
    sum += getLe(tail, 4);
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint32_t>(sum + fileSize);
}

}  // namespace fw::pe
