// The handle, the positioning with its one-record cache, and the item descriptions.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "archive/ArchiveReader.h"
#include "archive/ItemAttributes.h"
#include "archive/ItemName.h"
#include "archive/ItemTimes.h"
#include "archive/ReaderState.h"
#include "platform/Mbcs.h"

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kEndOfDirectorySignature = 0x06054b50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kEndOfDirectorySize = 22;
constexpr uint32_t kFlagDataDescriptor = 0x8;

uint32_t little(const unsigned char* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}

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
    unsigned char record[kEndOfDirectorySize];
    if (reader.file.read(record, sizeof record) != static_cast<int64_t>(sizeof record)) {
        reader.file.close();
        return false;
    }
    const bool empty = little(record, 4) == kEndOfDirectorySignature &&
                       std::all_of(record + 4, record + 20, [](unsigned char b) { return b == 0; });
    const int64_t size = reader.file.seek(0, fw::SeekOrigin::end);
    if (!empty || size != static_cast<int64_t>(kEndOfDirectorySize + little(record + 20, 2))) {
        reader.file.close();
        return false;
    }
    return true;
}

bool matches(uint32_t local, uint64_t central) {
    return local == (central >= 0xFFFFFFFF ? 0xFFFFFFFF : central);
}

// The local header must agree with the central entry. minizip's own check when it opens
// the item lets a method other than 0 and 8 and local sizes of 0xFFFFFFFF through.
bool localHeaderAgrees(const unsigned char* h, const unz_file_info64& info, uint32_t extraSize) {
    const uint32_t flags = little(h + 6, 2);
    const uint32_t method = little(h + 8, 2);
    if (little(h, 4) != kLocalHeaderSignature || method != info.compression_method ||
        (method != 0 && method != 8)) {
        return false;
    }
    if (!(flags & kFlagDataDescriptor) &&
        (little(h + 14, 4) != info.crc || !matches(little(h + 18, 4), info.compressed_size) ||
         !matches(little(h + 22, 4), info.uncompressed_size))) {
        return false;
    }
    return little(h + 26, 2) == info.size_filename && little(h + 28, 2) == extraSize;
}

}  // namespace

namespace fw::archive {

ArchiveResult positionAt(ArchiveReader& reader, int32_t index) {
    if (!reader.container) {
        return AR_BAD_CATALOGUE;
    }
    if (index < reader.currentIndex || reader.positionLost) {
        reader.entry.valid = false;
        ++reader.restarts;
        if (unzGoToFirstFile(reader.container) != UNZ_OK) {
            reader.positionLost = true;
            return AR_BAD_CATALOGUE;
        }
        reader.currentIndex = 0;
        reader.positionLost = false;
    }
    while (reader.currentIndex < index) {
        reader.entry.valid = false;
        ++reader.steps;
        if (unzGoToNextFile(reader.container) != UNZ_OK) {
            reader.positionLost = true;
            return AR_BAD_CATALOGUE;
        }
        ++reader.currentIndex;
    }
    return AR_OK;
}

ArchiveResult describeCurrent(ArchiveReader& reader, ArchiveItem& item) {
    unz_file_info64 info{};
    char stored[kArchiveNameSize];
    if (unzGetCurrentFileInfo64(reader.container, &info, stored, sizeof stored, nullptr, 0, nullptr,
                                0) != UNZ_OK) {
        reader.positionLost = true;
        return AR_BAD_CATALOGUE;
    }
    if (info.size_filename >= kArchiveNameSize) {
        return AR_NAME_TOO_LONG;
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

    ArchiveItem described;
    described.index = reader.currentIndex;
    cleanItemName(std::string_view(stored, strnlen(stored, info.size_filename)), described.name,
                  sizeof described.name);
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
        reader->itemCount = static_cast<int32_t>(
            std::min<uint64_t>(global.number_entry, uint64_t(std::numeric_limits<int32_t>::max())));
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
