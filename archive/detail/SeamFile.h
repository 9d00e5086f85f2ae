// minizip's file access over the platform seam, with the reader's one cache of the
// archive: two read windows.
//
// minizip reads the central directory a few bytes at a time and seeks before every read;
// a window turns those into one platform read per window. Two windows, refilled least
// recently used first, keep the directory's entries apart from whatever else the reader
// looks at between them. Reads go to the platform at offsets (readFileAt), so they leave
// the file pointer alone and other threads may read the same handle meanwhile.
//
// Positions are minizip's: the file's own, less `shift` bytes ahead of the archive that
// minizip must not count (quirk 3 in archive/detail/ArchiveReader.h).
#pragma once

#include <unzip.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Platform.h"

namespace fw::archive {

class SeamFile {
  public:
    // Chosen by measurement (ferrowick-unpack on the 244 MB installer-shaped payload,
    // bench/README.md): two windows of 64 KB against one of 64 KB (5.9% slower), two of
    // 16 KB (2.4%), 128 KB (14%) or 256 KB (15%), and one of 256 KB (57%).
    static constexpr std::size_t kBufferSize = 64 * 1024;
    static constexpr std::size_t kWindows = 2;

    SeamFile() = default;
    SeamFile(const SeamFile&) = delete;
    SeamFile& operator=(const SeamFile&) = delete;
    ~SeamFile() { close(); }

    // Opens `path` for reading through the seam, unshifted; false when the platform
    // refuses or memory runs out.
    bool open(const char* path);
    bool isOpen() const { return handle_ != kInvalidFile; }
    // Closes the file if it is open; idempotent.
    void close();

    // Reads up to `count` bytes at the current position: the count delivered (short only
    // at the end of the file), or -1 when the platform reports a failure.
    std::int64_t read(void* buffer, std::size_t count);
    // Reads up to `count` bytes at position `at`, as read does after a seek there, but a
    // window it has to fill spans at most `fill` bytes (and at least `count`): for a local
    // header, whose item's data the reader reads on its own.
    std::int64_t readAt(std::uint64_t at, void* buffer, std::size_t count, std::size_t fill);
    // Moves the logical position; -1 on failure (a negative result or no file size).
    std::int64_t seek(std::int64_t offset, SeekOrigin origin);
    std::uint64_t tell() const { return position_; }
    bool failed() const { return failed_; }

    // From now on, position 0 is the file's byte `shift`.
    void setShift(std::uint64_t shift) { shift_ = shift; }
    // The file offset of position `at`.
    std::uint64_t fileOffset(std::uint64_t at) const { return at + shift_; }
    FileHandle handle() const { return handle_; }

    // The table handed to unzOpen2_64; its opaque pointer is this object, whose open
    // callback keeps the file already open, or opens the path it is given.
    zlib_filefunc64_def functions();

  private:
    std::int64_t readFile(unsigned char* out, std::size_t count, std::uint64_t at,
                          std::size_t fill);
    // One platform read of up to `count` bytes at the file offset `at`; -1 on failure.
    std::int64_t readPlatform(unsigned char* out, std::size_t count, std::uint64_t at);

    struct Window {
        std::uint64_t start = 0;
        std::size_t length = 0;
        std::unique_ptr<unsigned char[]> bytes;
    };

    FileHandle handle_ = kInvalidFile;
    std::uint64_t position_ = 0;  // minizip's position that the next read starts at
    std::uint64_t shift_ = 0;
    Window windows_[kWindows];
    std::size_t recent_ = 0;  // the window used last
    bool failed_ = false;
    // Where a read found the end of the file. The file is opened for reading and shared
    // with readers only, so it cannot grow: later reads there need not ask the platform.
    std::uint64_t end_ = UINT64_MAX;
};

}  // namespace fw::archive
