// Writes the archive carried in the executable's payload resource to a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "res/resource.h"

// Bytes ahead of the archive in the payload resource; never read.
inline constexpr std::size_t kPayloadPrefixSize = FERROWICK_PAYLOAD_PREFIX_SIZE;

enum class StagingResult {
    staged,
    payloadNotLoadable,   // missing, not loadable, or too short to hold the prefix
    archiveNotCreatable,  // the file cannot be created or emptied
    archiveNotWritten,    // writing or closing it failed; the partial file is removed
};

// Creates (or empties) `archivePath` and writes the payload's archive into it in one
// piece, straight from the loaded resource. `archiveSize`, when given, receives the
// archive's size once the payload is loaded; `error`, the system's error of a failure
// (0 when the system gave none, as for a payload too short to hold an archive).
StagingResult StagePayload(const char* archivePath, std::size_t* archiveSize = nullptr,
                           uint32_t* error = nullptr);

// The failure notice for a payload that could not be staged, and what to do.
std::string StagingFailureNotice(StagingResult result, uint32_t error, const char* archivePath);

// Why, for the log, with the system's words.
std::string StagingFailureText(StagingResult result, uint32_t error, const char* archivePath);
