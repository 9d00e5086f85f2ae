// The end-of-central-directory record that minizip will open the archive by, found the
// way minizip finds it, for what minizip does not tell: whether the record is whole,
// how large the central directory is, and where the archive starts in the file.
#pragma once

#include <cstdint>

#include "archive/detail/SeamFile.h"

namespace fw::archive {

struct EndRecord {
    // False when the record's fixed fields run past the end of the file: a cut record
    // would pass for an archive of no items (quirk 2 in archive/detail/ArchiveReader.h).
    bool whole = false;
    std::uint64_t directorySize = 0;
    // Bytes ahead of an archive whose Zip64 locator counts from the archive's start
    // (a self-extractor's stub): the file is read shifted by this many bytes for minizip
    // to find the record (quirk 3 in archive/detail/ArchiveReader.h).
    std::uint64_t shift = 0;
    // Where the archive starts in the file as read shifted, as minizip derives it (the
    // end record's position less the central directory's size and offset): every offset
    // of the central directory counts from here.
    std::uint64_t archiveStart = 0;
};

// The Zip64 end record when the last locator in the file's final 65,535 bytes leads to
// one (at its offset, or else immediately before the locator), else the last end
// record there. `file` must be open and not shifted.
EndRecord locateEndRecord(SeamFile& file);

}  // namespace fw::archive
