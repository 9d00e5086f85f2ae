// A large write of mapped bytes (the payload staged out of the executable) copied into
// its file on a thread of its own, so that the caller goes on while the kernel copies.
//
// The file's space is reserved before the write returns, so a full disk is still the
// write's own failure. The write then counts as done: the handle may be closed and the
// file opened again. Reads through this backend's read-only handles wait for the bytes
// they ask for (the end of the file, where an archive's directory lies, is copied
// first); everything else that uses the file by name, and exit, waits for the copy to
// end. Other processes may see the reserved space still empty for as long as it lasts.
// A copy that fails later (an I/O error) fails the reads that wait for its bytes.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

#include "platform/posix/MappedFiles.h"

namespace fw::posix::backgroundCopy {

// Smaller writes are made at once: the thread would cost more than it saves.
inline constexpr std::size_t kLeast = 8 * 1024 * 1024;
// Copied first: where an archive's end records and directory are.
inline constexpr std::size_t kTail = 1024 * 1024;

enum class Start {
    started,     // under way; the position of `fd` is past the bytes
    notStarted,  // nothing done: the caller writes the bytes itself
    failed,      // refused (errno set), as the write itself would have been
};

// Copies `count` bytes of `span` to `fd` at its position, in the background.
Start start(int fd, const FileSpan& span, std::size_t count);

// True while the file `info` describes is being copied into.
bool copying(const struct stat& info);

// Waits until bytes [from, to) of the file that `info` describes are in place. False
// (errno set) when the copy failed before it placed them.
bool await(const struct stat& info, std::uint64_t from, std::uint64_t to);

// Waits for the copy under way, if any, to end.
void finish();

// Waits for it when it copies into the file that `info` describes (links followed).
void finishFor(const struct stat& info);

// Waits for it when `fd` is the handle that started it and is still open; forgets `fd`
// when it is closed.
void finishForHandle(int fd);
void forgetHandle(int fd);

}  // namespace fw::posix::backgroundCopy
