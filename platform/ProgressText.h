// What a progress display says, the same wherever it is drawn: the launcher's window, its
// line on a terminal and the unpack tool's bar.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Platform.h"

namespace fw {

// "412 of 1959 items, 103 of 488 MB": the bytes in megabytes of 1,048,576 bytes (in
// kilobytes of 1024 while the whole is below one megabyte, in bytes below one kilobyte),
// both rounded alike, so that the end reads as the whole.
std::string progressCounts(const Progress& done, const Progress& total);

// How much is done, in thousandths: by bytes, or by items when there are no bytes; 1000
// once every item is done, and never more.
unsigned progressPermille(const Progress& done, const Progress& total);

// A bar of `width` cells between brackets: '#' for what is done, '.' for the rest.
std::string progressBar(unsigned permille, std::size_t width);

}  // namespace fw
