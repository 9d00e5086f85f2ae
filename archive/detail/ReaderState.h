// What a reader handle holds: the open archive, the current item, the one-record
// cache, the base folder and the buffers. Shared by the catalogue and the extraction.
#pragma once

#include <unzip.h>

#include <cstdint>
#include <memory>

#include "archive/ArchiveReader.h"
#include "archive/detail/ItemStream.h"
#include "archive/detail/SeamFile.h"

namespace fw::archive {

// What the last successful description learnt of the current item beyond its record.
struct CurrentEntry {
    bool valid = false;
    int32_t index = -1;
    ItemData data;
};

struct ArchiveReader {
    SeamFile file;
    unzFile container = nullptr;  // null only for an archive of no items
    // Where the archive starts in the file as minizip reads it: the central directory's
    // offsets count from here.
    uint64_t archiveStart = 0;
    int32_t itemCount = 0;
    int32_t currentIndex = 0;
    // Set when a step or the central information failed: the next positioning starts
    // again from the first item instead of trusting the container's position.
    bool positionLost = false;
    // The first index that could not be reached; every index from there on fails at
    // once instead of walking the directory again to the same failure.
    int32_t unreachable = INT32_MAX;
    ArchiveItem cachedItem;
    int32_t cachedIndex = -1;
    CurrentEntry entry;
    std::unique_ptr<unsigned char[]> extractionBuffer;  // made by the first file extraction
    // Raw input of an encrypted deflated item, which minizip cannot inflate for us; made
    // by the first such extraction.
    std::unique_ptr<unsigned char[]> rawBuffer;
    char baseFolder[kArchivePathSize] = {};
    bool baseFolderKnown = false;  // false: no usable current directory at opening
    // How often the container stepped to the next item, and went back to the first one.
    uint64_t steps = 0;
    uint64_t restarts = 0;
};

// Makes item `index` current (0 <= index < itemCount), stepping forward only.
ArchiveResult positionAt(ArchiveReader& reader, int32_t index);

// Describes the current item into `item` and the cache: its central entry with the Zip64
// block resolved, its name, its local header checked against the entry, its attributes
// and times, and what extracting its data needs.
ArchiveResult describeCurrent(ArchiveReader& reader, ArchiveItem& item);

}  // namespace fw::archive
