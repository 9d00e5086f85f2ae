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

// Reads as minizip does: what lies past the end of the file reads as zeros (quirk 2 in
// archive/detail/ArchiveReader.h).
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

// Reads the `kZip64EndSize` bytes of the Zip64 end record at `at` into `bytes`; false
// when no such record starts there.
bool readZip64End(SeamFile& file, std::uint64_t at, unsigned char (&bytes)[kZip64EndSize]) {
    return readAt(file, at, bytes, sizeof bytes) && readLittle(bytes, 4) == zip::kZip64EndSignature;
}

// The archive's start as minizip derives it from an end record at `end`; 0 when the
// directory would not fit before the record (minizip refuses such an archive).
std::uint64_t archiveStart(std::uint64_t end, std::uint64_t directorySize,
                           std::uint64_t directoryOffset) {
    const std::uint64_t claimed = directorySize + directoryOffset;
    return claimed <= end ? end - claimed : 0;
}

// Fills `record` from the Zip64 end record that a locator in the tail leads to, as
// minizip requires it (disk 0 of 1); false when there is none.
bool locateZip64End(SeamFile& file, std::uint64_t size, EndRecord& record) {
    const std::uint64_t locatorAt = findLast(file, size, zip::kZip64LocatorSignature);
    unsigned char bytes[kZip64LocatorSize];
    if (locatorAt == 0 || !readAt(file, locatorAt, bytes, sizeof bytes)) {
        return false;
    }
    const zip::Zip64Locator locator = zip::decodeZip64Locator(bytes);
    if (locator.endDisk != 0 || locator.diskCount != 1) {
        return false;
    }
    unsigned char end[kZip64EndSize] = {};
    std::uint64_t at = locator.endOffset;
    if (!readZip64End(file, at, end)) {
        // A locator that counts from the archive's start: the record stands right before
        // it, and the difference is the length of what precedes the archive.
        at = locatorAt >= kZip64EndSize ? locatorAt - kZip64EndSize : 0;
        if (at < locator.endOffset || !readZip64End(file, at, end) ||
            readLittle(end + zip::zip64End::recordSize, 8) != kZip64EndSize - 12) {
            return false;
        }
        record.shift = at - locator.endOffset;
    }
    record.whole = at + kZip64EndSize <= size;
    record.directorySize = readLittle(end + zip::zip64End::directorySize, 8);
    record.archiveStart = archiveStart(at - record.shift, record.directorySize,
                                       readLittle(end + zip::zip64End::directoryOffset, 8));
    return true;
}

}  // namespace

EndRecord locateEndRecord(SeamFile& file) {
    EndRecord record;
    const std::int64_t fileSize = file.seek(0, SeekOrigin::end);
    if (fileSize < 0) {
        return record;
    }
    const auto size = static_cast<std::uint64_t>(fileSize);
    if (locateZip64End(file, size, record)) {
        return record;
    }
    const std::uint64_t end = findLast(file, size, zip::kEndSignature);
    unsigned char bytes[kEndSize] = {};
    record.whole = end != 0 && readAt(file, end, bytes, sizeof bytes) && end + kEndSize <= size;
    const zip::EndOfDirectory decoded = zip::decodeEndOfDirectory(bytes);
    record.directorySize = decoded.directorySize;
    record.archiveStart = archiveStart(end, decoded.directorySize, decoded.directoryOffset);
    return record;
}

}  // namespace fw::archive
