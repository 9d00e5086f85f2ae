// ExtractArchiveItem: unpacks one item to a target path.
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "archive/ArchiveReader.h"
#include "archive/detail/ArchiveReader.h"
#include "archive/detail/ItemData.h"
#include "archive/detail/PathText.h"
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

// Unpacks the item's data into `out` in a workspace borrowed from the handle; sets the
// item's times when all of it arrived.
ArchiveResult copyItemData(ArchiveReader& reader, const DescribedItem& item, fw::FileHandle out) {
    std::unique_ptr<fw::archive::Workspace> space = reader.workspaces.take();
    if (!space) {
        return AR_INFLATE_FAILED;  // no memory
    }
    const ArchiveResult result =
        fw::archive::copyItemData(reader.file.handle(), item.data, out, *space);
    reader.workspaces.give(std::move(space));
    if (result == AR_OK) {
        const ArchiveItem& record = item.record;
        fw::os().setFileTimes(out, &record.creationTime, &record.lastAccessTime,
                              &record.lastWriteTime);
    }
    return result;
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
    if (reader.cachedIndex != index) {
        if (const ArchiveResult described = fw::archive::describeCurrent(reader);
            described != AR_OK) {
            return described;
        }
    }
    return ExtractDescribedItem(handle, reader.cachedItem, targetPath);
}

ArchiveResult ExtractDescribedItem(ArchiveHandle handle, const DescribedItem& item,
                                   const char* targetPath) {
    if (!handle) {
        return AR_BAD_ARGUMENT;
    }
    if (!IsReaderHandle(handle)) {
        return AR_WRONG_KIND;
    }
    if (!targetPath) {
        return AR_BAD_ARGUMENT;
    }
    ArchiveReader& reader = *handle->reader;
    const std::string_view target(targetPath);
    if (item.record.attributes & fw::kAttrDirectory) {
        return extractFolder(reader, target, targetPath);
    }
    char output[kArchivePathSize];
    if (const ArchiveResult prepared = prepareOutputPath(reader, target, output);
        prepared != AR_OK) {
        return prepared;
    }
    const fw::FileHandle out = fw::os().createFile(output, item.record.attributes, false);
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

ArchiveResult MakeItemFolders(ArchiveHandle handle, const DescribedItem& item,
                              const char* targetPath) {
    if (!IsReaderHandle(handle)) {
        return handle ? AR_WRONG_KIND : AR_BAD_ARGUMENT;
    }
    if (!targetPath) {
        return AR_BAD_ARGUMENT;
    }
    const ArchiveReader& reader = *handle->reader;
    const std::string_view target(targetPath);
    if (item.record.attributes & fw::kAttrDirectory) {
        return extractFolder(reader, target, targetPath);
    }
    char output[kArchivePathSize];
    return prepareOutputPath(reader, target, output);
}
