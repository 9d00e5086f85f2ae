#include "app/PayloadStaging.h"

#include "app/File.h"
#include "app/FileErrors.h"
#include "platform/Platform.h"

StagingResult StagePayload(const char* archivePath, std::size_t* archiveSize, uint32_t* error) {
    // Ends with `result`, and the system's error of the failure when one is asked for.
    const auto end = [error](StagingResult result, uint32_t why) {
        if (error != nullptr) {
            *error = why;
        }
        return result;
    };
    char name[] = FERROWICK_PAYLOAD_NAME;
    char type[] = FERROWICK_PAYLOAD_TYPE;
    static_assert(sizeof(name) == 5 && sizeof(type) == 13);

    const fw::Resource payload = fw::os().findResource(name, type);
    // A resource shorter than the prefix holds no archive at all.
    if (!payload.loaded || payload.data == nullptr || payload.size < kPayloadPrefixSize) {
        return end(StagingResult::payloadNotLoadable, payload.loaded ? 0 : fw::os().lastError());
    }
    if (archiveSize != nullptr) {
        *archiveSize = payload.size - kPayloadPrefixSize;
    }

    CFile archive;
    if (!archive.Open(archivePath, CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary)) {
        return end(StagingResult::archiveNotCreatable, fw::os().lastError());
    }
    const bool written =
        archive.Write(payload.data + kPayloadPrefixSize, payload.size - kPayloadPrefixSize);
    uint32_t why = written ? 0 : fw::os().lastError();
    const bool closed = archive.Close();
    if (written && !closed) {
        why = fw::os().lastError();
    }
    if (!written || !closed) {
        // A truncated archive must not be unpacked as if it were the installer set.
        fw::os().removeFile(archivePath);
        return end(StagingResult::archiveNotWritten, why);
    }
    return end(StagingResult::staged, 0);
}

std::string StagingFailureNotice(StagingResult result, uint32_t error, const char* archivePath) {
    const std::string head = "The installation files could not be prepared.\n\n";
    if (result == StagingResult::payloadNotLoadable) {
        return head +
               "The installation archive could not be loaded from this program, which may "
               "be damaged.\n\nThe set-up program has not been started. Please get a new copy "
               "of this program.";
    }
    return head + "The installation archive could not be written to " + archivePath + ": " +
           ReasonFor(error) +
           ".\n\nThe set-up program has not been started. Please free some disk space, close "
           "any other set-up windows, and then run this program again.";
}

std::string StagingFailureText(StagingResult result, uint32_t error, const char* archivePath) {
    if (result == StagingResult::payloadNotLoadable) {
        return "the installer set could not be loaded from the program: " +
               (error != 0 ? SystemWords(error)
                           : "the payload resource is missing or too short to hold an archive");
    }
    return std::string(archivePath) + " could not be written: " + SystemWords(error);
}
