// What a reader handle holds: the open archive, the current item, the one-item cache,
// the base folder and the workspaces. Shared by the catalogue and the extraction.
//
// minizip's quirks, which the reader works around where the numbers are cited:
// 1. unzOpen refuses an archive whose end-of-central-directory record starts at the
//    file's first byte, which is exactly a well-formed archive of no items.
// 2. It reads the missing bytes of an end record (or Zip64 end record) cut short by the
//    file's end as zeros, so a cut record passes for an archive of no items.
// 3. It takes a Zip64 locator's offset as a file offset, so it cannot open a Zip64
//    archive behind a stub whose locator counts from the archive's start; such a file
//    is read shifted by the stub's size.
// 4. On 64-bit POSIX systems it never reads a central entry's Zip64 extra block (it
//    compares the 32-bit fields with (unsigned long)-1), while Windows builds do: the
//    reader takes sizes and offsets from the entry's own bytes, so both read alike.
// The item data never goes through minizip: the reader reads, inflates and checks it.
#pragma once

#include <unzip.h>

#include <cstdint>

#include "archive/ArchiveReader.h"
#include "archive/detail/ItemData.h"
#include "archive/detail/SeamFile.h"

namespace fw::archive {

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
    // The item last described, and its index (-1 while none has been).
    DescribedItem cachedItem;
    int32_t cachedIndex = -1;
    Workspaces workspaces;
    char baseFolder[kArchivePathSize] = {};
    bool baseFolderKnown = false;  // false: no usable current directory at opening
    // How often the container stepped to the next item, and went back to the first one.
    uint64_t steps = 0;
    uint64_t restarts = 0;
};

// Makes item `index` current (0 <= index < itemCount), stepping forward only.
ArchiveResult positionAt(ArchiveReader& reader, int32_t index);

// Describes the current item into the cache: its central entry with the Zip64 block
// resolved, its name, its local header checked against the entry, its attributes and
// times, and where its data lies.
ArchiveResult describeCurrent(ArchiveReader& reader);

}  // namespace fw::archive
