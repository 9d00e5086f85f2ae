// Reads of files opened for reading only, served from a window of the file read in one
// system call once the reads go forward in sequence (the archive reader's pieces of
// 16 KB each cost a system call apiece otherwise). A read that jumps elsewhere, such as
// to a directory entry, reads just what it asks for and leaves the window as it is, so
// coming back into the window costs nothing.
//
// Such a handle's file is shared with readers only while it is open, so what the
// window holds stays true (a file still being copied into is read only where the copy
// has been). Positions are kept here; the descriptor is read with pread().
// Calls for one handle come from one thread at a time, as calls for one file handle do.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fw::posix::readAhead {

inline constexpr std::size_t kWindowSize = 64 * 1024;

// Takes `fd`, just opened for reading only, into account. `copying`: its file is being
// copied into in the background, and each read waits for the bytes it asks for.
void open(int fd, bool copying = false);

// Forgets `fd`, for a handle about to be closed.
void forget(int fd);

// ReadFile on a handle taken into account: false when `fd` is not one. `result` is the
// count read, short only at the end of the file, or -1 (errno set) when nothing could
// be read.
bool read(int fd, void* buffer, std::size_t count, std::int64_t& result);

// SetFilePointer on a handle taken into account (`whence` as for lseek): false when
// `fd` is not one. `result` is the new position, or -1 (errno set).
bool seek(int fd, std::int64_t offset, int whence, std::int64_t& result);

}  // namespace fw::posix::readAhead
