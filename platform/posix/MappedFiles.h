// Files mapped read-only into memory, remembered so that writing bytes that still lie
// in such a file can be a copy from file to file in the kernel instead of a write that
// faults the mapping in page by page (the payload resource is hundreds of megabytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace fw::posix {

// Where some mapped bytes are on disk.
struct FileSpan {
    int fd = -1;
    std::uint64_t offset = 0;
};

// Remembers that `size` bytes at `base` are a read-only mapping of `fd` from `offset`.
// The descriptor must stay open, and the mapping in place, for the life of the process.
void noteMappedFile(const void* base, std::size_t size, int fd, std::uint64_t offset);

// The file span of `count` bytes at `data` when they lie wholly in one remembered mapping.
std::optional<FileSpan> mappedFileSpan(const void* data, std::size_t count);

// Copies `count` bytes of `span` to the current position of `out`, advancing it.
// Returns the number of bytes copied; fewer than `count` when the kernel refused or
// failed part-way (errno tells why). The caller writes the rest itself, but after EIO
// (a failed read, or a source that ended early), which writing could only repeat.
std::size_t copyFileSpan(const FileSpan& span, int out, std::size_t count);

}  // namespace fw::posix
