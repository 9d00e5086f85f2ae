// The handle, the positioning with its one-record cache, and the item descriptions.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "archive/ArchiveReader.h"
#include "archive/ZipLayout.h"
#include "archive/detail/ArchiveReader.h"
#include "archive/detail/EndRecord.h"
#include "archive/detail/ItemAttributes.h"
#include "archive/detail/ItemName.h"
#include "archive/detail/ItemTimes.h"
#include "platform/Mbcs.h"

using fw::archive::ArchiveReader;
using fw::zip::kLocalHeaderSize;
using fw::zip::kZip64Marker;
using fw::zip::readLittle;

namespace {

// A UTF-8 name may be up to three times as long as the ANSI name it converts to (one
// byte of code page 1252 for three of UTF-8, as for the euro sign).
constexpr std::size_t kStoredNameSize = 3 * kArchiveNameSize;

// The current directory with a separator at its end, when it fits.
void fillBaseFolder(ArchiveReader& reader) {
    std::string current;
    if (!fw::os().currentDirectory(current) || current.empty()) {
        return;
    }
    const bool endsInSeparator = fw::mbcs::rfindSeparator(current) == current.size() - 1;
    if (!endsInSeparator) {
        current += '\\';
    }
    if (current.size() >= kArchivePathSize) {
        return;
    }
    std::memcpy(reader.baseFolder, current.c_str(), current.size() + 1);
    reader.baseFolderKnown = true;
}

// An archive of no items, which minizip refuses (quirk 1 in archive/detail/ArchiveReader.h),
// when it is well formed.
bool openArchiveOfNoItems(ArchiveReader& reader, const char* path) {
    if (!reader.file.open(path)) {
        return false;
    }
    unsigned char record[fw::zip::kEndSize];
    if (reader.file.read(record, sizeof record) != static_cast<int64_t>(sizeof record)) {
        reader.file.close();
        return false;
    }
    const fw::zip::EndOfDirectory end = fw::zip::decodeEndOfDirectory(record);
    // Every field from the disk numbers to the directory's offset is 0.
    const bool empty =
        end.signature == fw::zip::kEndSignature &&
        std::all_of(record + fw::zip::eocd::disk, record + fw::zip::eocd::commentLength,
                    [](unsigned char b) { return b == 0; });
    const int64_t size = reader.file.seek(0, fw::SeekOrigin::end);
    if (!empty || size != static_cast<int64_t>(fw::zip::kEndSize + end.commentLength)) {
        reader.file.close();
        return false;
    }
    return true;
}

// The central entry's fields that the item's data depends on, with every size and
// offset that the entry marks as Zip64 taken from its Zip64 block.
struct CentralEntry {
    fw::zip::Zip64Fields stored;  // as the entry holds them, markers included
    fw::zip::Zip64Fields fields;
};

// The local header must agree with the central entry: its method (stored or deflated),
// and unless the sizes follow the data, its CRC-32 and sizes. A local size of 0xFFFFFFFF
// stands for the one in the local Zip64 extra block, checked by zip64SizesAgree once the
// extra field is read; a real 32-bit size must equal the central entry's, even where the
// central entry takes it from its Zip64 block.
bool localHeaderAgrees(const fw::zip::LocalHeader& local, const unz_file_info64& info,
                       const CentralEntry& central) {
    const uint64_t method = local.method;
    if (local.signature != fw::zip::kLocalHeaderSignature || method != info.compression_method ||
        (method != fw::zip::kMethodStored && method != fw::zip::kMethodDeflated)) {
        return false;
    }
    const auto sizeAgrees = [](uint64_t inLocal, uint64_t inCentral) {
        return inLocal == kZip64Marker || inLocal == inCentral;
    };
    if (!(local.flags & fw::zip::kFlagDataDescriptor) &&
        (local.crc != info.crc ||
         !sizeAgrees(local.compressedSize, central.fields.compressedSize) ||
         !sizeAgrees(local.uncompressedSize, central.fields.uncompressedSize))) {
        return false;
    }
    return local.nameLength == info.size_filename;
}

// The sizes a local header marks with 0xFFFFFFFF, from its Zip64 extra block: both, the
// uncompressed first, as a local header must hold them; a block of 8 bytes holds the one
// marked (the uncompressed size when both are). They must equal the central entry's.
bool zip64SizesAgree(const fw::zip::LocalHeader& local, const CentralEntry& central,
                     const unsigned char* extra, std::size_t extraSize) {
    const bool uncompressedMarked = local.uncompressedSize == kZip64Marker;
    const bool compressedMarked = local.compressedSize == kZip64Marker;
    if ((local.flags & fw::zip::kFlagDataDescriptor) ||
        (!uncompressedMarked && !compressedMarked)) {
        return true;
    }
    const fw::zip::ExtraBlock block =
        fw::zip::findExtraBlock(extra, extraSize, fw::zip::kZip64ExtraId);
    const bool both = block.size >= 16;
    if (block.data == nullptr ||
        (!both && (block.size < 8 || (uncompressedMarked && compressedMarked)))) {
        return false;
    }
    const uint64_t first = readLittle(block.data, 8);
    return both ? first == central.fields.uncompressedSize &&
                      readLittle(block.data + 8, 8) == central.fields.compressedSize
                : first == (uncompressedMarked ? central.fields.uncompressedSize
                                               : central.fields.compressedSize);
}

// Reads `count` bytes at `at` through the windows; false when the file has fewer.
bool readAt(ArchiveReader& reader, uint64_t at, unsigned char* out, std::size_t count) {
    return reader.file.seek(static_cast<int64_t>(at), fw::SeekOrigin::begin) >= 0 &&
           reader.file.read(out, count) == static_cast<int64_t>(count);
}

// Reads `count` bytes of the local header of an item whose data holds `dataSize` bytes.
// The data is the reader's own business (ItemData): behind a large item the window is
// kept small; behind a small one it spans the next items' headers too.
bool readLocal(ArchiveReader& reader, uint64_t at, unsigned char* out, std::size_t count,
               uint64_t dataSize) {
    constexpr std::size_t kSmall = 1024;
    const std::size_t fill = dataSize < fw::archive::SeamFile::kBufferSize / 2
                                 ? fw::archive::SeamFile::kBufferSize
                                 : kSmall;
    return reader.file.readAt(at, out, count, fill) == static_cast<int64_t>(count);
}

// Marks `index` and everything after it unreachable.
ArchiveResult lost(ArchiveReader& reader, int32_t index) {
    reader.positionLost = true;
    reader.unreachable = std::min(reader.unreachable, index);
    return AR_BAD_CATALOGUE;
}

// The current item's central information with its stored name; AR_BAD_CATALOGUE when
// it cannot be read.
ArchiveResult currentInfo(ArchiveReader& reader, unz_file_info64& info, char* name,
                          std::size_t nameSize) {
    if (unzGetCurrentFileInfo64(reader.container, &info, name, nameSize, nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
        return lost(reader, reader.currentIndex);
    }
    return AR_OK;
}

// The current item's central entry as it stands in the archive, its Zip64 block
// resolved (quirk 4 in archive/detail/ArchiveReader.h).
ArchiveResult readCentralEntry(ArchiveReader& reader, const unz_file_info64& info,
                               CentralEntry& entry) {
    unsigned char bytes[fw::zip::kCentralHeaderSize];
    const uint64_t at = unzGetOffset64(reader.container) + reader.archiveStart;
    if (!readAt(reader, at, bytes, sizeof bytes) ||
        readLittle(bytes, 4) != fw::zip::kCentralHeaderSignature ||
        readLittle(bytes + fw::zip::central::nameLength, 2) != info.size_filename) {
        return lost(reader, reader.currentIndex);
    }
    entry.stored = entry.fields = fw::zip::decodeCentralZip64Fields(bytes);
    if (!entry.stored.anyMarked()) {
        return AR_OK;
    }
    const auto extraSize = static_cast<std::size_t>(info.size_file_extra);
    std::unique_ptr<unsigned char[]> extra(new (std::nothrow) unsigned char[extraSize + 1]);
    if (!extra || unzGetCurrentFileInfo64(reader.container, nullptr, nullptr, 0, extra.get(),
                                          extraSize, nullptr, 0) != UNZ_OK) {
        return lost(reader, reader.currentIndex);
    }
    const fw::zip::ExtraBlock block =
        fw::zip::findExtraBlock(extra.get(), extraSize, fw::zip::kZip64ExtraId);
    return fw::zip::resolveZip64(entry.fields, block) ? AR_OK : AR_BAD_CATALOGUE;
}

// The stored name as ANSI bytes in `name` (converted into `converted` when it is
// flagged as UTF-8), or the reason it cannot be one.
ArchiveResult ansiName(const unz_file_info64& info, const char* stored, std::string& converted,
                       std::string_view& name) {
    const bool utf8 = (info.flag & fw::zip::kFlagUtf8Name) != 0;
    if (info.size_filename >= (utf8 ? kStoredNameSize : kArchiveNameSize)) {
        return AR_NAME_TOO_LONG;
    }
    name = std::string_view(stored, info.size_filename);
    if (name.find('\0') != std::string_view::npos) {
        return AR_NAME_HAS_NUL;
    }
    if (utf8) {
        // minizip ended the name with a NUL: it fits the buffer.
        if (!fw::os().ansiFromUtf8(stored, converted)) {
            return AR_NAME_NOT_IN_CODE_PAGE;
        }
        if (converted.size() >= kArchiveNameSize) {
            return AR_NAME_TOO_LONG;
        }
        name = converted;
    }
    return AR_OK;
}

}  // namespace

namespace fw::archive {

ArchiveResult positionAt(ArchiveReader& reader, int32_t index) {
    if (!reader.container || index >= reader.unreachable) {
        return AR_BAD_CATALOGUE;
    }
    if (index < reader.currentIndex || reader.positionLost) {
        ++reader.restarts;
        if (unzGoToFirstFile(reader.container) != UNZ_OK) {
            return lost(reader, 0);
        }
        reader.currentIndex = 0;
        reader.positionLost = false;
    }
    while (reader.currentIndex < index) {
        ++reader.steps;
        if (unzGoToNextFile(reader.container) != UNZ_OK) {
            return lost(reader, reader.currentIndex + 1);
        }
        ++reader.currentIndex;
    }
    return AR_OK;
}

ArchiveResult describeCurrent(ArchiveReader& reader) {
    unz_file_info64 info{};
    char stored[kStoredNameSize];
    if (const ArchiveResult read = currentInfo(reader, info, stored, sizeof stored);
        read != AR_OK) {
        return read;
    }
    CentralEntry central;
    if (const ArchiveResult read = readCentralEntry(reader, info, central); read != AR_OK) {
        return read;
    }
    // The record's sizes have 32 bits.
    if (central.fields.compressedSize > UINT32_MAX ||
        central.fields.uncompressedSize > UINT32_MAX) {
        return AR_ITEM_TOO_LARGE;
    }
    std::string converted;
    std::string_view name;
    if (const ArchiveResult named = ansiName(info, stored, converted, name); named != AR_OK) {
        return named;
    }

    const uint64_t headerOffset = reader.archiveStart + central.fields.localHeaderOffset;
    const uint64_t dataSize = central.fields.compressedSize;
    unsigned char header[kLocalHeaderSize];
    if (!readLocal(reader, headerOffset, header, sizeof header, dataSize)) {
        return AR_BAD_LOCAL_HEADER;
    }
    const fw::zip::LocalHeader local = fw::zip::decodeLocalHeader(header);
    if (!localHeaderAgrees(local, info, central)) {
        return AR_BAD_LOCAL_HEADER;
    }
    const std::size_t extraSize = local.extraLength;
    const uint64_t extraStart = headerOffset + kLocalHeaderSize + local.nameLength;
    std::unique_ptr<unsigned char[]> extra;
    if (extraSize > 0) {
        extra.reset(new (std::nothrow) unsigned char[extraSize]);
        if (!extra || !readLocal(reader, extraStart, extra.get(), extraSize, dataSize)) {
            return AR_READ_FAILED;
        }
    }
    if (!zip64SizesAgree(local, central, extra.get(), extraSize)) {
        return AR_BAD_LOCAL_HEADER;
    }

    DescribedItem& described = reader.cachedItem;
    ArchiveItem& item = described.record;
    item = ArchiveItem{};
    item.index = reader.currentIndex;
    cleanItemName(name, item.name, sizeof item.name);
    item.attributes = itemAttributes(static_cast<uint32_t>(info.version),
                                     static_cast<uint32_t>(info.external_fa));
    const ItemTimes times = itemTimes(static_cast<uint32_t>(info.dosDate), extra.get(), extraSize);
    item.lastAccessTime = times.lastAccess;
    item.creationTime = times.creation;
    item.lastWriteTime = times.lastWrite;
    item.compressedSize = static_cast<uint32_t>(central.fields.compressedSize);
    item.uncompressedSize = static_cast<uint32_t>(central.fields.uncompressedSize);
    described.data = ArchiveItemData{reader.file.fileOffset(extraStart + extraSize),
                                     central.fields.compressedSize,
                                     central.fields.uncompressedSize,
                                     static_cast<uint32_t>(info.crc),
                                     static_cast<uint32_t>(info.flag),
                                     static_cast<uint32_t>(info.compression_method),
                                     static_cast<uint32_t>(info.dosDate)};
    reader.cachedIndex = reader.currentIndex;
    return AR_OK;
}

}  // namespace fw::archive

bool IsReaderHandle(ArchiveHandle handle) {
    return handle && handle->kind == kReaderHandleKind && handle->reader;
}

ArchiveHandle OpenArchive(const char* path) {
    if (!path) {
        return nullptr;
    }
    std::unique_ptr<ArchiveReader> reader(new (std::nothrow) ArchiveReader);
    if (!reader) {
        return nullptr;
    }
    fillBaseFolder(*reader);
    if (!reader->file.open(path)) {
        return nullptr;
    }
    const fw::archive::EndRecord end = fw::archive::locateEndRecord(reader->file);
    reader->file.setShift(end.shift);
    reader->archiveStart = end.archiveStart;
    zlib_filefunc64_def io = reader->file.functions();
    reader->container = unzOpen2_64(path, &io);
    if (reader->container) {
        unz_global_info64 global{};
        if (!end.whole || unzGetGlobalInfo64(reader->container, &global) != UNZ_OK) {
            unzClose(reader->container);
            return nullptr;
        }
        reader->itemCount = static_cast<int32_t>(std::min(
            {uint64_t{global.number_entry}, end.directorySize / fw::zip::kCentralHeaderSize,
             uint64_t(std::numeric_limits<int32_t>::max())}));
    } else if (!openArchiveOfNoItems(*reader, path)) {
        return nullptr;
    }
    auto* handle = new (std::nothrow) ArchiveHandleRecord{kReaderHandleKind, reader.get()};
    if (!handle) {
        if (reader->container) {
            unzClose(reader->container);
        }
        return nullptr;
    }
    reader.release();
    return handle;
}

ArchiveResult DescribeArchiveItem(ArchiveHandle handle, int32_t index, DescribedItem& item) {
    ArchiveItem& record = item.record;
    record.index = 0;
    record.name[0] = '\0';
    record.uncompressedSize = 0;
    if (!handle) {
        return AR_BAD_ARGUMENT;
    }
    if (!IsReaderHandle(handle)) {
        return AR_WRONG_KIND;
    }
    ArchiveReader& reader = *handle->reader;
    if (index < -1 || index >= reader.itemCount) {
        return AR_BAD_ARGUMENT;
    }
    if (index == -1) {
        item = DescribedItem{};
        item.record.index = reader.itemCount;
        return AR_OK;
    }
    if (index != reader.cachedIndex) {
        if (const ArchiveResult placed = fw::archive::positionAt(reader, index); placed != AR_OK) {
            return placed;
        }
        if (const ArchiveResult described = fw::archive::describeCurrent(reader);
            described != AR_OK) {
            return described;
        }
    }
    item = reader.cachedItem;
    return AR_OK;
}

ArchiveResult GetArchiveItem(ArchiveHandle handle, int32_t index, ArchiveItem& item) {
    item.index = 0;
    item.name[0] = '\0';
    item.uncompressedSize = 0;
    if (!IsReaderHandle(handle)) {
        return handle ? AR_WRONG_KIND : AR_BAD_ARGUMENT;
    }
    DescribedItem described;
    const ArchiveResult result = DescribeArchiveItem(handle, index, described);
    if (result == AR_OK) {
        item = described.record;
    }
    return result;
}

ArchiveResult GetArchiveItemStoredName(ArchiveHandle handle, int32_t index, std::string& name) {
    name.clear();
    if (!handle) {
        return AR_BAD_ARGUMENT;
    }
    if (!IsReaderHandle(handle)) {
        return AR_WRONG_KIND;
    }
    ArchiveReader& reader = *handle->reader;
    if (index < 0 || index >= reader.itemCount) {
        return AR_BAD_ARGUMENT;
    }
    if (const ArchiveResult placed = fw::archive::positionAt(reader, index); placed != AR_OK) {
        return placed;
    }
    unz_file_info64 info{};
    if (const ArchiveResult read = currentInfo(reader, info, nullptr, 0); read != AR_OK) {
        return read;
    }
    std::string stored(info.size_filename, '\0');
    if (const ArchiveResult read = currentInfo(reader, info, stored.data(), stored.size());
        read != AR_OK) {
        return read;
    }
    name = std::move(stored);
    return AR_OK;
}

ArchiveResult GetArchiveUnpackedSize(ArchiveHandle handle, uint64_t& bytes) {
    bytes = 0;
    if (!handle) {
        return AR_BAD_ARGUMENT;
    }
    if (!IsReaderHandle(handle)) {
        return AR_WRONG_KIND;
    }
    ArchiveReader& reader = *handle->reader;
    for (int32_t index = 0; index < reader.itemCount; ++index) {
        if (const ArchiveResult placed = fw::archive::positionAt(reader, index); placed != AR_OK) {
            return placed;
        }
        unz_file_info64 info{};
        CentralEntry central;
        if (const ArchiveResult read = currentInfo(reader, info, nullptr, 0); read != AR_OK) {
            return read;
        }
        if (const ArchiveResult read = readCentralEntry(reader, info, central); read != AR_OK) {
            return read;
        }
        // Sizes that a damaged directory claims stop at the largest sum there is.
        const uint64_t size = central.fields.uncompressedSize;
        bytes = size > UINT64_MAX - bytes ? UINT64_MAX : bytes + size;
    }
    return AR_OK;
}

ArchiveResult CloseArchive(ArchiveHandle handle) {
    if (!IsReaderHandle(handle)) {
        return handle ? AR_WRONG_KIND : AR_BAD_ARGUMENT;
    }
    ArchiveReader* reader = handle->reader;
    if (reader->container) {
        unzClose(reader->container);  // closes the archive file through the seam
    }
    reader->file.close();
    delete reader;
    delete handle;
    return AR_OK;
}
