#include "archive/detail/EndRecord.h"

#include <algorithm>
#include <cstring>

#include "archive/ZipLayout.h"

namespace fw::archive {

namespace {

using zip::kEndSize;
using zip::kZip64EndSize;
using zip::kZip64LocatorSize;
using zip::readLittle;

// minizip looks back over at most this many bytes, in pieces of 1,024 overlapping by 4.
constexpr std::uint64_t kSearchedBytes = 0xFFFF;
constexpr std::uint64_t kPiece = 0x400;

// Reads as minizip does: what lies past the end of the file reads as zeros.
bool readAt(SeamFile& file, std::uint64_t at, unsigned char* out, std::size_t count) {
    std::memset(out, 0, count);
    return file.seek(static_cast<std::int64_t>(at), SeekOrigin::begin) >= 0 &&
           file.read(out, count) >= 0;
}

// The position of the last `signature` that starts in the searched tail, 0 for none (a
// record at the first byte is not found, as minizip does not find it).
std::uint64_t findLast(SeamFile& file, std::uint64_t size, std::uint32_t signature) {
    const std::uint64_t searched = std::min(size, kSearchedBytes);
    unsigned char piece[kPiece + 4];
    for (std::uint64_t back = 4; back < searched;) {
        back = std::min(back + kPiece, searched);
        const std::uint64_t at = size - back;
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece + 4, back));
        if (file.seek(static_cast<std::int64_t>(at), SeekOrigin::begin) < 0 ||
            file.read(piece, length) != static_cast<std::int64_t>(length)) {
            return 0;
        }
        for (std::size_t i = length - 3; i-- > 0;) {
            if (readLittle(piece + i, 4) == signature) {
                return at + i;
            }
        }
    }
    return 0;
}

// The Zip64 end record's position, when a locator in the tail leads to one as minizip
// requires (disk 0 of 1); 0 otherwise.
std::uint64_t findZip64End(SeamFile& file, std::uint64_t size) {
    const std::uint64_t at = findLast(file, size, zip::kZip64LocatorSignature);
    unsigned char bytes[kZip64LocatorSize];
    if (at == 0 || !readAt(file, at, bytes, sizeof bytes)) {
        return 0;
    }
    const zip::Zip64Locator locator = zip::decodeZip64Locator(bytes);
    if (locator.endDisk != 0 || locator.diskCount != 1) {
        return 0;
    }
    const std::uint64_t end = locator.endOffset;
    unsigned char signature[4];
    if (!readAt(file, end, signature, sizeof signature) ||
        readLittle(signature, 4) != zip::kZip64EndSignature) {
        return 0;
    }
    return end;
}

}  // namespace

EndRecord readEndRecord(SeamFile& file) {
    EndRecord record;
    const std::int64_t fileSize = file.seek(0, SeekOrigin::end);
    if (fileSize < 0) {
        return record;
    }
    const auto size = static_cast<std::uint64_t>(fileSize);
    if (const std::uint64_t zip64 = findZip64End(file, size); zip64 != 0) {
        unsigned char bytes[kZip64EndSize] = {};
        record.whole = readAt(file, zip64, bytes, sizeof bytes) && zip64 + kZip64EndSize <= size;
        record.directorySize = readLittle(bytes + zip::zip64End::directorySize, 8);
        return record;
    }
    const std::uint64_t end = findLast(file, size, zip::kEndSignature);
    unsigned char bytes[kEndSize] = {};
    record.whole = end != 0 && readAt(file, end, bytes, sizeof bytes) && end + kEndSize <= size;
    record.directorySize = zip::decodeEndOfDirectory(bytes).directorySize;
    return record;
}

}  // namespace fw::archive
