// Writing whole buffers to a POSIX file descriptor, for the Linux packer and its signing.
#pragma once

#include <cstddef>

namespace fw::pack {

// Writes all `size` bytes, again after a short write or an interrupted call; false on
// any other failure.
bool writeAll(int fd, const void* data, std::size_t size);

}  // namespace fw::pack
