// ExtractArchiveItem: unpacks one item to a target path.
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "archive/ArchiveReader.h"
#include "archive/detail/ItemStream.h"
#include "archive/detail/PathText.h"
#include "archive/detail/ReaderState.h"
#include "platform/Mbcs.h"

using fw::archive::ArchiveReader;

namespace {

using fw::archive::isAbsolutePath;
using fw::archive::joinPath;

ArchiveResult extractFolder(const ArchiveReader& reader, std::string_view target,
                            const char* targetPath) {
    if (isAbsolutePath(target)) {
        if (target.size() >= kArchivePathSize) {
            return AR_PATH_TOO_LONG;
        }
        EnsureFolderPath(nullptr, targetPath);
        return AR_OK;
    }
    char joined[kArchivePathSize];
    if (!reader.baseFolderKnown || !joinPath(joined, {reader.baseFolder, target})) {
        return AR_PATH_TOO_LONG;
    }
    EnsureFolderPath(reader.baseFolder, targetPath);
    return AR_OK;
}

// Composes the output path and ensures its folders; AR_PATH_TOO_LONG before anything is
// created when a path would not fit.
ArchiveResult prepareOutputPath(const ArchiveReader& reader, std::string_view target,
                                char (&output)[kArchivePathSize]) {
    const std::size_t separator = fw::mbcs::rfindSeparator(target);
    const std::size_t nameStart = separator == fw::mbcs::npos ? 0 : separator + 1;
    const std::string_view folder = target.substr(0, nameStart);
    const std::string_view name = target.substr(nameStart);
    const bool absolute = isAbsolutePath(folder);
    if (!absolute && !reader.baseFolderKnown) {
        return AR_PATH_TOO_LONG;
    }
    const bool composed = absolute ? joinPath(output, {folder, name})
                                   : joinPath(output, {reader.baseFolder, folder, name});
    if (!composed) {
        return AR_PATH_TOO_LONG;
    }
    char folderText[kArchivePathSize];
    joinPath(folderText, {folder});  // fits: shorter than the output path
    EnsureFolderPath(absolute ? nullptr : reader.baseFolder, folderText);
    return AR_OK;
}

bool makeBuffer(std::unique_ptr<unsigned char[]>& buffer) {
    if (!buffer) {
        buffer.reset(new (std::nothrow) unsigned char[fw::archive::kPieceSize]);
    }
    return buffer != nullptr;
}

// While an item with Zip64 fields is read, minizip's positions for it are the reader's.
class ArmedItem {
  public:
    ArmedItem(fw::archive::SeamFile& file, const fw::archive::ItemData& data) : file_(file) {
        if (data.zip64) {
            file_.armItem(data.claimedOffset, data.localHeaderOffset, data.dataEnd);
        }
    }
    ~ArmedItem() { file_.disarmItem(); }
    ArmedItem(const ArmedItem&) = delete;
    ArmedItem& operator=(const ArmedItem&) = delete;

  private:
    fw::archive::SeamFile& file_;
};

ArchiveResult copyItemData(ArchiveReader& reader, const ArchiveItem& item, fw::FileHandle out) {
    const fw::archive::ItemData& data = reader.entry.data;
    if (!makeBuffer(reader.extractionBuffer) ||
        (fw::archive::isEncrypted(data) && data.method == Z_DEFLATED &&
         !makeBuffer(reader.rawBuffer))) {
        return AR_INFLATE_FAILED;  // no memory
    }
    const ArmedItem armed(reader.file, data);
    fw::archive::ItemStream stream(reader.container);
    stream.open(data, reader.rawBuffer.get());  // when it fails, the first read reports it
    unsigned char* const buffer = reader.extractionBuffer.get();
    for (;;) {
        const fw::archive::Piece piece = stream.read(buffer, fw::archive::kPieceSize);
        if (piece.count == fw::archive::kReadBadPassword) {
            return AR_BAD_PASSWORD;
        }
        if (piece.count < 0) {
            return AR_INFLATE_FAILED;
        }
        if (piece.count > 0 &&
            !fw::os().writeFile(out, buffer, static_cast<std::size_t>(piece.count))) {
            return AR_WRITE_FAILED;
        }
        if (piece.end) {
            // A CRC-32 that does not match is a failure here, and the file keeps the time
            // of its creation.
            if (!stream.close()) {
                return AR_INFLATE_FAILED;
            }
            fw::os().setFileTimes(out, &item.creationTime, &item.lastAccessTime,
                                  &item.lastWriteTime);
            return AR_OK;
        }
        if (piece.count == 0) {
            return AR_INFLATE_FAILED;  // the data ended before the item's stated size
        }
    }
}

}  // namespace

ArchiveResult ExtractArchiveItem(ArchiveHandle handle, int32_t index, const char* targetPath) {
    if (!handle) {
        return AR_BAD_ARGUMENT;
    }
    if (!IsReaderHandle(handle)) {
        return AR_WRONG_KIND;
    }
    ArchiveReader& reader = *handle->reader;
    if (!targetPath || index < 0 || index >= reader.itemCount) {
        return AR_BAD_ARGUMENT;
    }
    if (const ArchiveResult placed = fw::archive::positionAt(reader, index); placed != AR_OK) {
        return placed;
    }
    ArchiveItem item;
    if (reader.cachedIndex == index && reader.entry.valid && reader.entry.index == index) {
        item = reader.cachedItem;
    } else if (const ArchiveResult described = fw::archive::describeCurrent(reader, item);
               described != AR_OK) {
        return described;
    }

    const std::string_view target(targetPath);
    if (item.attributes & fw::kAttrDirectory) {
        return extractFolder(reader, target, targetPath);
    }
    char output[kArchivePathSize];
    if (const ArchiveResult prepared = prepareOutputPath(reader, target, output);
        prepared != AR_OK) {
        return prepared;
    }
    const fw::FileHandle out = fw::os().createFile(output, item.attributes, false);
    if (out == fw::kInvalidFile) {
        return AR_CANNOT_OPEN;
    }
    ArchiveResult result = copyItemData(reader, item, out);
    // A platform that writes behind reports at the close what it could not write.
    if (!fw::os().closeFile(out) && result == AR_OK) {
        result = AR_WRITE_FAILED;
    }
    return result;
}
