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
#include "archive/detail/EndRecord.h"
#include "archive/detail/ItemAttributes.h"
#include "archive/detail/ItemName.h"
#include "archive/detail/ItemTimes.h"
#include "archive/detail/ReaderState.h"
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

// minizip refuses an archive whose end-of-central-directory record starts at byte 0,
// which is exactly an archive of no items. Accept that one when it is well formed.
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

// The local header must agree with the central entry. minizip's own check when it opens
// the item lets a method other than 0 and 8 and local sizes of 0xFFFFFFFF through. A
// size of 0xFFFFFFFF stands for the one in the Zip64 extra block, checked by
// zip64SizesAgree once the extra field is read.
bool localHeaderAgrees(const unsigned char* h, const unz_file_info64& info, uint32_t extraSize) {
    const fw::zip::LocalHeader local = fw::zip::decodeLocalHeader(h);
    const uint64_t method = local.method;
    if (local.signature != fw::zip::kLocalHeaderSignature || method != info.compression_method ||
        (method != 0 && method != 8)) {
        return false;
    }
    const auto sizeAgrees = [](uint64_t inLocal, uint64_t inCentral) {
        return inLocal == kZip64Marker || inLocal == inCentral;
    };
    if (!(local.flags & fw::zip::kFlagDataDescriptor) &&
        (local.crc != info.crc || !sizeAgrees(local.compressedSize, info.compressed_size) ||
         !sizeAgrees(local.uncompressedSize, info.uncompressed_size))) {
        return false;
    }
    return local.nameLength == info.size_filename && local.extraLength == extraSize;
}

// The sizes a local header marks with 0xFFFFFFFF, from its Zip64 extra block: both, the
// uncompressed first, as a local header must hold them; a block of 8 bytes holds the one
// marked (the uncompressed size when both are). They must equal the central entry's.
bool zip64SizesAgree(const unsigned char* h, const unz_file_info64& info,
                     const unsigned char* extra, std::size_t extraSize) {
    const fw::zip::LocalHeader local = fw::zip::decodeLocalHeader(h);
    const bool uncompressedMarked = local.uncompressedSize == kZip64Marker;
    const bool compressedMarked = local.compressedSize == kZip64Marker;
    if ((local.flags & fw::zip::kFlagDataDescriptor) ||
        (!uncompressedMarked && !compressedMarked)) {
        return true;
    }
    constexpr std::size_t kBlockHeader = fw::zip::kExtraBlockHeaderSize;
    for (std::size_t at = 0; at + kBlockHeader <= extraSize;) {
        const uint64_t id = readLittle(extra + at, 2);
        const auto size = static_cast<std::size_t>(readLittle(extra + at + 2, 2));
        const unsigned char* data = extra + at + kBlockHeader;
        if (size > extraSize - at - kBlockHeader) {
            return false;
        }
        if (id == fw::zip::kZip64ExtraId) {
            const bool both = size >= 16;
            if (!both && (size < 8 || (uncompressedMarked && compressedMarked))) {
                return false;
            }
            const uint64_t first = readLittle(data, 8);
            return both ? first == info.uncompressed_size &&
                              readLittle(data + 8, 8) == info.compressed_size
                        : first ==
                              (uncompressedMarked ? info.uncompressed_size : info.compressed_size);
        }
        at += kBlockHeader + size;
    }
    return false;
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
        reader.entry.valid = false;
        ++reader.restarts;
        if (unzGoToFirstFile(reader.container) != UNZ_OK) {
            return lost(reader, 0);
        }
        reader.currentIndex = 0;
        reader.positionLost = false;
    }
    while (reader.currentIndex < index) {
        reader.entry.valid = false;
        ++reader.steps;
        if (unzGoToNextFile(reader.container) != UNZ_OK) {
            return lost(reader, reader.currentIndex + 1);
        }
        ++reader.currentIndex;
    }
    return AR_OK;
}

ArchiveResult describeCurrent(ArchiveReader& reader, ArchiveItem& item) {
    unz_file_info64 info{};
    char stored[kStoredNameSize];
    if (const ArchiveResult read = currentInfo(reader, info, stored, sizeof stored);
        read != AR_OK) {
        return read;
    }
    // 0xFFFFFFFF itself counts: on 64-bit POSIX systems minizip never reads the central
    // Zip64 block (it compares with (unsigned long)-1), so a size marked as Zip64 stays
    // 0xFFFFFFFF there while Windows builds see the real one.
    if (info.compressed_size >= kZip64Marker || info.uncompressed_size >= kZip64Marker) {
        return AR_ITEM_TOO_LARGE;
    }
    std::string converted;
    std::string_view name;
    if (const ArchiveResult named = ansiName(info, stored, converted, name); named != AR_OK) {
        return named;
    }

    // Opening the item raw makes minizip check the local header and tell where the data
    // begins; the header's own position follows from that.
    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(reader.container, &method, &level, 1) != UNZ_OK) {
        return AR_BAD_LOCAL_HEADER;
    }
    const int extraSize = unzGetLocalExtrafield(reader.container, nullptr, 0);
    const uint64_t dataOffset = unzGetCurrentFileZStreamPos64(reader.container);
    unzCloseCurrentFile(reader.container);
    if (extraSize < 0) {
        return AR_READ_FAILED;
    }
    const uint64_t headerBytes = kLocalHeaderSize + info.size_filename + uint64_t(extraSize);
    if (dataOffset < headerBytes) {
        return AR_BAD_LOCAL_HEADER;
    }
    const uint64_t headerOffset = dataOffset - headerBytes;
    unsigned char header[kLocalHeaderSize];
    if (reader.file.seek(static_cast<int64_t>(headerOffset), SeekOrigin::begin) < 0 ||
        reader.file.read(header, sizeof header) != static_cast<int64_t>(sizeof header) ||
        !localHeaderAgrees(header, info, static_cast<uint32_t>(extraSize))) {
        return AR_BAD_LOCAL_HEADER;
    }

    std::unique_ptr<unsigned char[]> extra;
    if (extraSize > 0) {
        extra.reset(new (std::nothrow) unsigned char[static_cast<std::size_t>(extraSize)]);
        const auto at = static_cast<int64_t>(headerOffset + kLocalHeaderSize + info.size_filename);
        if (!extra || reader.file.seek(at, SeekOrigin::begin) < 0 ||
            reader.file.read(extra.get(), static_cast<std::size_t>(extraSize)) != extraSize) {
            return AR_READ_FAILED;
        }
    }
    if (!zip64SizesAgree(header, info, extra.get(), static_cast<std::size_t>(extraSize))) {
        return AR_BAD_LOCAL_HEADER;
    }

    ArchiveItem described;
    described.index = reader.currentIndex;
    cleanItemName(name, described.name, sizeof described.name);
    described.attributes = itemAttributes(static_cast<uint32_t>(info.version),
                                          static_cast<uint32_t>(info.external_fa));
    const ItemTimes times = itemTimes(static_cast<uint32_t>(info.dosDate), extra.get(),
                                      static_cast<std::size_t>(extraSize));
    described.lastAccessTime = times.lastAccess;
    described.creationTime = times.creation;
    described.lastWriteTime = times.lastWrite;
    described.compressedSize = static_cast<uint32_t>(info.compressed_size);
    described.uncompressedSize = static_cast<uint32_t>(info.uncompressed_size);

    item = described;
    reader.cachedItem = described;
    reader.cachedIndex = reader.currentIndex;
    reader.entry.valid = true;
    reader.entry.index = reader.currentIndex;
    reader.entry.data = ItemData{
        info.uncompressed_size, static_cast<uint32_t>(info.crc), static_cast<uint32_t>(info.flag),
        static_cast<uint32_t>(info.compression_method), static_cast<uint32_t>(info.dosDate)};
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
    zlib_filefunc64_def io = reader->file.functions();
    reader->container = unzOpen2_64(path, &io);
    if (reader->container) {
        unz_global_info64 global{};
        if (unzGetGlobalInfo64(reader->container, &global) != UNZ_OK) {
            unzClose(reader->container);
            return nullptr;
        }
        const fw::archive::EndRecord end = fw::archive::readEndRecord(reader->file);
        if (!end.whole) {
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

ArchiveResult GetArchiveItem(ArchiveHandle handle, int32_t index, ArchiveItem& item) {
    item.index = 0;
    item.name[0] = '\0';
    item.uncompressedSize = 0;
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
    if (index != -1 && index == reader.cachedIndex) {
        item = reader.cachedItem;
        return AR_OK;
    }
    if (index == -1) {
        item = ArchiveItem{};
        item.index = reader.itemCount;
        return AR_OK;
    }
    if (const ArchiveResult placed = fw::archive::positionAt(reader, index); placed != AR_OK) {
        return placed;
    }
    return fw::archive::describeCurrent(reader, item);
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
