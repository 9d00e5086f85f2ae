// How the POSIX backend writes and lets go of files: every write is made on the caller's
// thread and returns its outcome, as WriteFile does; nothing is written behind.
//
// Thread contract. These touch nothing but the descriptors they are given: calls for
// different handles may come from several threads at once; calls for one handle come
// from one thread at a time, as calls for one Win32 file handle do. The one piece of
// background work is closeBehind's: a thread of its own closes the descriptor it is
// handed, which nothing else holds.
#pragma once

#include <cstddef>

#include "platform/posix/MappedFiles.h"

namespace fw::posix {

// A mapped write of at least this many bytes has its space reserved first.
inline constexpr std::size_t kReserveFrom = 8 * 1024 * 1024;

// write() until all of `count` is written or a write fails (false, errno set).
bool writeFully(int fd, const void* data, std::size_t count);

// Writes the `count` bytes at `data`, which lie at `span` in a mapped file, at the
// position of `fd`, file to file as far as the kernel goes, advancing the position.
// False (errno set) when any of it could not be written; a disk without room for a
// large one refuses it before anything is written.
bool writeMapped(int fd, const void* data, const FileSpan& span, std::size_t count);

// Closes `fd`, the last descriptor of a large removed file, on a thread of its own: the
// kernel frees the file's storage at that close, which for a large file takes as long as
// writing it. Here, when no thread can be had.
void closeBehind(int fd);

}  // namespace fw::posix
