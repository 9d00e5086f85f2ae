#include "app/PayloadStaging.h"

#include "app/File.h"
#include "platform/Platform.h"

StagingResult StagePayload(const char* archivePath, std::size_t* archiveSize, uint32_t* error) {
    char name[] = FERROWICK_PAYLOAD_NAME;
    char type[] = FERROWICK_PAYLOAD_TYPE;
    static_assert(sizeof(name) == 5 && sizeof(type) == 13);

    const fw::Resource payload = fw::os().findResource(name, type);
    // A resource shorter than the prefix holds no archive at all.
    if (!payload.loaded || payload.data == nullptr || payload.size < kPayloadPrefixSize) {
        return StagingResult::payloadNotLoadable;
    }
    if (archiveSize != nullptr) {
        *archiveSize = payload.size - kPayloadPrefixSize;
    }

    CFile archive;
    if (!archive.Open(archivePath, CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary)) {
        if (error != nullptr) {
            *error = fw::os().lastError();
        }
        return StagingResult::archiveNotCreatable;
    }
    const bool written =
        archive.Write(payload.data + kPayloadPrefixSize, payload.size - kPayloadPrefixSize);
    if (!written && error != nullptr) {
        *error = fw::os().lastError();
    }
    const bool closed = archive.Close();
    if (written && !closed && error != nullptr) {
        *error = fw::os().lastError();
    }
    if (!written || !closed) {
        // A truncated archive must not be unpacked as if it were the installer set.
        fw::os().removeFile(archivePath);
        return StagingResult::archiveNotWritten;
    }
    return StagingResult::staged;
}
