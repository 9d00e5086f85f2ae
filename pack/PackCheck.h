// The payload as the launcher will see it: its own archive reader and its own rules run
// over every item, nothing unpacked anywhere (the reader's files go to a table of the
// platform seam that keeps nothing).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/Packer.h"

namespace fw::pack {

struct CheckReport {
    std::vector<std::string> plan;      // what the launcher will do, a line each
    std::vector<std::string> problems;  // what stops it, a line each with the item
    int32_t items = 0;
    bool clean() const { return problems.empty(); }
};

// Checks the ZIP archive of `size` bytes that `readAt` reads, for a launcher whose ANSI
// code page is `codePage`. Runs on the caller's thread, and puts its own platform table
// in force only while it runs.
CheckReport checkPayload(const ReadAt& readAt, uint64_t size, uint32_t codePage);

}  // namespace fw::pack
