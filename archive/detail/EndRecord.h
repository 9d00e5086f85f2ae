// The end-of-central-directory record that minizip opened the archive by, found the way
// minizip finds it, for what minizip does not tell: whether the record is whole, and
// how large the central directory is.
#pragma once

#include <cstdint>

#include "archive/detail/SeamFile.h"

namespace fw::archive {

struct EndRecord {
    // False when the record's fixed fields run past the end of the file: minizip reads
    // the missing bytes as zeros, so a cut record would pass for an archive of no items.
    bool whole = false;
    std::uint64_t directorySize = 0;
};

// The Zip64 end record when a valid locator leads to one, else the last end record in
// the file's final 65,535 bytes. `file` must be the archive minizip has just opened.
EndRecord readEndRecord(SeamFile& file);

}  // namespace fw::archive
