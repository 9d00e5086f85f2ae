// The archive reader: a small handle-based interface over one ZIP file on disk.
//
// Open an archive, count and describe its items, unpack one item to a path, close it.
// The container is read through minizip and inflated through zlib; the handle, the
// positioning and its one-record cache, the name clean-up, attributes, time stamps,
// folder creation and output files are the reader's own. It throws nothing, shows
// nothing and leaves on disk whatever it wrote before a failure: the result code is
// its only report.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

using ArchiveResult = uint32_t;

inline constexpr ArchiveResult AR_OK = 0;
// The output file of an extraction was not created.
inline constexpr ArchiveResult AR_CANNOT_OPEN = 0x200;
// Writing the output file failed.
inline constexpr ArchiveResult AR_WRITE_FAILED = 0x400;
// The central directory is damaged: the reader could not step to the item, or could not
// read the item's central-directory entry.
inline constexpr ArchiveResult AR_BAD_CATALOGUE = 0x600;
// The item's local header cannot be read, or disagrees with its central-directory entry.
inline constexpr ArchiveResult AR_BAD_LOCAL_HEADER = 0x700;
// Positioning at, or reading, the item's local extra field failed.
inline constexpr ArchiveResult AR_READ_FAILED = 0x800;
// The stored name has 260 bytes or more and does not fit the record's `name`.
inline constexpr ArchiveResult AR_NAME_TOO_LONG = 0x900;
// A path the extraction composed would be longer than 259 characters; nothing is created.
inline constexpr ArchiveResult AR_PATH_TOO_LONG = 0xA00;
// The password check of an encrypted item failed.
inline constexpr ArchiveResult AR_BAD_PASSWORD = 0x1000;
// The handle is absent, or the index is out of range.
inline constexpr ArchiveResult AR_BAD_ARGUMENT = 0x10000;
// The handle is not a reader handle.
inline constexpr ArchiveResult AR_WRONG_KIND = 0x80000;
// Reading or inflating an item's data failed, the data ended before the item's stated
// size, or its CRC-32 does not match.
inline constexpr ArchiveResult AR_INFLATE_FAILED = 0x5000000;

inline constexpr int kArchiveNameSize = 260;  // the record's name buffer, NUL included
inline constexpr int kArchivePathSize = 260;  // every composed path, NUL included

// The record that describes one item.
struct ArchiveItem {
    int32_t index = 0;                // the item's number; for the count query, the count
    char name[kArchiveNameSize] = {};  // cleaned name, NUL-terminated, ANSI code page
    uint32_t attributes = 0;          // Win32 attribute bits 0x01 0x02 0x04 0x10 0x20
    fw::FileTime lastAccessTime;      // UTC
    fw::FileTime creationTime;        // UTC
    fw::FileTime lastWriteTime;       // UTC
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
};

struct ArchiveReader;

// What an ArchiveHandle points at. `kind` 1 marks a reader handle.
struct ArchiveHandleRecord {
    int32_t kind = 0;
    ArchiveReader* reader = nullptr;
};

// Held by the caller as an opaque pointer; the absent handle is null.
using ArchiveHandle = ArchiveHandleRecord*;

inline constexpr int32_t kReaderHandleKind = 1;

// Opens the ZIP file at `path` with its first item current, or gives the absent handle.
// The process's current directory at this moment becomes the base folder that relative
// extraction targets are put below.
ArchiveHandle OpenArchive(const char* path);

// Index -1: puts the item count in `item.index`. Otherwise describes item `index`.
// `index`, the first byte of `name` and `uncompressedSize` are cleared before any check.
ArchiveResult GetArchiveItem(ArchiveHandle handle, int32_t index, ArchiveItem& item);

// Unpacks item `index` to `targetPath`, creating every missing folder on the way.
ArchiveResult ExtractArchiveItem(ArchiveHandle handle, int32_t index, const char* targetPath);

// Releases the handle, its reader and the archive file.
ArchiveResult CloseArchive(ArchiveHandle handle);

// True when `handle` is present and its kind is 1.
bool IsReaderHandle(ArchiveHandle handle);

// Makes sure the folder `path` exists, creating missing levels from the shallowest down.
// `baseFolder` (null, or a text ending in a separator) is put in front of every level
// and is itself created first when missing. A level that would be longer than 259
// characters is neither tested nor created.
void EnsureFolderPath(const char* baseFolder, const char* path);
