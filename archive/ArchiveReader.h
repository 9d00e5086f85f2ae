// The archive reader: a small handle-based interface over one ZIP file on disk.
//
// Open an archive, count and describe its items, unpack one item to a path, close it.
// minizip keeps the catalogue (the central directory); the reader reads each item's data
// itself, with positioned reads, and inflates it and checks its CRC-32 with ISA-L. The
// handle, the positioning and its one-item cache, the name clean-up, attributes, time
// stamps, folder creation and output files are the reader's own. It throws nothing,
// shows nothing and leaves on disk whatever it wrote before a failure: the result code
// is its only report.
//
// Threads: a handle serves one thread at a time, but for ExtractDescribedItem, which
// several threads may call at once on one handle, each for an item of its own.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "platform/Platform.h"

// What a call of the reader reports: an unscoped enum, so that results compare and
// convert as the numbers they are.
enum ArchiveResult : uint32_t {
    AR_OK = 0,
    // The output file of an extraction was not created.
    AR_CANNOT_OPEN = 0x200,
    // Writing the output file failed: a write, or the close that completes the writes.
    AR_WRITE_FAILED = 0x400,
    // The central directory is damaged: the reader could not step to the item, or could not
    // read the item's central-directory entry, or a step before the item failed.
    AR_BAD_CATALOGUE = 0x600,
    // The item's local header cannot be read, or disagrees with its central-directory entry.
    AR_BAD_LOCAL_HEADER = 0x700,
    // Positioning at, or reading, the item's local extra field failed.
    AR_READ_FAILED = 0x800,
    // The stored name has 260 bytes or more and does not fit the record's `name`.
    AR_NAME_TOO_LONG = 0x900,
    // A path the extraction composed would be longer than 259 characters; nothing is created.
    AR_PATH_TOO_LONG = 0xA00,
    // A size of the item is 4 GiB or more (given in a Zip64 block of the central entry): it
    // does not fit the record's sizes.
    AR_ITEM_TOO_LARGE = 0xB00,
    // The stored name holds a NUL byte: cut there, it could name another item's file.
    AR_NAME_HAS_NUL = 0xC00,
    // The name is flagged as UTF-8 (bit 11 of the general-purpose flags) and is no valid
    // UTF-8, or holds a character that the ANSI code page cannot express.
    AR_NAME_NOT_IN_CODE_PAGE = 0xD00,
    // The password check of an encrypted item failed.
    AR_BAD_PASSWORD = 0x1000,
    // The handle is absent, or the index is out of range.
    AR_BAD_ARGUMENT = 0x10000,
    // The handle is not a reader handle.
    AR_WRONG_KIND = 0x80000,
    // Reading or inflating an item's data failed, the data ended before the item's stated
    // size, or its CRC-32 does not match.
    AR_INFLATE_FAILED = 0x5000000,
};

// A result put into words: its enumerator's name ("AR_BAD_CATALOGUE"); what the
// launcher's failure notice says of an item that ended with it, to whoever installs; and
// what the packer's check says of it, to whoever packs. The packer's words for
// AR_NAME_NOT_IN_CODE_PAGE end with "code page", for the number to follow. For a value
// that no result has, the name is null.
struct ArchiveResultWords {
    const char* name;
    const char* forInstaller;
    const char* forPackager;
};
ArchiveResultWords ArchiveResultWording(ArchiveResult result);

// The enumerator's name, or null for a value that is none.
const char* ArchiveResultName(ArchiveResult result);

// How a test prints a result: its name, or the number when it has none.
void PrintTo(ArchiveResult result, std::ostream* out);

inline constexpr int kArchiveNameSize = 260;  // the record's name buffer, NUL included
inline constexpr int kArchivePathSize = 260;  // every composed path, NUL included

// The record that describes one item.
struct ArchiveItem {
    int32_t index = 0;                 // the item's number; for the count query, the count
    char name[kArchiveNameSize] = {};  // cleaned name, NUL-terminated, ANSI code page
    uint32_t attributes = 0;           // Win32 attribute bits 0x01 0x02 0x04 0x10 0x20
    fw::FileTime lastAccessTime;       // UTC
    fw::FileTime creationTime;         // UTC
    fw::FileTime lastWriteTime;        // UTC
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
};

// Where an item's data lies and how it is kept: what describing an item learns beyond
// its record, and all that unpacking its data needs.
struct ArchiveItemData {
    uint64_t dataOffset = 0;  // in the archive file, past the local header
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t crc = 0;
    uint32_t flags = 0;  // general-purpose flags
    uint32_t method = 0;
    uint32_t dosDateTime = 0;  // time in the low half: the check of an encrypted item
};

// An item described, ready to be unpacked on any thread.
struct DescribedItem {
    ArchiveItem record;
    ArchiveItemData data;
};

namespace fw::archive {
struct ArchiveReader;  // the reader's own state (archive/detail/ArchiveReader.h)
}

// What an ArchiveHandle points at. `kind` 1 marks a reader handle.
struct ArchiveHandleRecord {
    int32_t kind = 0;
    fw::archive::ArchiveReader* reader = nullptr;
};

// Held by the caller as an opaque pointer; the absent handle is null.
using ArchiveHandle = ArchiveHandleRecord*;

inline constexpr int32_t kReaderHandleKind = 1;

// Opens the ZIP file at `path` with its first item current, or gives the absent handle.
// Data ahead of the archive (a self-extractor's stub) is skipped, also where a Zip64
// locator counts its offset from the archive's start.
// The process's current directory at this moment becomes the base folder that relative
// extraction targets are put below. When the current directory cannot be had, or does
// not fit 259 characters with its separator, the archive still opens; every relative
// target then gives AR_PATH_TOO_LONG. An archive that is nothing but an empty
// end-of-central-directory record (at the very first byte) opens with the count 0; one
// whose end record (or Zip64 end record) is cut short does not open.
//
// The count is the end record's, but never more than the central directory's size can
// hold (46 bytes to the smallest entry), so a count that lies costs no more than the
// directory's real size.
ArchiveHandle OpenArchive(const char* path);

// Index -1: puts the item count in `item.index`. Otherwise describes item `index`.
// `index`, the first byte of `name` and `uncompressedSize` are cleared before any check.
// On a failure the record keeps those cleared fields and whatever else it held.
//
// Items described in ascending order cost one step each; a lower index than the current
// one starts again at the first item. A failed step or unreadable central entry gives
// AR_BAD_CATALOGUE; so does every index from there on, at once, while lower ones are
// reached again from the first item.
//
// Names: drive prefixes and leading separators are dropped, everything up to and
// including the first "\..\", "\../", "/../" or "/..\" (multibyte-aware), then a
// leading "../" or "..\"; repeated until none applies; a name that is then exactly
// ".." becomes empty. So no cleaned name climbs out of the folder it is unpacked into.
// A name flagged as UTF-8 is first converted to the ANSI code page (the platform's
// ansiFromUtf8); one it cannot express gives AR_NAME_NOT_IN_CODE_PAGE. A name of 260
// bytes or more (for a UTF-8 name: after the conversion) gives AR_NAME_TOO_LONG, a name
// with a NUL byte AR_NAME_HAS_NUL.
//
// Sizes and offsets: a central entry's size, local header offset or disk number that
// holds its Zip64 marker (0xFFFFFFFF, 0xFFFF for the disk) is taken from the entry's
// Zip64 extra block, in the format's order; a block too short for them gives
// AR_BAD_CATALOGUE, a size of 4 GiB or more AR_ITEM_TOO_LARGE. A local header whose sizes
// are 0xFFFFFFFF takes them from its own Zip64 block; they must agree with the central
// entry's, and a size the central entry marks must be marked in the local header too
// (or follow the data).
//
// Times: the DOS date and time taken as local time; a date that is no calendar time
// gives FileTime 0 (setFileTimes leaves such a time as it is). The "UT" block of the
// local extra field then overrides: only times that lie wholly inside both the block
// and the field are taken.
ArchiveResult GetArchiveItem(ArchiveHandle handle, int32_t index, ArchiveItem& item);

// As GetArchiveItem, into `item.record`, and says where the item's data lies.
ArchiveResult DescribeArchiveItem(ArchiveHandle handle, int32_t index, DescribedItem& item);

// Unpacks item `index` to `targetPath`, creating every missing folder on the way.
// A null target or an index below 0 gives AR_BAD_ARGUMENT. The item is described first;
// when that fails, its code is the result and nothing is created. A composed path
// longer than 259 characters gives AR_PATH_TOO_LONG before anything is created.
// Separators are found multibyte-aware. An item whose size is 0 is written empty with
// AR_OK and its times. Data that ends before the item's stated size, or whose CRC-32
// does not match, gives AR_INFLATE_FAILED; the file written so far stays, without the
// item's times. Encrypted items are read with the empty password. Data that runs on past
// the stated size is cut there.
ArchiveResult ExtractArchiveItem(ArchiveHandle handle, int32_t index, const char* targetPath);

// Unpacks an item that DescribeArchiveItem described on this handle, as ExtractArchiveItem
// does but without positioning: it touches none of the handle's state but the archive
// file, which it reads at offsets, and the buffers it borrows, so several threads may
// call it at once. The extraction's own calls are ExtractArchiveItem's after its
// description.
ArchiveResult ExtractDescribedItem(ArchiveHandle handle, const DescribedItem& item,
                                   const char* targetPath);

// The stored bytes of item `index`'s name, as the central directory holds them: what
// names an item whose description failed. Handle and index checks as GetArchiveItem's;
// AR_BAD_CATALOGUE when the item's central entry cannot be reached.
ArchiveResult GetArchiveItemStoredName(ArchiveHandle handle, int32_t index, std::string& name);

// The sum of every item's unpacked size, as the central directory gives them (Zip64
// sizes included), walked without reading any item's local header: what unpacking the
// whole archive will write. Handle checks as GetArchiveItem's; AR_BAD_CATALOGUE when an
// entry cannot be reached, `bytes` then holding the sum of those before it. The next
// description starts again at the first item.
ArchiveResult GetArchiveUnpackedSize(ArchiveHandle handle, uint64_t& bytes);

// Makes the folders that ExtractDescribedItem makes for `item` at `targetPath` (for a
// folder item, the folder itself) and nothing else: so that every folder can be made
// before items are unpacked on several threads. AR_OK, or the result that stops the
// extraction before any folder is made (AR_PATH_TOO_LONG, AR_BAD_ARGUMENT,
// AR_WRONG_KIND). Thread and handle as for ExtractDescribedItem.
ArchiveResult MakeItemFolders(ArchiveHandle handle, const DescribedItem& item,
                              const char* targetPath);

// Releases the handle, its reader and the archive file.
ArchiveResult CloseArchive(ArchiveHandle handle);

// True when `handle` is present, its kind is 1 and it has a reader.
bool IsReaderHandle(ArchiveHandle handle);

// Makes sure the folder `path` exists, creating missing levels from the shallowest down.
// `baseFolder` (null, or a text ending in a separator) is put in front of every level
// and is itself created first when missing. A level that would be longer than 259
// characters is neither tested nor created.
void EnsureFolderPath(const char* baseFolder, const char* path);
