// A Windows executable's headers: the DOS header's pointer, the "PE" signature, the file
// header, the optional header (32- and 64-bit) with its data directories, and the section
// table (pe/PeLayout.h). Read through a callback, never the whole file; the writer
// patches the same fields at the file offsets given here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pe/PeLayout.h"

namespace fw::pe {

// Reads `size` bytes at `offset` in full; false otherwise.
using ReadAt = std::function<bool(void* buffer, std::size_t size, uint64_t offset)>;

// RVAs are taken as signed 32-bit displacements, so no image reaches 2 GiB past its base.
inline constexpr uint64_t kLargestImage = uint64_t{1} << 31;

struct Image {
    uint64_t fileSize = 0;
    bool plus = false;  // PE32+, a 64-bit image
    uint16_t characteristics = 0;
    uint64_t imageBase = 0;
    uint32_t sectionAlignment = 0;
    uint32_t fileAlignment = 0;
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t sizeOfInitializedData = 0;
    uint32_t checkSum = 0;
    uint32_t symbolTable = 0;  // file offset of the COFF symbol table, 0 for none
    uint64_t fileHeader = 0;   // offset of the file header, after "PE\0\0"
    uint64_t optionalHeader = 0;
    uint64_t sectionTable = 0;
    std::vector<Directory> directories;  // as many as the header has, at most 16
    // Data directory `index`, or none when the header has fewer.
    Directory directory(int index) const;
    std::vector<Section> sections;
    // The end of the last section's raw data: what follows is not mapped.
    uint64_t sectionsEnd() const;
};

// True when the file starts with "MZ" and its header pointer leads to "PE\0\0".
bool isPe(const ReadAt& read, uint64_t fileSize);

// Reads and checks the headers and the section table; why they are not sound, or empty.
std::string readImage(const ReadAt& read, uint64_t fileSize, Image& image);

// File offsets of the fields the writer changes.
uint64_t checkSumOffset(const Image& image);
uint64_t sizeOfImageOffset(const Image& image);
uint64_t sizeOfInitializedDataOffset(const Image& image);
uint64_t symbolTableOffset(const Image& image);
uint64_t directoryOffset(const Image& image, int index);
uint64_t sectionHeaderOffset(const Image& image, std::size_t index);

// The index of the section whose image span holds `rva`, or -1.
int sectionOf(const Image& image, uint32_t rva);

// The file offset of `size` bytes at `rva`, when they lie in one section's raw data.
bool fileOffsetOf(const Image& image, uint32_t rva, uint32_t size, uint64_t& offset);

// The largest SizeOfImage that Windows maps for this image: below 2 GiB (RVAs are
// 31-bit), and a 32-bit image, or one not marked large-address aware, must also end
// below the 2 GiB boundary of the address space from its image base.
uint64_t largestImageSize(const Image& image);

constexpr uint64_t alignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// The image checksum as Windows computes it: the 16-bit words of the file summed with
// end-around carry (the checksum field counted as zero), plus the file's length. Fed the
// file's bytes in order, in pieces of any size.
class Checksum {
  public:
    void add(const void* data, std::size_t size);
    uint32_t value(uint64_t fileSize) const;

  private:
    uint64_t sum_ = 0;
    unsigned char pending_[4] = {};
    std::size_t pendingSize_ = 0;
};

}  // namespace fw::pe
