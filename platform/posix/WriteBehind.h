// Writes to files, gathered into large blocks; full blocks are written by a worker
// thread while the caller goes on (for the archive reader: inflating the next pieces
// on another core while the kernel copies the last ones into the page cache). A file's
// last, partial block is written on the caller's thread when the file is settled, which
// every other call on its handle does first; so small files never wait for the worker.
//
// A write that fails on the worker is reported by the next call on that handle that
// writes or settles it, and by its close; the handle's later blocks are not written.
// What was given lands at exit() even without a close.
// Calls for one handle come from one thread at a time, as calls for one file handle do.
//
// The worker also closes the last descriptors of removed files, whose storage the
// kernel frees at that close: for a large file that takes as long as writing it.
#pragma once

#include <cstddef>

namespace fw::posix::writeBehind {

// Chosen by measurement: with four 512 KB blocks the archive reader took about a tenth
// longer on a 244 MB archive.
inline constexpr std::size_t kBlockSize = 64 * 1024;
inline constexpr std::size_t kBlocks = 16;

// Takes `fd`, just opened for writing, into account; only such handles are written.
void open(int fd);

// Takes `count` bytes for the end of what `fd` has been given. False (with errno) when
// an earlier write of `fd` failed, or `fd` was not opened for writing.
bool write(int fd, const void* data, std::size_t count);

// Waits until everything given for `fd` is in the file. False (with errno) when any of
// it could not be written.
bool settle(int fd);

// Settles `fd` and forgets it, for a handle about to be closed.
bool finish(int fd);

// Settles every handle: before a file is opened or run by its name.
void settleAll();

// Closes `fd` on the worker (or here, when no worker can run); its errors are not
// looked at. For a descriptor only read from.
void closeLater(int fd);

// write() until all of `count` is written or a write fails (false, errno set).
bool writeFully(int fd, const void* data, std::size_t count);

}  // namespace fw::posix::writeBehind
